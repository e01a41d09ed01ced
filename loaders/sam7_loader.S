@ AT91SAM7S on-chip flash loader: programs pages through the embedded flash
@ controller (EFC) and sets lock bits.
@
@ Run protocol as every loader of the 2048-byte family: image at R, block at
@ R + 0x800, data at R + 0x864, the run ends by reaching R + 0x7F8; a run
@ that cannot end well parks in a loop for the host's time-out; a failed
@ program run with auto verify on reports through byte 7.
@
@ Parameter block:
@   +0 operation (3 erase, 4 program, 5 protect, 8 device code)
@   +1 cycles used   +5 auto verify   +7 result: 1 = program or verify failure
@   +12 sector (lock region) or chunk address   +16 chunk length
@   +60 first cycle data: 8 marks the chip erase (the EFC's erase-all command)
@ Device code: DBGU_CIDR lands in bytes 4-7.
@
@ The flash geometry comes from the chip itself: DBGU_CIDR NVPSIZ gives the
@ flash size; parts up to 64 KB have 128-byte pages, larger ones 256; there
@ are 16 lock regions. Erase and program clear a region's lock bit before
@ they write it, as a programmer must; protect sets it.
@
@ Register use: r11 = R, r8 parameter block, r9 page size, r10 lock region
@ size, r7 the memory controller (MC_FMR at +0x60), sp a stack inside the
@ image area's padding; r0-r6 scratch.

        .syntax unified
        .arm
        .text

        .include "loader_frame.inc"
        FIRST_FAMILY_LAYOUT
        .equ    STACK_TOP, 0x780        @ a small stack in the image area's padding
        .equ    FLASH, 0x00100000
        .equ    MC, 0xFFFFFF00
        .equ    MC_FMR, 0x60
        .equ    MC_FCR, 0x64
        .equ    MC_FSR, 0x68
        .equ    DBGU_CIDR, 0xFFFFF240
        .equ    FSR_FRDY, 0x1
        .equ    FSR_ERRORS, 0xC         @ LOCKE, PROGE
        .equ    FMR_NEBP, 0x80
        .equ    KEY, 0x5A000000
        .equ    CMD_WRITE_PAGE, 0x1
        .equ    CMD_SET_LOCK, 0x2
        .equ    CMD_CLEAR_LOCK, 0x4
        .equ    CMD_ERASE_ALL, 0x8
        .equ    READY_POLLS, 0x400000   @ far beyond the slowest command

        LOADER_ENTRY

start:
        adr     r11, entry
        add     r8, r11, #PARAMS
        add     sp, r11, #STACK_TOP
        ldr     r7, =MC
        @ Geometry from NVPSIZ (CIDR bits 11:8): flash bytes from the table.
        ldr     r0, =DBGU_CIDR
        ldr     r0, [r0]
        mov     r0, r0, lsr #8
        and     r0, r0, #0xF
        adr     r1, flash_sizes
        ldr     r0, [r1, r0, lsl #2]
        cmp     r0, #0
        beq     park
        cmp     r0, #0x10000
        movls   r9, #128
        movhi   r9, #256
        mov     r10, r0, lsr #4         @ 16 lock regions
        @ Erase before programming: each page write replaces the page.
        ldr     r0, [r7, #MC_FMR]
        bic     r0, r0, #FMR_NEBP
        str     r0, [r7, #MC_FMR]
        DISPATCH_OPERATION protect
        PARK_AND_DONE

@ NVPSIZ codes 0-15 to bytes (0: no flash or reserved).
flash_sizes:
        .word   0, 0x2000, 0x4000, 0x8000, 0, 0x10000, 0, 0x20000
        .word   0, 0x40000, 0x80000, 0, 0x100000, 0, 0x200000, 0

@ --------------------------------------------------------------- EFC
@ Issues command r0 for page r1 and waits for FRDY. Returns r0 = MC_FSR,
@ Z set when neither LOCKE nor PROGE is.
efc_command:
        orr     r0, r0, r1, lsl #8
        orr     r0, r0, #KEY
        str     r0, [r7, #MC_FCR]
        ldr     r2, =READY_POLLS
efc_wait:
        ldr     r0, [r7, #MC_FSR]
        tst     r0, #FSR_FRDY
        bne     efc_ready
        subs    r2, r2, #1
        bne     efc_wait
        b       park
efc_ready:
        tst     r0, #FSR_ERRORS
        bx      lr

@ Page number of flash address r0, in r1.
page_of:
        sub     r1, r0, #FLASH
        mov     r2, r9
page_shift:
        movs    r2, r2, lsr #1
        bxeq    lr
        mov     r1, r1, lsr #1
        b       page_shift

@ Clears the lock bit of the region holding flash address r0 when it is set.
unlock_region:
        push    {r0, lr}
        sub     r1, r0, #FLASH
        mov     r2, r10
        mov     r3, #0
region_index:
        cmp     r1, r2
        blo     region_found
        sub     r1, r1, r2
        add     r3, r3, #1
        b       region_index
region_found:
        ldr     r1, [r7, #MC_FSR]
        add     r3, r3, #16             @ LOCKS bits start at 16
        mov     r1, r1, lsr r3
        tst     r1, #1
        popeq   {r0, pc}
        ldr     r0, [sp]
        bl      page_of
        mov     r0, #CMD_CLEAR_LOCK
        bl      efc_command
        bne     park
        pop     {r0, pc}

@ Writes r9 bytes from r5 to the page at flash address r6. Z set on success.
write_page:
        push    {lr}
        mov     r0, r6
        mov     r1, #0
copy_word:
        ldr     r2, [r5, r1]
        str     r2, [r6, r1]            @ into the latch buffer
        add     r1, r1, #4
        cmp     r1, r9
        blo     copy_word
        mov     r0, r6
        bl      page_of
        mov     r0, #CMD_WRITE_PAGE
        bl      efc_command
        pop     {pc}

@ --------------------------------------------------------------- erase
@ The whole chip with the erase-all command (every lock bit cleared first);
@ a lock region by writing its pages with ones.
erase:
        ldr     r0, [r8, #60]
        cmp     r0, #CMD_ERASE_ALL
        bne     erase_region
        ldr     r6, =FLASH
clear_locks:
        mov     r0, r6
        bl      unlock_region
        add     r6, r6, r10
        sub     r0, r6, #FLASH
        cmp     r0, r10, lsl #4
        blo     clear_locks
        mov     r0, #CMD_ERASE_ALL
        mov     r1, #0
        bl      efc_command
        bne     park
        b       done

erase_region:
        ldr     r6, [r8, #12]
        mov     r0, r6
        bl      unlock_region
        add     r4, r6, r10             @ end of the region
        @ A page of ones in the data area.
        add     r5, r8, #DATA - PARAMS
        mvn     r0, #0
        mov     r1, #0
fill_ones:
        str     r0, [r5, r1]
        add     r1, r1, #4
        cmp     r1, r9
        blo     fill_ones
erase_page:
        bl      write_page
        bne     park
        add     r6, r6, r9
        cmp     r6, r4
        blo     erase_page
        b       done

@ --------------------------------------------------------------- program
program:
        ldr     r6, [r8, #12]
        ldr     r4, [r8, #16]
        add     r4, r4, r6              @ end of the chunk
        add     r5, r8, #DATA - PARAMS
        mov     r0, r6
        bl      unlock_region
program_page:
        cmp     r6, r4
        bhs     program_done
        bl      write_page
        bne     program_failed
        add     r6, r6, r9
        add     r5, r5, r9
        b       program_page

program_done:
        VERIFY_CHUNK program_failed

program_failed:
        REPORT_PROGRAM_FAILURE

@ --------------------------------------------------------------- protect
protect:
        ldr     r0, [r8, #12]
        bl      page_of
        mov     r0, #CMD_SET_LOCK
        bl      efc_command
        bne     park
        b       done

@ --------------------------------------------------------------- device code
device_code:
        ldr     r0, =DBGU_CIDR
        ldr     r0, [r0]
        str     r0, [r8, #4]
        b       done

        .ltorg
