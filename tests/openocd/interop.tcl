# OpenOCD against the virtual board: every check raises a Tcl error, which
# OpenOCD reports as an error line and turns into a failing exit status.
# The core (arm7 or arm9) and the board's RAM come from the environment.
set RAM $::env(SIMBOARD_RAM)
set arm9 [expr {$::env(SIMBOARD_CORE) eq "arm9"}]
set big [expr {$::env(SIMBOARD_ENDIAN) eq "big"}]
proc at {offset} { return [expr {$::RAM + $offset}] }

proc want {what got expected} {
  if {$got != $expected} {
    error [format "%s: got 0x%08X, expected 0x%08X" $what $got $expected]
  }
}
proc regv {name} {
  set text [reg $name]
  if {![regexp {: (0x[0-9a-fA-F]+)} $text -> value]} { error "no value for $name in '$text'" }
  return [expr {$value}]
}
proc md {command address} {
  set text [$command $address]
  if {![regexp {: ([0-9a-fA-F]+)} $text -> value]} { error "$command $address gave '$text'" }
  return [expr {"0x$value"}]
}
proc halted {} {
  if {[sim.cpu curstate] ne "halted"} { error "the target is [sim.cpu curstate], not halted" }
}

init
halt
halted

# A counting loop in ARM state, a THUMB loop and a branch to itself.
# MOV r2, #RAM (an 8-bit value rotated: 0x03 by 6 or by 4 bits).
set mov_r2 [expr {$RAM == 0x0C000000 ? 0xE3A02303 : 0xE3A02203}]
set program [list $mov_r2 0xE2822A01 0xE2811001 0xE5821000 0xEAFFFFFC]
for {set i 0} {$i < [llength $program]} {incr i} {
  mww [expr {$RAM + 4 * $i}] [lindex $program $i]
}
mwh [expr {$RAM + 0x20}] 0x3001
mwh [expr {$RAM + 0x22}] 0x3001
mwh [expr {$RAM + 0x24}] 0xE7FC
mww [expr {$RAM + 0x40}] 0xEAFFFFFE
for {set i 0} {$i < [llength $program]} {incr i} {
  want "program word $i" [md mdw [expr {$RAM + 4 * $i}]] [lindex $program $i]
}

# Stepping in ARM state.
reg cpsr 0xD3
reg pc $RAM
step
want "pc after one ARM step" [regv pc] [expr {$RAM + 4}]
step
step
want "pc after three ARM steps" [regv pc] [expr {$RAM + 12}]
want "r2 set by the steps" [regv r2] [at 0x1000]

# Every register, banked ones included, survives a resume and a halt.
set names {r0 r1 r2 r3 r4 r5 r6 r7 r8 r9 r10 r11 r12 sp_svc lr_svc
           r8_fiq r9_fiq r10_fiq r11_fiq r12_fiq sp_fiq lr_fiq sp_irq lr_irq
           sp_abt lr_abt sp_und lr_und sp_usr lr_usr}
set i 0
foreach name $names {
  reg $name [expr {0x10000000 + $i * 0x01010101}]
  incr i
}
set psrs {spsr_fiq 0x20000011 spsr_irq 0x40000012 spsr_svc 0x80000013 spsr_abt 0x10000017 spsr_und 0x3000001B}
foreach {name value} $psrs { reg $name $value }
# Writing the CPSR too makes OpenOCD restore it whole after the bank
# switches (without it, OpenOCD 0.12 leaves the core in System mode).
reg cpsr 0x600000D3
reg pc [expr {$RAM + 0x40}]
for {set round 0} {$round < 3} {incr round} {
  resume
  halt
  halted
  set i 0
  foreach name $names {
    want "$name after round $round" [regv $name] [expr {0x10000000 + $i * 0x01010101}]
    incr i
  }
  foreach {name value} $psrs { want "$name after round $round" [regv $name] $value }
  want "pc after round $round" [regv pc] [expr {$RAM + 0x40}]
  want "cpsr after round $round" [regv cpsr] 0x600000D3
}

# Halt and resume the counting loop again and again: it goes on counting.
reg r1 0
reg pc $RAM
set last 0
for {set round 0} {$round < 5} {incr round} {
  resume
  halt
  halted
  set count [regv r1]
  if {$count <= $last} { error "the loop did not count on: r1 $count after $last" }
  set last $count
}

# Memory at every width, aligned and not, in the board's byte order.
mww [at 0x1000] 0x11223344
want "mdw" [md mdw [at 0x1000]] 0x11223344
want "mdh of the upper half-word address" [md mdh [at 0x1002]] [expr {$big ? 0x3344 : 0x1122}]
want "mdb of an odd address" [md mdb [at 0x1001]] [expr {$big ? 0x22 : 0x33}]
mwh [at 0x1002] 0xBEEF
mwb [at 0x1001] 0x77
want "mdw after mwh and mwb" [md mdw [at 0x1000]] [expr {$big ? 0x1177BEEF : 0xBEEF7744}]
mwb [at 0x1007] 0xA5
want "mdb at 3 mod 4" [md mdb [at 0x1007]] 0xA5
mwh [at 0x100A] 0x5AA5
want "mdh at 2 mod 4" [md mdh [at 0x100A]] 0x5AA5
# A word at an unaligned address goes through the byte path of the buffer write.
write_memory [at 0x1011] 8 {0x01 0x02 0x03 0x04}
want "bytes written at an unaligned address" [md mdw [at 0x1010]] [expr {$big ? 0x00010203 : 0x03020100}]

# Random data into RAM, checked by OpenOCD's checksum routine on the target:
# on the ARM7TDMI it ends at a hardware breakpoint, on the ARM920T on its
# closing BKPT, which the ARM9TDMI's debug logic stops at. The ARM9 run also
# reads the data back (compared by run_interop.sh).
load_image $::env(SIMBOARD_RANDOM) [at 0x10000] bin
verify_image $::env(SIMBOARD_RANDOM) [at 0x10000] bin
if {$arm9} {
  dump_image $::env(SIMBOARD_DUMP) [at 0x10000] [file size $::env(SIMBOARD_RANDOM)]
}

# Stepping in THUMB state.
reg r0 0
reg cpsr 0xF3
reg pc [expr {$RAM + 0x20}]
step
want "pc after one THUMB step" [regv pc] [expr {$RAM + 0x22}]
step
step
want "pc after the THUMB branch" [regv pc] [expr {$RAM + 0x20}]
want "r0 after two THUMB adds" [regv r0] 2
reg cpsr 0xD3

# A hardware breakpoint, a software breakpoint in RAM and a data watchpoint.
reg pc $RAM
bp [expr {$RAM + 0x0C}] 4 hw
resume
wait_halt 2000
halted
want "pc at the hardware breakpoint" [regv pc] [expr {$RAM + 0x0C}]
rbp [expr {$RAM + 0x0C}]
bp [expr {$RAM + 0x08}] 4
resume
wait_halt 2000
halted
want "pc at the software breakpoint" [regv pc] [expr {$RAM + 0x08}]
rbp [expr {$RAM + 0x08}]
want "instruction under the software breakpoint" [md mdw [expr {$RAM + 0x08}]] 0xE2811001
wp [at 0x1000] 4 w
resume
wait_halt 2000
halted
# The ARM9TDMI lets the instruction behind the store (the branch back) complete too.
want "pc after the watched store" [regv pc] [expr {$RAM + ($arm9 ? 0x08 : 0x10)}]
rwp [at 0x1000]
want "the watched word" [md mdw [at 0x1000]] [regv r1]

# Reset and halt at the reset vector.
reset halt
halted
want "pc after reset halt" [regv pc] 0
want "mode after reset halt" [expr {[regv cpsr] & 0x1F}] 0x13

# The NOR chip through CFI: probe, then OpenOCD's one-command flow (reset,
# erase, program, verify by the checksum routine on the target), then the
# bank read back and compared on the host.
flash probe 0
program $::env(SIMBOARD_IMAGE) 0 verify
halted
flash verify_bank 0 $::env(SIMBOARD_IMAGE) 0
echo "interop checks passed"
shutdown
