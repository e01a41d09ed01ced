@ NAND flash loader for the S3C2410 and S3C2440 NAND controllers (built once
@ for each: S3C2440 defined selects the S3C2440's registers).
@
@ Run protocol of the 3072-byte family: image at R, parameter block at
@ R + 0xC00, 4096 data bytes at R + 0xC64; the run ends by reaching
@ R + 0xBF8, where the host has its breakpoint. A run that cannot end well
@ parks in a loop, so the host's time-out reports it; a failed program run
@ with auto verify on reports through byte 7.
@
@ Parameter block:
@   +0 operation: 13 erase, 14 program, 15 check block, 16 upload,
@      17 verify (read back for the host), 18 device code
@   +5 auto verify   +7 result: 1 = program or verify failure
@   +8 flash start   +12 chunk address (flash start + byte offset in the chip)
@   +20 first block, +24 last block (erase, check block)
@   +60 page size in bytes, +64 pages per block (erase, check block)
@ Results: check block puts the group's bad-block mask (bit 0 = first block)
@ at +20; device code puts maker x 256 + device at +4.
@
@ Pages of 512 bytes are small-page chips (one column cycle, area pointers
@ 0x00/0x50), of 2048 large-page ones (two column cycles, read confirm 0x30).
@ Row cycles come from the device code: three for small-page chips over
@ 32 MB, two for 1 Gbit large-page chips. Factory bad blocks (a spare byte
@ of their first two pages not 0xFF) are reported by check block and never
@ erased, so their marks survive; program, upload and verify go where the
@ host sends them.
@
@ Register use: r11 = R, r8 parameter block, r7 the NAND controller, r9 page
@ size, r10 row cycles, sp a stack inside the image area's padding; r0-r6
@ and r12 scratch as each routine says.

        .syntax unified
        .arm
        .text

        .include "loader_frame.inc"
        .equ    PARAMS, 0xC00
        .equ    DONE_AT, 0xBF8
        .equ    DATA_OFFSET, 100        @ data behind the parameter block
        .equ    STACK_TOP, 0xB00        @ a small stack in the image area's padding
        .equ    CHUNK, 4096
        .equ    OP_ERASE, 13
        .equ    OP_PROGRAM, 14
        .equ    OP_CHECK_BLOCK, 15
        .equ    OP_UPLOAD, 16
        .equ    OP_VERIFY, 17
        .equ    OP_DEVICE_CODE, 18
        .equ    CONTROLLER, 0x4E000000
.ifdef S3C2440
        .equ    NFCONT, 0x04
        .equ    NFCMD, 0x08
        .equ    NFADDR, 0x0C
        .equ    NFDATA, 0x10
        .equ    NFSTAT, 0x20
        .equ    CONT_ON, 0x1            @ controller mode on
        .equ    CONT_NCE, 0x2           @ nCE high
        .equ    CONT_LOCK, 0x1000       @ soft lock
.else
        .equ    NFCONF, 0x00
        .equ    NFCMD, 0x04
        .equ    NFADDR, 0x08
        .equ    NFDATA, 0x0C
        .equ    NFSTAT, 0x10
        .equ    CONF_ON, 0x8000         @ controller enable
        .equ    CONF_OFF_BITS, 0x800    @ nFCE high
.endif
        .equ    READY_POLLS, 0x100000   @ far beyond a block erase
        .equ    STATUS_FAIL, 0x1

        LOADER_ENTRY

start:
        @ MMU and caches off, so every controller access reaches it.
        mrc     p15, 0, r0, c1, c0, 0
        bic     r0, r0, #0x1000         @ I
        bic     r0, r0, #0x0005         @ C, M
        mcr     p15, 0, r0, c1, c0, 0
        adr     r11, entry
        add     r8, r11, #PARAMS
        add     sp, r11, #STACK_TOP
        ldr     r7, =CONTROLLER
.ifdef S3C2440
        ldr     r0, [r7, #NFCONT]
        orr     r0, r0, #CONT_ON
        bic     r0, r0, #CONT_NCE
        bic     r0, r0, #CONT_LOCK
        str     r0, [r7, #NFCONT]
.else
        ldr     r0, [r7, #NFCONF]
        orr     r0, r0, #CONF_ON
        bic     r0, r0, #CONF_OFF_BITS
        str     r0, [r7, #NFCONF]
.endif
        mov     r0, #0xFF               @ reset
        bl      command
        bl      wait_ready
        mov     r0, #0x90               @ read ID
        bl      command
        mov     r0, #0
        strb    r0, [r7, #NFADDR]
        ldrb    r4, [r7, #NFDATA]       @ maker
        ldrb    r5, [r7, #NFDATA]       @ device
        @ The device code needs no geometry: the host sends none with it.
        ldrb    r0, [r8]
        cmp     r0, #OP_DEVICE_CODE
        beq     device_code
        ldr     r9, [r8, #60]
        cmp     r9, #512
        bne     large_page_rows
        mov     r10, #2
        cmp     r5, #0x76               @ 64 MB
        cmpne   r5, #0x79               @ 128 MB
        cmpne   r5, #0x36               @ 64 MB, 1.8 V
        cmpne   r5, #0x78               @ 128 MB, 1.8 V
        moveq   r10, #3
        b       dispatch
large_page_rows:
        cmp     r9, #2048
        bne     park
        mov     r10, #3
        cmp     r5, #0xF1               @ 1 Gbit
        cmpne   r5, #0xA1               @ 1 Gbit, 1.8 V
        moveq   r10, #2
dispatch:
        ldrb    r0, [r8]
        cmp     r0, #OP_ERASE
        beq     erase
        cmp     r0, #OP_CHECK_BLOCK
        beq     check_block
        cmp     r0, #OP_PROGRAM
        beq     program
        cmp     r0, #OP_UPLOAD
        beq     read_chunk
        cmp     r0, #OP_VERIFY
        beq     read_chunk
        PARK_AND_DONE

@ --------------------------------------------------------------- bus cycles
@ Command byte r0.
command:
        strb    r0, [r7, #NFCMD]
        bx      lr

@ Column r0: one cycle, or two for large pages. Clobbers r0.
column_address:
        strb    r0, [r7, #NFADDR]
        cmp     r9, #512
        movhi   r0, r0, lsr #8
        strbhi  r0, [r7, #NFADDR]
        bx      lr

@ Row (page) r0 in r10 cycles. Clobbers r0, r1.
row_address:
        mov     r1, r10
row_cycle:
        strb    r0, [r7, #NFADDR]
        mov     r0, r0, lsr #8
        subs    r1, r1, #1
        bne     row_cycle
        bx      lr

@ Waits for R/nB; parks when it never comes. Clobbers r0, r1.
wait_ready:
        ldr     r1, =READY_POLLS
ready_poll:
        ldr     r0, [r7, #NFSTAT]
        tst     r0, #1
        bxne    lr
        subs    r1, r1, #1
        bne     ready_poll
        b       park

@ Reads the status register; Z clear when the last operation failed.
@ Clobbers r0.
status_failed:
        mov     r0, #0x70
        strb    r0, [r7, #NFCMD]
        ldrb    r0, [r7, #NFDATA]
        tst     r0, #STATUS_FAIL
        bx      lr

@ Starts reading page r2 at column r3 and waits for the data.
@ Clobbers r0, r1.
read_open:
        push    {lr}
        cmp     r9, #512
        bne     read_open_large
        cmp     r3, #512                @ small pages: the spare area is area C
        movlo   r0, #0x00
        movhs   r0, #0x50
        strb    r0, [r7, #NFCMD]
        mov     r0, r3
        subhs   r0, r0, #512
        bl      column_address
        mov     r0, r2
        bl      row_address
        bl      wait_ready
        pop     {pc}
read_open_large:
        mov     r0, #0x00
        strb    r0, [r7, #NFCMD]
        mov     r0, r3
        bl      column_address
        mov     r0, r2
        bl      row_address
        mov     r0, #0x30
        strb    r0, [r7, #NFCMD]
        bl      wait_ready
        pop     {pc}

@ r0 := 1 when block r4 carries a factory bad-block mark, else 0.
@ Clobbers r0-r3, r12.
block_bad:
        push    {lr}
        ldr     r12, [r8, #64]          @ pages per block
        mul     r2, r4, r12
        mov     r3, r9                  @ the marker: spare byte 0 (large) or 5 (small)
        cmp     r9, #512
        addeq   r3, r3, #5
        bl      read_open
        ldrb    r0, [r7, #NFDATA]
        cmp     r0, #0xFF
        bne     block_is_bad
        add     r2, r2, #1              @ the second page
        bl      read_open
        ldrb    r0, [r7, #NFDATA]
        cmp     r0, #0xFF
        bne     block_is_bad
        mov     r0, #0
        pop     {pc}
block_is_bad:
        mov     r0, #1
        pop     {pc}

@ First page of the chunk (in r4) and the data pointer (in r5).
chunk_start:
        ldr     r0, [r8, #12]
        ldr     r1, [r8, #8]
        sub     r0, r0, r1              @ byte offset in the chip
        mov     r1, r9
page_shift:
        movs    r1, r1, lsr #1
        beq     page_found
        mov     r0, r0, lsr #1
        b       page_shift
page_found:
        mov     r4, r0
        add     r5, r8, #DATA_OFFSET
        bx      lr

@ Moves r9 bytes between the data register and r5 (r5 advances).
@ Clobbers r0, r1.
read_page_data:
        mov     r1, r9
read_data:
.ifdef S3C2440
        ldr     r0, [r7, #NFDATA]       @ four bytes a word access
        str     r0, [r5], #4
        subs    r1, r1, #4
.else
        ldrb    r0, [r7, #NFDATA]
        strb    r0, [r5], #1
        subs    r1, r1, #1
.endif
        bne     read_data
        bx      lr

write_page_data:
        mov     r1, r9
write_data:
.ifdef S3C2440
        ldr     r0, [r5], #4
        str     r0, [r7, #NFDATA]
        subs    r1, r1, #4
.else
        ldrb    r0, [r5], #1
        strb    r0, [r7, #NFDATA]
        subs    r1, r1, #1
.endif
        bne     write_data
        bx      lr

@ --------------------------------------------------------------- device code
device_code:
        orr     r0, r5, r4, lsl #8
        str     r0, [r8, #4]
        b       done

@ --------------------------------------------------------------- erase
erase:
        ldr     r4, [r8, #20]
        ldr     r6, [r8, #24]
erase_block:
        cmp     r4, r6
        bhi     done
        bl      block_bad
        cmp     r0, #0
        bne     erase_next              @ keep the factory mark
        mov     r0, #0x60
        bl      command
        ldr     r12, [r8, #64]
        mul     r0, r4, r12
        bl      row_address
        mov     r0, #0xD0
        bl      command
        bl      wait_ready
        bl      status_failed
        bne     park
erase_next:
        add     r4, r4, #1
        b       erase_block

@ --------------------------------------------------------------- check block
check_block:
        ldr     r4, [r8, #20]
        ldr     r6, [r8, #24]
        mov     r5, #0                  @ the mask
        mov     r12, #1
check_next:
        cmp     r4, r6
        bhi     check_done
        push    {r12}
        bl      block_bad
        pop     {r12}
        cmp     r0, #0
        orrne   r5, r5, r12
        mov     r12, r12, lsl #1
        add     r4, r4, #1
        b       check_next
check_done:
        str     r5, [r8, #20]
        b       done

@ --------------------------------------------------------------- upload, verify
read_chunk:
        bl      chunk_start
        add     r6, r5, #CHUNK
read_next:
        cmp     r5, r6
        bhs     done
        mov     r2, r4
        mov     r3, #0
        bl      read_open
        bl      read_page_data
        add     r4, r4, #1
        b       read_next

@ --------------------------------------------------------------- program
@ Pages whose data is all ones are left as they are (erased).
program:
        bl      chunk_start
        add     r6, r5, #CHUNK
program_next:
        cmp     r5, r6
        bhs     program_done
        mov     r1, #0
all_ones:
        ldr     r0, [r5, r1]
        cmn     r0, #1
        bne     program_page
        add     r1, r1, #4
        cmp     r1, r9
        blo     all_ones
        add     r5, r5, r9
        b       program_page_done
program_page:
        mov     r0, #0x00               @ small pages: from area A
        bl      command
        mov     r0, #0x80
        bl      command
        mov     r0, #0
        bl      column_address
        mov     r0, r4
        bl      row_address
        bl      write_page_data
        mov     r0, #0x10
        bl      command
        bl      wait_ready
        bl      status_failed
        bne     program_failed
program_page_done:
        add     r4, r4, #1
        b       program_next

program_done:
        ldrb    r0, [r8, #5]
        cmp     r0, #0
        beq     done
        @ Read every page back and compare it with the data as it comes.
        bl      chunk_start
        add     r6, r5, #CHUNK
verify_page:
        cmp     r5, r6
        bhs     done
        mov     r2, r4
        mov     r3, #0
        bl      read_open
        mov     r3, r9
compare_data:
.ifdef S3C2440
        ldr     r0, [r7, #NFDATA]
        ldr     r1, [r5], #4
        subs    r3, r3, #4
.else
        ldrb    r0, [r7, #NFDATA]
        ldrb    r1, [r5], #1
        subs    r3, r3, #1
.endif
        cmp     r0, r1
        bne     program_failed
        cmp     r3, #0
        bne     compare_data
        add     r4, r4, #1
        b       verify_page

program_failed:
        REPORT_PROGRAM_FAILURE

        .ltorg
