#include "drivers/core/arm9_core.h"

#include "drivers/core/arm_instructions.h"

namespace drivers {
namespace {

// NOPs after MRS (two execute cycles) and MSR to the CPSR (three): enough
// for the pipeline to take the next instruction again.
constexpr int kMrsDrain = 3;
constexpr int kMsrDrain = 4;
constexpr int kChain1Bits = 67;
constexpr int kIndicatorPosition = 34;

// The register stores count up on the ARM9 and the PC runs 24 (ARM) or 18
// (THUMB) ahead of the halt address, however the core stopped.
constexpr std::uint32_t kStmAllUp = 0xE880FFFF;      // STMIA r0,{r0-r15}
constexpr std::uint32_t kStmThumbHighUp = 0xE8807FFE;  // STMIA r0,{r1-r14}
constexpr RegisterReadForm kArm9ReadForm = {kStmAllUp, kStmThumbHighUp, -24, -24, -18, -18};

constexpr std::uint32_t kMovPcR0 = 0xE1A0F000;     // MOV pc,r0
constexpr std::uint32_t kSubPc20 = 0xE24FF014;     // SUB pc,pc,#20
constexpr std::uint32_t kAddR0One = 0xE2800001;    // ADD r0,r0,#1
constexpr std::uint32_t kThumbBranchBack = 0xE7FAE7FA;  // THUMB B .-8, both halfwords

}  // namespace

Arm9Core::Arm9Core(Jtag* jtag, DriverState* state, Arm7Timing timing)
    : Arm7Core(jtag, state, timing, kArm9ReadForm) {}

std::uint32_t Arm9Core::Scan(std::uint32_t data, bool with_data, std::uint32_t instruction,
                             bool fast, bool capture, int* breakpt) {
  std::uint8_t in[kChain1Bits];
  std::uint8_t out[kChain1Bits] = {};
  int n = 0;
  if (with_data) {
    for (int k = 0; k < 32; ++k) in[n++] = static_cast<std::uint8_t>((data >> k) & 1);
  }
  in[n++] = 0;
  in[n++] = 1;
  in[n++] = fast ? 1 : 0;
  for (int k = 31; k >= 0; --k) in[n++] = static_cast<std::uint8_t>((instruction >> k) & 1);
  jtag_->DrScan(in, capture ? out : nullptr, n, capture, true);
  if (!capture) return 0;
  // Both forms: the data bus leaves first, bit 0 first; the indicator leaves
  // from position 34.
  if (breakpt) *breakpt = out[kIndicatorPosition] & 1;
  std::uint32_t bus = 0;
  for (int k = 0; k < 32; ++k) bus |= static_cast<std::uint32_t>(out[k] & 1) << k;
  return bus;
}

std::uint32_t Arm9Core::Chain1(std::uint32_t word, bool fast, bool capture, int* breakpt) {
  return Scan(0, false, word, fast, capture, breakpt);
}

void Arm9Core::FeedData(std::uint32_t word) { Scan(word, true, kArmNop, false, false, nullptr); }

void Arm9Core::FeedThumbData(std::uint32_t word) {
  Scan(word, true, kThumbNop, false, false, nullptr);
}

// ARM9: the access instruction goes through the pipeline behind two NOPs
// (its base register comes from a load), and the NOP after it carries the
// system-speed flag.
void Arm9Core::SystemSpeedAccess(std::uint32_t instruction) {
  Nops(2);
  Feed(instruction);
  FeedFast(kArmNop);
}

// Switches to the mode of `record`, stores its bank (and SPSR) and switches
// back. MRS and MSR hold the pipeline (two and three execute cycles), so each
// is followed by NOPs that the held fetch stage may drop.
bool Arm9Core::LoadBank(int index) {
  DriverState& s = *state_;
  ModeRecord& record = s.modes[static_cast<std::size_t>(index)];
  if (!SelectChain(1) || !Intest()) return false;
  Feed(kMrsCpsr);
  Nops(kMrsDrain);
  FeedModeSwitch(record.set_mode, false);
  Nops(kMsrDrain);
  // The bank leaves on the data bus from the third access after the store.
  Feed(record.store_bank);
  Nops(2);
  for (int j = 0; j < record.count; ++j) s.regs[record.first + j] = FeedRead(kArmNop);
  Nops(kMrsDrain);
  if (record.spsr >= 0) {
    Feed(kMrsSpsr);
    Nops(kMrsDrain);
    Feed(kStrR1);
    Nops(2);
    s.regs[record.spsr] = FeedRead(kArmNop);
  }
  FeedModeSwitch(kOrrMode | (s.regs[kCpsrIndex] & 0x1F), false);
  Nops(kMsrDrain);
  record.loaded = true;
  return true;
}

// Restores the loaded banks, the current mode's registers and the PC, then
// branches back so that the first instruction fetched at system speed is the
// one at the register file's PC. MSR to the CPSR holds the pipeline: four
// NOPs follow each mode change before the load's data.
bool Arm9Core::Resume() {
  DriverState& s = *state_;
  if (!SelectForResume()) return false;
  Feed(kSubR1);
  Feed(kMrsCpsr);
  Nops(kMrsDrain);
  for (const ModeRecord& record : s.modes) {
    if (!record.loaded) continue;
    FeedModeSwitch(record.set_mode, false);
    Feed(record.load_bank);
    Nops(kMsrDrain);
    for (int j = 0; j < record.count; ++j) FeedData(s.regs[record.first + j]);
    Feed(kArmNop);
    if (record.spsr >= 0) {
      Feed(kSubR2);
      Feed(kLdrR1R2);
      Nops(2);
      FeedData(s.regs[record.spsr]);
      Feed(kArmNop);
      Feed(kMsrSpsr);
      Nops(kMsrDrain);
    }
  }

  // Back to the halted mode (only its mode bits are applied) and its
  // registers.
  const std::uint32_t mode = BankMode(s.regs[kCpsrIndex]);
  const ModeRecord* current = nullptr;
  for (const ModeRecord& record : s.modes) {
    if (record.mode == mode) current = &record;
  }
  if (!current) return false;
  Nops(2);
  FeedModeSwitch(kOrrMode | (s.regs[kCpsrIndex] & 0x1F), false);
  Feed(current->load_shared);
  Nops(kMsrDrain);
  for (int r = 0; r <= 14 - current->count; ++r) FeedData(s.regs[r]);
  Nops(2);

  // r0 := the PC to resume at.
  Feed(kSubR0);
  Feed(kLdrR0);
  Nops(2);
  FeedData(s.regs[kPcIndex]);
  if (s.thumb) {
    // BX into THUMB state, reload r0, branch back over the pipeline.
    Feed(kAddR0One);
    Feed(kArmNop);
    Feed(kBxR0);
    Nops(2);
    Feed(kThumbLdrR0Pc);
    Feed(kThumbNop);
    Feed(kThumbNop);
    FeedThumbData(s.regs[0]);
    Feed(kThumbBranchBack);
    FeedFast(kThumbNop);
  } else {
    Feed(kMovPcR0);
    Nops(2);
    Feed(kLdrR0);
    Nops(2);
    FeedData(s.regs[0]);
    Feed(kSubPc20);
    FeedFast(kArmNop);
  }
  if (jtag_->IrScan(kRestart) != 1) return false;
  jtag_->IdleClock();
  s.cycle_counter = 0;
  s.entered_by_debug_request = 0;
  return true;
}

int Arm9Core::Halt() {
  DriverState& s = *state_;
  constexpr std::uint32_t kStopped = kDebugAck | kDebugSystemDone;
  std::uint32_t status = 0;
  if (!ReadDebugStatus(&status)) return kHaltFailed;
  if ((status & kStopped) == kStopped) {
    s.messenger.Report("Debug: CPU is already stoped!\n");
    return kWasHalted;
  }
  if (!RequestDebug(kStopped, &status)) return kHaltFailed;
  s.entered_by_debug_request = 1;
  ++s.debug_request_counter;
  return TakeHalted(status, timing_.halt_registers_failed) ? kHalted : kHaltFailed;
}

// The units stay as they are, but switched off for the step: a breakpoint
// on the instruction being stepped would otherwise stop the core before it
// ever executes it.
bool Arm9Core::SingleStep() {
  if (!StepAllowed()) return false;
  std::uint32_t control[2] = {};
  for (int unit = 0; unit < 2; ++unit) {
    if (!ReadIce(IceUnitBase(unit) + kIceControlValue, &control[unit])) return false;
  }
  const auto restore = [&] {
    for (int unit = 0; unit < 2; ++unit) WriteIce(IceUnitBase(unit) + kIceControlValue, control[unit]);
  };
  for (int unit = 0; unit < 2; ++unit) {
    if (control[unit] & kControlEnable) {
      WriteIce(IceUnitBase(unit) + kIceControlValue, control[unit] & ~kControlEnable);
    }
  }
  if (!WriteIce(kIceDebugControl, kDebugSingleStep) || !Resume()) {
    restore();
    return false;
  }
  int missed = 0;
  bool read_failed = false;
  std::uint32_t status = 0;
  const bool halted = PollHalted(255, &status, &missed, &read_failed);
  restore();
  return FinishStep(halted, read_failed, missed);
}

}  // namespace drivers
