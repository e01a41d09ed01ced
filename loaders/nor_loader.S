@ NOR flash loader for parallel flash on an ARM external bus.
@
@ Run protocol: the host loads this image at R, writes the parameter block at
@ R + 0x800 (and for program the data at R + 0x864), sets PC to R and a
@ breakpoint at R + 0x7F8, and lets the core run. Nothing else is set up: no
@ stack, no mode, no state bit. A run ends by reaching R + 0x7F8. A run that
@ cannot end well parks in a loop instead, so the host's time-out reports it;
@ a program run with auto verify on reports a failure through byte 7.
@
@ Parameter block (words in the target's byte order):
@   +0 operation (3 erase, 4 program, 5 protect, 8 device code)
@   +1 cycles used   +2 chip width in bytes   +3 chips side by side
@   +4 mode (0 JEDEC, 1 whole sector, 2 Intel, 3 SST)   +5 auto verify
@   +7 result: 1 = verify or program failure
@   +8 flash start   +12 sector or chunk address   +16 data length
@   +20 ten cycle addresses   +60 ten cycle data (already replicated per chip)
@ Device code: the code read back lands in bytes 4-7 as a word.
@ Stream (9): programs word 16 bytes from word 12 on (both a multiple of
@   4), the data coming through the debug comms channel instead of RAM; see
@   "stream" below.
@
@ Build variants:
@   ARM920T  the image first turns the MMU and caches off (CP15), so command
@            cycles reach the chips and status reads are not served by a cache.
@   -EB      big-endian: only the dual-state entry word differs.
@
@ Register use throughout:
@   r12 parameter block   r11 bus width in bytes (1, 2 or 4)
@   r10 lane replication factor (0x1, 0x101, 0x10001 or 0x1010101)
@   r9  flash start       r8  command set (0 JEDEC, 2 Intel, 3 SST)
@   sp  status wait after each command cycle (0: none); there is no stack
@   r0-r7 scratch as each routine says

        .syntax unified
        .arm
        .text

        .equ    PARAMS, 0x800
        .equ    DONE_AT, 0x7F8
        .equ    OP_ERASE, 3
        .equ    OP_PROGRAM, 4
        .equ    OP_PROTECT, 5
        .equ    OP_DEVICE_CODE, 8
        .equ    OP_STREAM, 9
        .equ    MODE_JEDEC, 0
        .equ    MODE_WHOLE_SECTOR, 1
        .equ    MODE_INTEL, 2
        .equ    MODE_SST, 3
        .equ    DATA, 100               @ data behind the parameter block
        .equ    SR_ERRORS, 0x3A         @ Intel SR5 erase, SR4 program, SR3 Vpp, SR1 locked
        .equ    ERASE_TABLE, DATA + 4   @ stream: erase cycles and sectors, behind the word
        .equ    MAX_ERASE_SECTORS, 230  @ what fits the 1 KiB data area
        .equ    STREAM_ERASED, 0x45524153

@ Bus access of the flash's width: b = 1, 2 or 4 bytes.
        .macro  BUS_READ dst, addr
        cmp     r11, #2
        ldrblo  \dst, [\addr]
        ldrheq  \dst, [\addr]
        ldrhi   \dst, [\addr]
        .endm

        .macro  BUS_WRITE val, addr
        cmp     r11, #2
        strblo  \val, [\addr]
        strheq  \val, [\addr]
        strhi   \val, [\addr]
        .endm

@ A command byte replicated over every chip's lane.
        .macro  COMMAND dst, byte
        mov     \dst, #\byte
        mul     \dst, r10, \dst
        .endm

@ --------------------------------------------------------------- entry
@ The core may have been halted in THUMB state. The first word is harmless
@ as an ARM instruction and, read as THUMB, leads into ARM state.
entry:
.ifdef BIG_ENDIAN
        and     r0, r2, r0              @ THUMB view (high half first): b entry + 8
.else
        mov     r4, r8, ror r7          @ THUMB view (low half first): bx pc
.endif
        b       arm_start
        .thumb
        bx      pc                      @ big-endian THUMB entry lands here
        nop
        .arm
arm_start:
        mrs     r0, cpsr
        orr     r0, r0, #0xC0           @ IRQ and FIQ off: the vectors may be ours or flash
        msr     cpsr_c, r0
.ifdef ARM920T
        @ ARM920T: clean and invalidate the 16 KiB data cache by index
        @ (8 segments of 64 lines), drain the write buffer, then turn the
        @ MMU, data cache and instruction cache off and invalidate them.
        mov     r1, #0                  @ index in bits 31-26, segment in bits 7-5
1:      mcr     p15, 0, r1, c7, c14, 2
        adds    r1, r1, #0x04000000
        bcc     1b
        add     r1, r1, #0x20
        cmp     r1, #0x100
        blo     1b
        mov     r0, #0
        mcr     p15, 0, r0, c7, c10, 4
        mrc     p15, 0, r0, c1, c0, 0
        bic     r0, r0, #0x1000         @ I
        bic     r0, r0, #0x0005         @ C, M
        mcr     p15, 0, r0, c1, c0, 0
        mov     r0, #0
        mcr     p15, 0, r0, c7, c7, 0
        mcr     p15, 0, r0, c8, c7, 0
        nop
        nop
.endif
        adr     r12, entry
        add     r12, r12, #PARAMS

        @ Bus width and lane replication from chip width and chip count.
        ldrb    r0, [r12, #2]           @ chip width in bytes
        ldrb    r1, [r12, #3]           @ chips
        cmp     r0, #1
        cmpne   r0, #2
        cmpne   r0, #4
        bne     park
        cmp     r1, #1
        cmpne   r1, #2
        cmpne   r1, #4
        bne     park
        mul     r11, r1, r0
        cmp     r11, #4
        bhi     park                    @ no factor for wider buses
        mov     r10, #1
        mov     r2, r0, lsl #3          @ lane width in bits
        mov     r3, r2
2:      subs    r1, r1, #1
        beq     3f
        orr     r10, r10, r10, lsl r3   @ one more chip's lane
        b       2b
3:      ldr     r9, [r12, #8]

        ldrb    r0, [r12, #0]
        cmp     r0, #OP_DEVICE_CODE
        beq     device_code
        bl      resolve_mode
        cmp     r0, #OP_ERASE
        beq     erase
        cmp     r0, #OP_PROGRAM
        beq     program
        cmp     r0, #OP_PROTECT
        beq     protect
        cmp     r0, #OP_STREAM
        beq     stream
        b       park

@ r8 := the command set for this run; parks when this loader has none for
@ the mode. Whole-sector mode picks the set from the first cycle: no unlock
@ cycle (0xAA) means Intel, a first unlock at 0x5555 means SST, else JEDEC.
@ Keeps r0.
resolve_mode:
        ldrb    r8, [r12, #4]
        cmp     r8, #MODE_WHOLE_SECTOR
        bne     2f
        mov     r8, #MODE_INTEL
        ldr     r1, [r12, #60]
        and     r1, r1, #0xFF
        cmp     r1, #0xAA
        bxne    lr
        mov     r8, #MODE_SST
        ldr     r1, [r12, #20]
        sub     r1, r1, r9
        mov     r2, r11, lsr #1         @ log2 of the bus width
        mov     r1, r1, lsr r2
        ldr     r2, =0x5555
        cmp     r1, r2
        movne   r8, #MODE_JEDEC
        bx      lr
2:      cmp     r8, #MODE_JEDEC
        cmpne   r8, #MODE_INTEL
        cmpne   r8, #MODE_SST
        bne     park
        bx      lr

@ --------------------------------------------------------------- erase
erase:
        ldr     r0, [r12, #12]
        mov     r1, #0
        cmp     r8, #MODE_INTEL
        bleq    intel_unlock
        cmp     r1, #0
        bne     failed
        bl      select_cycle_wait
        mov     r4, r9
        bl      write_cycles
        cmp     r1, #0
        bne     failed
        bl      erased_value
        mov     r3, r1
        ldr     r0, [r12, #12]
        bl      wait_done
        cmp     r1, #0
        bne     failed
        bl      read_array
        b       finish
@ The sector or chip did not finish well: chips back to reading, then park.
failed:
        ldr     r0, [r12, #12]
        bl      chip_reset
        b       park

@ --------------------------------------------------------------- program
@ r4 walks the chunk; the source is found again from r4 each time because
@ the cycle writer uses every other register.
program:
        ldr     r4, [r12, #12]
        mov     r1, #0
        mov     r0, r4
        cmp     r8, #MODE_INTEL
        bleq    intel_unlock
        cmp     r1, #0
        bne     program_failed
        bl      select_cycle_wait
1:      ldr     r0, [r12, #12]
        ldr     r1, [r12, #16]
        add     r1, r0, r1
        cmp     r4, r1
        bhs     program_done
        sub     r0, r4, r0
        add     r0, r0, r12
        add     r0, r0, #DATA
        BUS_READ r3, r0                 @ RAM read of the bus width
        bl      erased_value
        cmp     r3, r1
        beq     2f                      @ all ones: nothing to program
        bl      write_cycles            @ keeps r3 and r4
        cmp     r1, #0
        bne     program_failed
        BUS_WRITE r3, r4
        mov     r0, r4
        bl      wait_done               @ keeps r3 and r4
        cmp     r1, #0
        bne     program_failed
2:      add     r4, r4, r11
        b       1b
program_done:
        ldr     r0, [r12, #12]
        bl      read_array
        ldrb    r0, [r12, #5]
        cmp     r0, #0
        beq     finish
        @ Auto verify: the whole chunk against the data in RAM.
        ldr     r4, [r12, #12]
        ldr     r5, [r12, #16]
        add     r6, r12, #DATA
3:      subs    r5, r5, r11
        bmi     finish
        BUS_READ r1, r4
        BUS_READ r2, r6
        add     r4, r4, r11
        add     r6, r6, r11
        cmp     r1, r2
        beq     3b
        mov     r0, #1
        strb    r0, [r12, #7]
        b       finish
program_failed:
        mov     r0, r4
        bl      chip_reset
        mov     r0, #1
        strb    r0, [r12, #7]
        ldrb    r0, [r12, #5]
        cmp     r0, #0
        bne     finish                  @ the host reads the result byte
        b       park                    @ else only its time-out can tell

@ --------------------------------------------------------------- stream
@ The debug comms channel (ARM7TDMI/ARM9TDMI TRM, debug communications
@ channel): c0 of CP14 holds R (bit 0: a word from the host waits) and W
@ (bit 1: our word has not been read); c1 is the data. A stale host word
@ is dropped first, then the run sends the length (word 16) as its ready
@ word, and the host streams the data a word at a time. Each word lands in
@ the data area and is programmed from there access by access, as program
@ does; an Intel block found locked is unlocked once and the access tried
@ again. The run ends by sending 0 (every word programmed), 1 (a word
@ failed) or 2 (a sector did not erase; byte 7 := 1 and word 16 := the
@ failing address as well, the chips reset) and reaching done.
stream:
        mrc     p14, 0, r0, c0, c0, 0
        tst     r0, #1
        mrcne   p14, 0, r0, c1, c0, 0   @ a word left from an earlier run
        ldr     r0, [r12, #16]
        mcr     p14, 0, r0, c1, c0, 0   @ ready
        ldrb    r0, [r12, #6]
        cmp     r0, #0
        beq     stream_program
        @ Byte 6 set: the sectors are erased first. The host sends the erase
        @ cycles (count, ten addresses, ten data; the sector address cycle at
        @ the flash start), the sector count and the sector addresses; the
        @ run answers STREAM_ERASED when every one is erased.
        add     r6, r12, #ERASE_TABLE
        mov     r4, #0
1:      bl      take_word
        str     r0, [r6, r4, lsl #2]
        add     r4, r4, #1
        cmp     r4, #22
        blo     1b
        ldr     r1, [r6, #84]
        cmp     r1, #MAX_ERASE_SECTORS
        bhi     park
        add     r1, r1, #22
2:      cmp     r4, r1
        bhs     stream_erase
        bl      take_word
        str     r0, [r6, r4, lsl #2]
        add     r4, r4, #1
        b       2b
stream_erase:
        add     r6, r12, #ERASE_TABLE
        ldr     r0, [r6, #84]           @ sectors left
        subs    r0, r0, #1
        bmi     stream_erased
        str     r0, [r6, #84]
        add     r1, r6, #88
        ldr     r4, [r1, r0, lsl #2]
        mov     r1, #0
        mov     r0, r4
        cmp     r8, #MODE_INTEL
        bleq    intel_unlock
        cmp     r1, #0
        bne     stream_erase_failed
        bl      select_cycle_wait
        add     r6, r12, #ERASE_TABLE
        ldr     r5, [r6], #4
        bl      write_cycles_from
        cmp     r1, #0
        bne     stream_erase_failed
        bl      erased_value
        mov     r3, r1
        mov     r0, r4
        bl      wait_done
        cmp     r1, #0
        bne     stream_erase_failed
        mov     r0, r4
        bl      read_array
        b       stream_erase
stream_erased:
        ldr     r0, =STREAM_ERASED
        bl      give_word
stream_program:
        ldr     r4, [r12, #12]
        bl      select_cycle_wait
stream_word:
        ldr     r0, [r12, #12]
        ldr     r1, [r12, #16]
        add     r1, r0, r1
        cmp     r4, r1
        bhs     stream_done
        bl      take_word
        str     r0, [r12, #DATA]
stream_access:
        and     r0, r4, #3
        add     r0, r0, r12
        add     r0, r0, #DATA
        BUS_READ r3, r0
        bl      erased_value
        cmp     r3, r1
        beq     3f                      @ all ones: nothing to program
        bl      write_cycles            @ keeps r3 and r4
        cmp     r1, #0
        bne     stream_failed
        BUS_WRITE r3, r4
        mov     r0, r4
        bl      wait_done               @ keeps r3 and r4
        cmp     r1, #0
        beq     3f
        cmp     r8, #MODE_INTEL
        bne     stream_failed
        tst     r1, r10, lsl #1         @ SR1: the block is locked
        beq     stream_failed
        COMMAND r1, 0x50
        BUS_WRITE r1, r4
        mov     r0, r4
        bl      intel_unlock
        cmp     r1, #0
        bne     stream_failed
        bl      write_cycles
        cmp     r1, #0
        bne     stream_failed
        BUS_WRITE r3, r4
        mov     r0, r4
        bl      wait_done
        cmp     r1, #0
        bne     stream_failed
3:      add     r4, r4, r11
        tst     r4, #3
        bne     stream_access
        b       stream_word
stream_done:
        ldr     r0, [r12, #12]
        bl      read_array
        mov     r0, #0
        b       2f
stream_erase_failed:
        mov     r5, #2
        b       1f
stream_failed:
        mov     r5, #1
1:      mov     r0, r4
        bl      chip_reset
        mov     r0, #1
        strb    r0, [r12, #7]
        str     r4, [r12, #16]          @ where it failed, for the host's line
        mov     r0, r5
2:      bl      give_word
        b       finish

@ r0 := the next word from the host. Uses only r0.
take_word:
        mrc     p14, 0, r0, c0, c0, 0
        tst     r0, #1
        beq     take_word
        mrc     p14, 0, r0, c1, c0, 0
        bx      lr

@ Sends r0 once the host has read the word before. Uses r1.
give_word:
        mrc     p14, 0, r1, c0, c0, 0
        tst     r1, #2
        bne     give_word
        mcr     p14, 0, r0, c1, c0, 0
        bx      lr

@ --------------------------------------------------------------- protect
@ Every cycle is followed by a status wait: protection commands start
@ embedded operations in the middle of their sequences.
protect:
        adr     sp, wait_toggle
        cmp     r8, #MODE_INTEL
        adreq   sp, wait_ready
        mov     r4, r9
        bl      write_cycles
        cmp     r1, #0
        bne     failed
        ldr     r0, [r12, #12]
        bl      read_array
        b       finish

@ --------------------------------------------------------------- device code
@ Writes the cycles (identifier entry, or its exit) and reads the device
@ code at chip address 1, or 2 for an x8/x16 part on a byte bus (its byte
@ address of word 1), into bytes 4-7.
device_code:
        mov     r8, #MODE_JEDEC
        mov     sp, #0
        mov     r4, r9
        bl      write_cycles
        mov     r0, #1
        ldrb    r1, [r12, #2]
        ldrb    r2, [r12, #1]
        cmp     r1, #1
        bne     2f                      @ chips wider than a byte
        cmp     r2, #0
        beq     2f                      @ no cycles: nothing tells
        ldr     r1, [r12, #60]
        and     r1, r1, #0xFF
        cmp     r1, #0xAA
        movne   r0, #2                  @ Intel: no unlock, an x8/x16 part
        ldr     r1, [r12, #20]
        sub     r1, r1, r9
        mov     r2, r11, lsr #1
        mov     r1, r1, lsr r2
        ldr     r2, =0xAAA
        cmp     r1, r2
        moveq   r0, #2                  @ JEDEC byte-mode unlock at 0xAAA
2:      mla     r0, r11, r0, r9
        BUS_READ r1, r0
        str     r1, [r12, #4]
        b       finish

@ --------------------------------------------------------------- routines

@ Writes the block's command cycles in order. A cycle at the flash start
@ goes to r4 instead (the address being programmed; r4 = r9 elsewhere).
@ After each cycle, when sp is set, calls that status wait.
@ Out: r1 = 0, or nonzero when a wait failed. Uses r0-r2, r5-r7.
write_cycles:
        ldrb    r5, [r12, #1]
        add     r6, r12, #20
@ The same from another table: r5 cycles, r6 ten addresses then ten data.
write_cycles_from:
        mov     r7, lr
        cmp     r5, #10
        movhi   r5, #10
1:      subs    r5, r5, #1
        bmi     2f
        ldr     r0, [r6], #4
        ldr     r1, [r6, #36]           @ the matching data slot, 40 bytes on
        cmp     r0, r9
        moveq   r0, r4
        BUS_WRITE r1, r0
        cmp     sp, #0
        beq     1b
        mov     lr, pc
        mov     pc, sp
        cmp     r1, #0
        beq     1b
        mov     pc, r7
2:      mov     r1, #0
        mov     pc, r7

@ sp := the wait after each command cycle: Intel chips report every cycle
@ in their status register; JEDEC and SST cycles need none.
select_cycle_wait:
        mov     sp, #0
        cmp     r8, #MODE_INTEL
        adreq   sp, wait_ready
        bx      lr

@ Waits for the end of an embedded operation at r0 by the command set:
@ JEDEC data polling against r3, Intel status, SST toggle followed by one
@ read against r3 (SST chips have no failure bit: the array tells).
@ Out: r1 = 0 done, nonzero failed. Uses r2, r5-r7.
wait_done:
        cmp     r8, #MODE_INTEL
        beq     wait_ready
        cmp     r8, #MODE_SST
        bne     wait_data
        mov     r5, lr
        bl      wait_toggle
        cmp     r1, #0
        movne   pc, r5
        BUS_READ r1, r0
        eors    r1, r1, r3
        mov     pc, r5

@ DQ7 data polling at r0 for the value r3, lane by lane. DQ5 on a lane
@ whose DQ7 is still wrong means the chip exceeded its time: read once
@ more, and if DQ7 is still wrong the operation failed. Between two polls
@ four long multiplies back off for 24 cycles (0.4 us at 60 MHz, against a
@ word's 10 us or so): fewer flash reads and instructions while a word
@ programs. Out: r1 = 0 done, nonzero failed. Uses r2, r5-r7.
wait_data:
1:      BUS_READ r1, r0
        eor     r2, r1, r3
        ands    r2, r2, r10, lsl #7     @ lanes still busy
        moveq   r1, #0
        bxeq    lr
        tst     r1, r2, lsr #2          @ their DQ5
        bne     2f
        mla     r5, r6, r12, r7         @ back-off: r12 has high bits set,
        mla     r5, r6, r12, r7         @ so each takes its longest
        mla     r5, r6, r12, r7
        mla     r5, r6, r12, r7
        b       1b
2:      BUS_READ r1, r0
        eor     r2, r1, r3
        ands    r1, r2, r10, lsl #7
        bx      lr

@ Toggle-bit polling at r0: done when two reads agree on DQ6 in every lane.
@ JEDEC chips also report a time-out on DQ5 (two more reads decide); SST
@ chips have no DQ5. Out: r1 = 0 done, nonzero failed. Uses r2.
wait_toggle:
1:      BUS_READ r1, r0
        BUS_READ r2, r0
        eor     r1, r1, r2
        ands    r1, r1, r10, lsl #6     @ lanes still toggling
        bxeq    lr
        cmp     r8, #MODE_SST
        beq     1b
        tst     r2, r1, lsr #1          @ their DQ5
        beq     1b
        BUS_READ r1, r0
        BUS_READ r2, r0
        eor     r1, r1, r2
        ands    r1, r1, r10, lsl #6
        bx      lr

@ Intel status at r0: waits for SR7 in every lane, then fails on any of
@ the error bits. Out: r1 = 0 done, else the error bits. Uses r2.
wait_ready:
1:      BUS_READ r1, r0
        and     r2, r1, r10, lsl #7
        cmp     r2, r10, lsl #7
        bne     1b
        mov     r2, #SR_ERRORS
        mul     r2, r10, r2
        ands    r1, r1, r2
        bx      lr

@ Intel: clears the lock bit of the block at r0 (0x60, 0xD0).
@ Out: r1 = 0 done, else the error bits. Uses r2, r5, r7.
intel_unlock:
        mov     r7, lr
        COMMAND r5, 0x60
        BUS_WRITE r5, r0
        COMMAND r5, 0xD0
        BUS_WRITE r5, r0
        bl      wait_ready
        mov     pc, r7

@ Intel chips back to read array at r0 (others read the array already).
@ Uses r1.
read_array:
        cmp     r8, #MODE_INTEL
        bxne    lr
        COMMAND r1, 0xFF
        BUS_WRITE r1, r0
        bx      lr

@ After a failure: JEDEC and SST chips reset (0xF0, the only way out after
@ DQ5), Intel chips clear status (0x50) and read the array. Uses r1.
chip_reset:
        cmp     r8, #MODE_INTEL
        beq     1f
        COMMAND r1, 0xF0
        BUS_WRITE r1, r0
        bx      lr
1:      COMMAND r1, 0x50
        BUS_WRITE r1, r0
        COMMAND r1, 0xFF
        BUS_WRITE r1, r0
        bx      lr

@ r1 := the erased value of one bus access (all ones).
erased_value:
        mvn     r1, #0
        cmp     r11, #2
        movlo   r1, #0xFF
        moveq   r1, r1, lsr #16
        bx      lr

@ A run that cannot end well stays here until the host's time-out.
park:
        b       park

finish:
        b       done

        .ltorg

        .org    DONE_AT, 0xFF
@ The host's breakpoint: reaching this address ends the run.
done:
        b       done
