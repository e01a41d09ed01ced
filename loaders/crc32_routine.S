@ On-target CRC-32 for Verify: the host loads this image at R and its
@ parameters at R + 0x90, sets PC to R and a breakpoint at R + 0x84 (done),
@ and lets the core run. Nothing else is set up: ARM state, no stack. The
@ routine builds the CRC table in RAM itself, so only these 160 bytes cross
@ the probe.
@
@ CRC-32 as the file side computes it: reflected, polynomial 0xEDB88320
@ (the parameter word), initial value and final complement ~0.
@
@ Parameters (words in the target's byte order):
@   +0x90 flash address   +0x94 byte count   +0x98 block size
@   +0x9C polynomial (committed in the image)
@ Results: one CRC per block of block size bytes (the last one may be short)
@ at R + 0x500, at most 256 of them. The table takes R + 0x100 to R + 0x4FF.
@
@ The image is assembled little-endian; the host writes its words in the
@ target's byte order.
@
@ Register use: r0 flash pointer, r1 bytes left, r7 block size,
@ r8 polynomial, r2 table, r3 result pointer, r4 CRC or table index,
@ r5 bytes of this block or table entry, r6 scratch.

        .syntax unified
        .arm
        .text

        .equ    TABLE, 0x100
        .equ    RESULTS, 0x500
        .equ    POLYNOMIAL, 0xEDB88320

routine:
        ldr     r0, address
        ldr     r1, count
        ldr     r7, block_size
        ldr     r8, polynomial
        adr     r2, table
        add     r3, r2, #RESULTS - TABLE

        @ The table: entry n is n shifted right eight times, the polynomial
        @ folded in after each bit that falls out.
        mov     r4, #0
table_entry:
        mov     r5, r4
        mov     r6, #8
table_bit:
        movs    r5, r5, lsr #1
        eorcs   r5, r5, r8
        subs    r6, r6, #1
        bne     table_bit
        str     r5, [r2, r4, lsl #2]
        add     r4, r4, #1
        cmp     r4, #0x100
        bne     table_entry

        @ One CRC per block; a short last block takes what is left.
block:
        mvn     r4, #0
        mov     r5, r7
        cmp     r1, r5
        movlo   r5, r1
        sub     r1, r1, r5
block_byte:
        ldrb    r6, [r0], #1
        eor     r6, r6, r4
        and     r6, r6, #0xFF
        ldr     r6, [r2, r6, lsl #2]
        eor     r4, r6, r4, lsr #8
        subs    r5, r5, #1
        bne     block_byte
        mvn     r4, r4
        str     r4, [r3], #4
        cmp     r1, #0
        bne     block

done:   b       done                    @ the host's breakpoint

        .org    0x90
address:        .word   0
count:          .word   0
block_size:     .word   0
polynomial:     .word   POLYNOMIAL

        .set    table, routine + TABLE
