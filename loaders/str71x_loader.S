@ STR71x on-chip flash loader: erases sectors, programs double words and
@ sets write protection through the flash interface at 0x40100000.
@
@ Run protocol as every loader of the 2048-byte family: image at R, block at
@ R + 0x800, data at R + 0x864, the run ends by reaching R + 0x7F8; a run
@ that cannot end well parks in a loop for the host's time-out; a failed
@ program run with auto verify on reports through byte 7.
@
@ Parameter block:
@   +0 operation (3 erase, 4 program, 5 protect, 8 device code)
@   +5 auto verify   +7 result: 1 = program or verify failure
@   +12 sector or chunk address (bank 0 from 0x40000000, bank 1 from
@       0x400C0000)   +16 chunk length
@ Device code: the STR71x has no identification register on its bus; bytes
@ 4-7 are cleared, the code the flash database lists for it.
@
@ Every operation follows the flash programming manual: select it in
@ FLASH_CR0 (and the sectors in FLASH_CR1), load FLASH_AR and the data
@ registers, set WMS, wait for LOCK to drop, then read FLASH_ER.
@
@ Register use: r11 = R, r8 parameter block, r7 the flash interface; r0-r6
@ scratch.

        .syntax unified
        .arm
        .text

        .include "loader_frame.inc"
        FIRST_FAMILY_LAYOUT
        .equ    FLASH, 0x40000000
        .equ    FLASH_REGS, 0x40100000
        .equ    CR0, 0x00
        .equ    CR1, 0x04
        .equ    DR0, 0x08
        .equ    DR1, 0x0C
        .equ    AR, 0x10
        .equ    ER, 0x14
        .equ    NVWPAR, 0x4010DFB0
        .equ    WMS, 0x80000000
        .equ    DWPG, 0x10000000
        .equ    SER, 0x08000000
        .equ    SPR, 0x01000000
        .equ    LOCK, 0x10
        .equ    LOCK_POLLS, 0x800000    @ far beyond the longest sector erase

        LOADER_ENTRY

start:
        adr     r11, entry
        add     r8, r11, #PARAMS
        ldr     r7, =FLASH_REGS
        DISPATCH_OPERATION protect
        PARK_AND_DONE

@ Sector start offsets of bank 0 (bits 0-7 of CR1 and NVWPAR), then bank 1
@ (bits 16-17); the list ends with all ones.
sector_table:
        .word   0x00000, 0x02000, 0x04000, 0x06000, 0x08000, 0x10000, 0x20000, 0x30000
        .word   0xC0000, 0xC2000, 0xFFFFFFFF

@ The sector bit (a mask) of the sector starting at address r0, in r0;
@ parks on an address that starts no sector.
sector_bit:
        sub     r0, r0, #FLASH
        adr     r1, sector_table
        mov     r2, #1
sector_next:
        ldr     r3, [r1], #4
        cmn     r3, #1
        beq     park
        cmp     r3, r0
        moveq   r0, r2
        bxeq    lr
        mov     r2, r2, lsl #1
        cmp     r2, #0x100
        moveq   r2, #0x10000            @ bank 1 bits
        b       sector_next

@ Starts the operation in r0 (CR0 bits) and waits for LOCK to drop.
@ Returns r0 = FLASH_ER, Z set when no error bit is.
start_operation:
        orr     r0, r0, #WMS
        str     r0, [r7, #CR0]
        ldr     r1, =LOCK_POLLS
wait_lock:
        ldr     r0, [r7, #CR0]
        tst     r0, #LOCK
        beq     operation_ended
        subs    r1, r1, #1
        bne     wait_lock
        b       park
operation_ended:
        ldr     r0, [r7, #ER]
        cmp     r0, #0
        bx      lr

@ --------------------------------------------------------------- erase
erase:
        ldr     r0, [r8, #12]
        bl      sector_bit
        mov     r4, r0
        mov     r0, #0
        str     r0, [r7, #ER]
        mov     r0, #SER
        str     r0, [r7, #CR0]
        str     r4, [r7, #CR1]
        bl      start_operation
        bne     park
        b       done

@ --------------------------------------------------------------- program
@ Double words, skipping those that are all ones (erased cells stay so).
program:
        ldr     r4, [r8, #12]
        ldr     r6, [r8, #16]
        add     r6, r6, r4              @ end of the chunk
        add     r5, r8, #DATA - PARAMS
program_pair:
        cmp     r4, r6
        bhs     program_done
        ldmia   r5!, {r2, r3}
        and     r0, r2, r3
        cmn     r0, #1
        beq     program_next
        mov     r0, #0
        str     r0, [r7, #ER]
        mov     r0, #DWPG
        str     r0, [r7, #CR0]
        sub     r0, r4, #FLASH
        str     r0, [r7, #AR]
        str     r2, [r7, #DR0]
        str     r3, [r7, #DR1]
        mov     r0, #DWPG
        bl      start_operation
        bne     program_failed
program_next:
        add     r4, r4, #8
        b       program_pair

program_done:
        VERIFY_CHUNK program_failed

program_failed:
        REPORT_PROGRAM_FAILURE

@ --------------------------------------------------------------- protect
@ A 0 written into NVWPAR protects the sector; bits only go from 1 to 0.
protect:
        ldr     r0, [r8, #12]
        bl      sector_bit
        mvn     r4, r0
        mov     r0, #0
        str     r0, [r7, #ER]
        mov     r0, #SPR
        str     r0, [r7, #CR0]
        ldr     r0, =NVWPAR
        str     r0, [r7, #AR]
        str     r4, [r7, #DR0]
        mov     r0, #SPR
        bl      start_operation
        bne     park
        b       done

@ --------------------------------------------------------------- device code
device_code:
        mov     r0, #0
        str     r0, [r8, #4]
        b       done

        .ltorg
