@ LPC2000 on-chip flash loader: erases and programs the user sectors through
@ the boot ROM's In-Application Programming entry (0x7FFFFFF1, THUMB).
@
@ Run protocol: the image is at R, the parameter block at R + 0x800, program
@ data at R + 0x864; the run ends by reaching R + 0x7F8, where the host has
@ its breakpoint. A run that cannot end well parks in a loop, so the host's
@ time-out reports it; a failed program run with auto verify on reports
@ through byte 7 instead.
@
@ Parameter block as the host fills it for these parts:
@   +0 operation (3 erase, 4 program, 8 device code)
@   +1 first sector index   +2 last sector index (IAP sector numbers)
@   +5 auto verify   +7 result: 1 = program or verify failure
@   +8 CPU clock in kHz (the crystal: board set-up leaves the PLL off)
@   +12 chunk address (the flash is at 0)   +16 chunk length (a multiple of 256)
@ Device code: the IAP part ID lands in bytes 4-7.
@
@ The IAP call follows the user manual: R0 points at the command table, R1 at
@ the result table, entered by BX in THUMB state; it may use 128 bytes of
@ the caller's stack and the top 32 bytes of on-chip RAM, which this image
@ never touches.
@
@ Register use: r11 = R, r8 parameter block, r10 CPU clock in kHz, sp a
@ stack inside the image area's padding; r0-r7 scratch.

        .syntax unified
        .arm
        .text

        .include "loader_frame.inc"
        FIRST_FAMILY_LAYOUT
        .equ    IAP_TABLE, 0x780        @ five command words, then three results
        .equ    IAP_RESULT, 0x7A0
        .equ    STACK_TOP, 0x780
        .equ    IAP_PREPARE, 50
        .equ    IAP_COPY, 51
        .equ    IAP_ERASE, 52
        .equ    IAP_PART_ID, 54
        .equ    INVALID_SECTOR, 7

        LOADER_ENTRY

start:
        adr     r11, entry
        add     r8, r11, #PARAMS
        add     sp, r11, #STACK_TOP
        ldr     r10, [r8, #8]
        DISPATCH_OPERATION
        PARK_AND_DONE

@ --------------------------------------------------------------- IAP call
@ r0 command, r1-r3 parameters 0-2, r4 parameter 3.
@ Returns r0 status, r1 result 1. Keeps r8-r11.
iap:
        push    {lr}
        add     r5, r11, #IAP_TABLE
        stmia   r5, {r0-r4}
        add     r6, r11, #IAP_RESULT
        mov     r0, r5
        mov     r1, r6
        ldr     r7, =0x7FFFFFF1
        mov     lr, pc
        bx      r7
        ldmia   r6, {r0, r1}
        pop     {pc}

@ Prepares sectors byte 1 to byte 2. A chunk that ends at the last user
@ sector's end names the sector after it, which IAP refuses: then the
@ sectors up to the one before are prepared. Returns r0 status.
prepare:
        push    {lr}
        mov     r0, #IAP_PREPARE
        ldrb    r1, [r8, #1]
        ldrb    r2, [r8, #2]
        bl      iap
        cmp     r0, #INVALID_SECTOR
        popne   {pc}
        ldrb    r1, [r8, #1]
        ldrb    r2, [r8, #2]
        cmp     r2, r1
        popls   {pc}
        sub     r2, r2, #1
        mov     r0, #IAP_PREPARE
        bl      iap
        pop     {pc}

@ --------------------------------------------------------------- erase
erase:
        bl      prepare
        cmp     r0, #0
        bne     park
        mov     r0, #IAP_ERASE
        ldrb    r1, [r8, #1]
        ldrb    r2, [r8, #2]
        mov     r3, r10
        bl      iap
        cmp     r0, #0
        bne     park
        b       done

@ --------------------------------------------------------------- program
@ r9 flash address, r7 is used by iap, so the loop keeps its state in the
@ scratch words below the stack: the data pointer and the bytes left.
program:
        ldr     r9, [r8, #12]
        ldr     r0, [r8, #16]
        add     r1, r8, #DATA - PARAMS
        push    {r0, r1}                @ [sp] bytes left, [sp + 4] data
program_piece:
        ldr     r0, [sp]
        cmp     r0, #0
        beq     program_done
        bl      prepare
        cmp     r0, #0
        bne     program_failed
        ldr     r0, [sp]
        cmp     r0, #1024               @ IAP copies 256, 512, 1024 or 4096 bytes
        movhs   r3, #1024
        movlo   r3, #256
        mov     r1, r9
        ldr     r2, [sp, #4]
        mov     r4, r10
        mov     r0, #IAP_COPY
        push    {r3}
        bl      iap
        pop     {r3}
        cmp     r0, #0
        bne     program_failed
        add     r9, r9, r3
        ldr     r0, [sp, #4]
        add     r0, r0, r3
        str     r0, [sp, #4]
        ldr     r0, [sp]
        subs    r0, r0, r3
        movlo   r0, #0
        str     r0, [sp]
        b       program_piece

program_done:
        add     sp, sp, #8
        VERIFY_CHUNK verify_failed

program_failed:
        add     sp, sp, #8
verify_failed:
        REPORT_PROGRAM_FAILURE

@ --------------------------------------------------------------- device code
device_code:
        mov     r0, #IAP_PART_ID
        bl      iap
        cmp     r0, #0
        bne     park
        str     r1, [r8, #4]
        b       done

        .ltorg
