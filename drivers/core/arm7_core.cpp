#include "drivers/core/arm7_core.h"

#include <algorithm>

#include "drivers/core/arm_instructions.h"
#include "platform/ticks.h"

namespace drivers {
namespace {

constexpr int kChain1Bits = 33;
constexpr int kChain2Bits = 38;

// Stores here keep the pause after RESTART from being optimised away.
volatile int pause_sink = 0;

void ShortPause() {
  for (int round = 0; round < 17; ++round) pause_sink = round;
}

const char* const kRunningLoad = "Debug: Can not execute READ_MEMORY command while CPU is running!\n";
const char* const kRunningStore =
    "Debug: Can not execute write memory command while CPU is running!\n";
const char* const kRunningBlockLoad =
    "Debug: Can not execute dump memblock command while CPU is running!\n";
const char* const kRunningBlockStore =
    "Debug: Can not execute fill memblock command while CPU is running!\n";

// Every IR capture of a healthy ARM7 or ARM9 TAP is 0b0001; anything else
// is a broken connection.
bool JtagIrOk(Jtag* jtag, std::uint32_t instruction) { return jtag->IrScan(instruction) == 1; }

}  // namespace

namespace {
constexpr RegisterReadForm kArm7ReadForm = {kStmAll, kStmThumbHigh, -24, -20, -16, -14};
}  // namespace

Arm7Core::Arm7Core(Jtag* jtag, DriverState* state, Arm7Timing timing)
    : Arm7Core(jtag, state, timing, kArm7ReadForm) {}

Arm7Core::Arm7Core(Jtag* jtag, DriverState* state, Arm7Timing timing, RegisterReadForm form)
    : jtag_(jtag), state_(state), timing_(timing), form_(form) {}

// ---- Scan chains and EmbeddedICE ------------------------------------------

bool Arm7Core::SelectChain(int chain) {
  if (!JtagIrOk(jtag_, kScanN)) return false;
  std::uint8_t in[8] = {};
  std::uint8_t out[8] = {};
  for (int k = 0; k < timing_.scan_n_bits; ++k) in[k] = static_cast<std::uint8_t>((chain >> k) & 1);
  jtag_->DrScan(in, out, timing_.scan_n_bits, true);
  return true;
}

bool Arm7Core::Intest() { return JtagIrOk(jtag_, kIntest); }

bool Arm7Core::WriteIce(int address, std::uint32_t value) {
  if (!SelectChain(2) || !Intest()) return false;
  std::uint8_t in[kChain2Bits];
  for (int k = 0; k < 32; ++k) in[k] = static_cast<std::uint8_t>((value >> k) & 1);
  for (int k = 0; k < 5; ++k) in[32 + k] = static_cast<std::uint8_t>((address >> k) & 1);
  in[37] = 1;  // write
  jtag_->DrScan(in, nullptr, kChain2Bits, false);
  return true;
}

bool Arm7Core::ReadIce(int address, std::uint32_t* value) {
  if (!SelectChain(2) || !Intest()) return false;
  std::uint8_t in[kChain2Bits] = {};
  std::uint8_t out[kChain2Bits] = {};
  for (int k = 0; k < 5; ++k) in[32 + k] = static_cast<std::uint8_t>((address >> k) & 1);
  // The first scan names the register, the second carries its value out.
  jtag_->DrScan(in, nullptr, kChain2Bits, false);
  jtag_->DrScan(in, out, kChain2Bits, true);
  std::uint32_t result = 0;
  for (int k = 0; k < 32; ++k) result |= static_cast<std::uint32_t>(out[k] & 1) << k;
  *value = result;
  return true;
}

bool Arm7Core::ReadDebugStatus(std::uint32_t* status) { return ReadIce(kIceDebugStatus, status); }

// ---- Debug comms channel ---------------------------------------------------
// The host's side of the channel (ARM7TDMI TRM, debug communications
// channel): the comms data register written from chain 2 is the word the
// core reads with MRC p14, 0, Rd, c1, c0; R in the comms control tells it
// is there. The chain stays selected for the whole stream, so each word is
// one 38-bit scan from Update-DR to Update-DR and nothing is captured.

namespace {
// How long a check waits for the core to take the last word.
constexpr std::uint32_t kCommsTakeWaitMs = 20;
}  // namespace

void Arm7Core::Chain2Scan(int address, std::uint32_t value, bool write, std::uint32_t* captured) {
  std::uint8_t in[kChain2Bits];
  std::uint8_t out[kChain2Bits] = {};
  for (int k = 0; k < 32; ++k) in[k] = static_cast<std::uint8_t>((value >> k) & 1);
  for (int k = 0; k < 5; ++k) in[32 + k] = static_cast<std::uint8_t>((address >> k) & 1);
  in[37] = write ? 1 : 0;
  jtag_->DrScan(in, captured ? out : nullptr, kChain2Bits, captured != nullptr);
  if (!captured) return;
  std::uint32_t result = 0;
  for (int k = 0; k < 32; ++k) result |= static_cast<std::uint32_t>(out[k] & 1) << k;
  *captured = result;
}

void Arm7Core::CheckComms(CommsProgress* out) {
  // A read scan names the register; the next scan carries its value out.
  Chain2Scan(kIceCommsControl, 0, false, nullptr);
  Chain2Scan(kIceCommsControl, 0, false, &out->control);
  if (!(out->control & kCommsFromCoreFull)) return;
  Chain2Scan(kIceCommsData, 0, false, nullptr);
  Chain2Scan(kIceCommsControl, 0, false, &out->status);
  out->status_read = true;
}

bool Arm7Core::WriteComms(const std::uint32_t* words, std::uint32_t count,
                          std::uint32_t check_every, CommsProgress* out) {
  *out = {};
  if (!SelectChain(2) || !Intest()) return false;
  // True when the next word may go in: the core has sent nothing and has
  // taken the last word. A core that has not is still busy with the word
  // before (a flash word programming); writing now would lose a word.
  const auto ready = [this, out] {
    CheckComms(out);
    const std::uint32_t start = platform::TickCount();
    while (!out->status_read && (out->control & kCommsToCoreFull)) {
      if (platform::TickCount() - start >= kCommsTakeWaitMs || state_->WaitsCancelled())
        return false;
      CheckComms(out);
    }
    return !out->status_read;
  };
  if (!ready()) return true;
  for (std::uint32_t k = 0; k < count; ++k) {
    if (check_every != 0 && k != 0 && k % check_every == 0 && !ready()) return true;
    Chain2Scan(kIceCommsData, words[k], true, nullptr);
    ++out->written;
  }
  return true;
}

std::uint32_t Arm7Core::ReadIdcode() {
  if (!JtagIrOk(jtag_, kIdcode)) return 0;
  std::uint8_t in[32] = {};
  std::uint8_t out[32] = {};
  jtag_->DrScan(in, out, 32, true);
  std::uint32_t value = 0;
  for (int k = 0; k < 32; ++k) value |= static_cast<std::uint32_t>(out[k] & 1) << k;
  return (value & 1) ? value : 0;
}

// Chain 1, as the ARM7TDMI orders it: BREAKPT nearest TDO, then the data bus
// from bit 31 to bit 0. The bit shifted in first lands in BREAKPT: set, it
// makes the next instruction after RESTART run at system speed.
std::uint32_t Arm7Core::Chain1(std::uint32_t word, bool fast, bool capture, int* breakpt) {
  std::uint8_t in[kChain1Bits];
  std::uint8_t out[kChain1Bits] = {};
  in[0] = fast ? 1 : 0;
  for (int k = 0; k < 32; ++k) in[1 + k] = static_cast<std::uint8_t>((word >> (31 - k)) & 1);
  jtag_->DrScan(in, capture ? out : nullptr, kChain1Bits, capture, true);
  if (!capture) return 0;
  if (breakpt) *breakpt = out[0] & 1;
  std::uint32_t bus = 0;
  for (int k = 0; k < 32; ++k) bus |= static_cast<std::uint32_t>(out[1 + k] & 1) << (31 - k);
  return bus;
}

// ---- Registers -------------------------------------------------------------

bool Arm7Core::ReadRegisters() {
  DriverState& s = *state_;
  if (!SelectChain(1) || !Intest()) return false;
  s.cycle_counter = 0;
  const bool thumb = s.thumb != 0;
  int breakpt = 0;
  if (thumb) {
    // Save R0 and the PC with THUMB stores, then BX pc into ARM state.
    Chain1(kThumbStrR0, false, true, &breakpt);
    s.watchpoint_hit = breakpt;
    Feed(kThumbNop, true);
    Feed(kThumbNop);
    s.regs[0] = FeedRead(kThumbNop);
    Feed(kThumbMovR0Pc, true);
    Feed(kThumbStrR0);
    Feed(kThumbNop, true);
    Feed(kThumbNop);
    s.regs[kPcIndex] = FeedRead(kThumbNop);
    // BX pc lands on the word boundary below: when the PC read here has bit 1
    // set, the core's PC in ARM state runs 2 behind the register file's.
    s.pc_alignment_loss = s.regs[kPcIndex] & 2u;
    Feed(kThumbBxPc, true);
    Feed(kThumbNop);
    Feed(kThumbNop, true);
    FeedRead(form_.store_thumb_high, true);
  } else {
    s.pc_alignment_loss = 0;
    Chain1(form_.store_all, false, true, &breakpt);
    Count(true);
    s.watchpoint_hit = breakpt;
  }
  Feed(kMrsCpsr, true);
  Feed(kStrR0);
  if (thumb) {
    for (int r = 1; r <= 14; ++r) s.regs[r] = FeedRead(kArmNop);
  } else {
    for (int r = 0; r <= 15; ++r) s.regs[r] = FeedRead(kArmNop);
  }
  // The stored PC runs ahead of the halt address by the pipeline depth plus
  // the instructions fed since; a debug request halts one instruction later
  // than a breakpoint or watchpoint.
  int correction;
  if (thumb) {
    correction = s.entered_by_debug_request ? form_.thumb_request_correction : form_.thumb_correction;
  } else {
    correction = s.entered_by_debug_request ? form_.arm_request_correction : form_.arm_correction;
  }
  s.regs[kPcIndex] += static_cast<std::uint32_t>(correction);
  s.saved_pc = s.regs[kPcIndex];
  Count(true);
  Feed(kArmNop, true);
  Feed(kArmNop, true);
  s.regs[kCpsrIndex] = FeedRead(kArmNop);
  if (thumb) s.regs[kCpsrIndex] |= 0x20;

  const std::uint32_t mode = BankMode(s.regs[kCpsrIndex]);
  for (ModeRecord& record : s.modes) {
    if (record.mode != mode) {
      record.loaded = false;
      continue;
    }
    for (int j = 0; j < record.count; ++j) {
      s.regs[record.first + j] = s.regs[15 - record.count + j];
    }
    if (record.spsr >= 0) {
      Feed(kMrsSpsr);
      Feed(kStrR1, true);
      Feed(kArmNop, true);
      Feed(kArmNop, true);
      s.regs[record.spsr] = FeedRead(kArmNop, true);
    }
    record.loaded = true;
  }
  return true;
}

bool Arm7Core::LoadBank(int index) {
  DriverState& s = *state_;
  ModeRecord& record = s.modes[static_cast<std::size_t>(index)];
  if (!SelectChain(1) || !Intest()) return false;
  // Switch to the mode, store its bank (and SPSR), switch back.
  Feed(kMrsCpsr, true);
  FeedModeSwitch(record.set_mode, true);
  Feed(record.store_bank, true);
  if (record.spsr >= 0) {
    Feed(kMrsSpsr);
    Feed(kStrR1);
  } else {
    Feed(kArmNop);
    Feed(kArmNop);
  }
  Count(true);
  for (int j = 0; j < record.count; ++j) s.regs[record.first + j] = FeedRead(kArmNop);
  Count(true);
  if (record.spsr >= 0) {
    Feed(kArmNop, true);
    Feed(kArmNop, true);
    s.regs[record.spsr] = FeedRead(kArmNop);
  }
  FeedModeSwitch(kOrrMode | (s.regs[kCpsrIndex] & 0x1F), true);
  Feed(kArmNop, true);
  Feed(kArmNop, true);
  record.loaded = true;
  return true;
}

bool Arm7Core::Resume() {
  DriverState& s = *state_;
  if (!SelectForResume()) return false;
  // Move the core's PC to the register file's PC: r0 := the distance, then
  // SUB pc,pc,r0.
  Feed(kSubR0, true);
  Feed(kLdrR0, true);
  Feed(kArmNop, true);
  Feed(kArmNop);
  const int c = s.cycle_counter;
  Count(true);
  Feed(s.saved_pc - s.pc_alignment_loss + 4u * static_cast<std::uint32_t>(c) - s.regs[kPcIndex] +
       4u);
  Feed(kArmNop);
  Feed(kArmNop);
  s.cycle_counter = 0;
  Feed(kSubPc, true);
  Feed(kArmNop, true);
  Feed(kArmNop, true);
  Feed(kSubR1, true);
  Feed(kMrsCpsr, true);

  for (const ModeRecord& record : s.modes) {
    if (!record.loaded) continue;
    FeedModeSwitch(record.set_mode, true);
    Feed(record.load_bank, true);
    Feed(kArmNop, true);
    Feed(kArmNop);
    for (int j = 0; j < record.count; ++j) Feed(s.regs[record.first + j]);
    Count(true);
    Feed(kArmNop);
    if (record.spsr >= 0) {
      Feed(kSubR2, true);
      Feed(kLdrR1R2, true);
      Feed(kArmNop, true);
      Feed(kArmNop, true);
      Feed(s.regs[record.spsr]);
      Feed(kArmNop);
      Feed(kMsrSpsr, true);
      Feed(kArmNop, true);
      Feed(kArmNop, true);
    }
  }

  // Back to the halted mode; only its mode bits are applied.
  FeedModeSwitch(kOrrMode | (s.regs[kCpsrIndex] & 0x1F), true);

  const std::uint32_t mode = BankMode(s.regs[kCpsrIndex]);
  const ModeRecord* current = nullptr;
  for (const ModeRecord& record : s.modes) {
    if (record.mode == mode) current = &record;
  }
  if (!current) return false;
  Feed(current->load_shared, true);
  Feed(kArmNop, true);
  Feed(kArmNop, true);
  for (int r = 0; r <= 14 - current->count; ++r) Feed(s.regs[r]);
  Feed(kArmNop);
  Feed(kArmNop, true);

  std::uint32_t branch;
  if (s.thumb) {
    // BX into THUMB state, reload R0 (the BX used it), branch back.
    Feed(kAddR0Pc1, true);
    Feed(kArmNop, true);
    Feed(kBxR0, true);
    Feed(kArmNop, true);
    Feed(kArmNop, true);
    Feed(kThumbLdrR0Pc);
    Feed(kThumbNop, true);
    Feed(kThumbNop);
    Feed(s.regs[0]);
    Feed(kThumbNop, true);
    Feed(kThumbNop);
    FeedFast(kThumbNop);
    const int g = s.cycle_counter;
    s.cycle_counter = (g + 1 - 4) * 2;
    int offset = -4 - s.cycle_counter;
    if (!s.entered_by_debug_request) offset -= 1;
    // The ARM-state PC set above cannot hold bit 1 of a THUMB address: the
    // branch back takes the last halfword.
    if (s.regs[kPcIndex] & 2u) offset += 1;
    const std::uint32_t field = static_cast<std::uint32_t>(offset) & 0x7FF;
    branch = 0xE000E000u | field | (field << 16);
  } else {
    FeedFast(kArmNop);
    Count(true);
    int offset = -4 - s.cycle_counter;
    if (!s.entered_by_debug_request) offset -= 1;
    branch = 0xEA000000u | (static_cast<std::uint32_t>(offset) & 0xFFFFFF);
  }
  Feed(branch);
  if (!JtagIrOk(jtag_, kRestart)) return false;
  jtag_->IdleClock();
  s.cycle_counter = 0;
  s.entered_by_debug_request = 0;
  return true;
}

// ---- Run control -----------------------------------------------------------

bool Arm7Core::PollHalted(int limit, std::uint32_t* status, int* missed, bool* read_failed,
                          std::uint32_t until) {
  *missed = 0;
  if (read_failed) *read_failed = false;
  for (int poll = 0; poll < limit; ++poll) {
    if (state_->WaitsCancelled()) return false;
    if (!ReadDebugStatus(status)) {
      if (read_failed) {
        *read_failed = true;
        return false;
      }
      ++*missed;
      continue;
    }
    if ((*status & until) == until) return true;
    ++*missed;
  }
  return false;
}

bool Arm7Core::SaveUnits(int first_unit, int units, std::uint32_t saved[12]) {
  for (int u = 0; u < units; ++u) {
    for (int r = 0; r < 6; ++r) {
      if (!ReadIce(IceUnitBase(first_unit + u) + r, &saved[u * 6 + r])) return false;
    }
  }
  return true;
}

void Arm7Core::RestoreUnits(int first_unit, int units, const std::uint32_t saved[12]) {
  for (int u = 0; u < units; ++u) {
    for (int r = 0; r < 6; ++r) WriteIce(IceUnitBase(first_unit + u) + r, saved[u * 6 + r]);
  }
}

int Arm7Core::Halt() {
  DriverState& s = *state_;
  std::uint32_t status = 0;
  if (!ReadDebugStatus(&status)) return kHaltFailed;
  if (status & kDebugAck) {
    s.messenger.Report("Debug: CPU is already stoped!\n");
    return kWasHalted;
  }
  std::uint32_t saved[12] = {};
  if (!SaveUnits(0, 1, saved)) return kHaltFailed;
  // Unit 0 matches any instruction fetch: the core halts on its next one.
  WriteIce(kIceUnit0 + kIceAddressMask, kMaskIgnoreAll);
  WriteIce(kIceUnit0 + kIceDataMask, kMaskIgnoreAll);
  WriteIce(kIceUnit0 + kIceControlValue, kControlFetchOnly);
  WriteIce(kIceUnit0 + kIceControlMask, kControlFetchOnly);
  WriteIce(kIceDebugControl, kDebugInterruptsOff);

  int missed = 0;
  bool halted = PollHalted(timing_.halt_polls, &status, &missed, nullptr);
  if (missed > 0) s.messenger.Report("Debug: Waiting for stop %d times.\n", missed);
  if (halted) {
    s.entered_by_debug_request = 0;
  } else if (s.WaitsCancelled()) {
    RestoreUnits(0, 1, saved);
    return kHaltFailed;
  } else {
    // No fetch came (the core waits on the bus or sleeps): request debug.
    if (!RequestDebug(kDebugAck, &status)) {
      RestoreUnits(0, 1, saved);
      return kHaltFailed;
    }
    s.entered_by_debug_request = 1;
    ++s.debug_request_counter;
  }
  const bool taken = TakeHalted(status, "Debug: Failed to get registers' value!!\n");
  RestoreUnits(0, 1, saved);
  return taken ? kHalted : kHaltFailed;
}

bool Arm7Core::RequestDebug(std::uint32_t until, std::uint32_t* status) {
  DriverState& s = *state_;
  if (!WriteIce(kIceDebugControl, kDebugRequest)) {
    s.messenger.Report("%s", kStopFailed);
    return false;
  }
  jtag_->IdleClock();
  int missed = 0;
  const bool halted = PollHalted(timing_.halt_polls, status, &missed, nullptr, until);
  if (missed > 0) s.messenger.Report("Debug: Waiting for stop %d times.\n", missed);
  if (!halted && !s.WaitsCancelled()) s.messenger.Report("Debug: Debug request failed!!\n");
  return halted;
}

bool Arm7Core::TakeHalted(std::uint32_t status, const char* registers_failed) {
  DriverState& s = *state_;
  s.thumb = (status & kDebugThumb) ? 1 : 0;
  if (!WriteIce(kIceDebugControl, kDebugInterruptsOff)) {
    s.messenger.Report("%s", kStopFailed);
    return false;
  }
  if (!ReadRegisters()) {
    if (registers_failed) s.messenger.Report("%s", registers_failed);
    return false;
  }
  return true;
}

bool Arm7Core::StepAllowed() {
  std::uint32_t status = 0;
  if (!ReadDebugStatus(&status) || !(status & kDebugAck)) {
    state_->messenger.Report("Debug: Can not execute step command while CPU is running!\n");
    return false;
  }
  return true;
}

bool Arm7Core::FinishStep(bool halted, bool read_failed, int missed) {
  DriverState& s = *state_;
  if (read_failed) {
    s.messenger.Report("Debug: Step command execute Failed!!\n");
    return false;
  }
  if (missed > 0) s.messenger.Report("Debug: Waiting for stop %d times.\n", missed);
  // A core that did not come back (a step into a wait on the bus) is
  // stopped as by the stop command.
  if (!halted) return Halt() != kHaltFailed;
  std::uint32_t status = 0;
  WriteIce(kIceDebugControl, kDebugInterruptsOff);
  if (!ReadDebugStatus(&status)) return false;
  s.entered_by_debug_request = 0;
  s.thumb = (status & kDebugThumb) ? 1 : 0;
  return ReadRegisters();
}

bool Arm7Core::SingleStep() {
  DriverState& s = *state_;
  if (!StepAllowed()) return false;
  std::uint32_t saved[12] = {};
  if (!SaveUnits(0, 2, saved)) return false;
  // Unit 1 matches a fetch from the current PC without halting; unit 0
  // halts on any fetch while unit 1 does not match: the next instruction.
  WriteIce(kIceUnit1 + kIceAddressValue, s.regs[kPcIndex]);
  WriteIce(kIceUnit1 + kIceAddressMask, 1);  // bit 0 left out: a THUMB or ARM fetch
  WriteIce(kIceUnit1 + kIceDataMask, kMaskIgnoreAll);
  WriteIce(kIceUnit1 + kIceControlValue, kControlFetchUnarmed);
  WriteIce(kIceUnit1 + kIceControlMask, kControlFetchOnly);
  WriteIce(kIceUnit0 + kIceAddressMask, kMaskIgnoreAll);
  WriteIce(kIceUnit0 + kIceDataMask, kMaskIgnoreAll);
  WriteIce(kIceUnit0 + kIceControlValue, kControlFetchOutOfRange);
  WriteIce(kIceUnit0 + kIceControlMask, kControlFetchOutOfRange);
  WriteIce(kIceDebugControl, kDebugInterruptsOff);
  if (!Resume()) {
    RestoreUnits(0, 2, saved);
    return false;
  }
  int missed = 0;
  bool read_failed = false;
  std::uint32_t status = 0;
  const bool halted = PollHalted(32, &status, &missed, &read_failed);
  RestoreUnits(0, 2, saved);
  return FinishStep(halted, read_failed, missed);
}

bool Arm7Core::ResetAndCatch() {
  DriverState& s = *state_;
  std::uint32_t saved[12] = {};
  const bool units_saved = SaveUnits(0, 2, saved);
  jtag_->TapReset();
  // Unit 0 catches the first instruction fetch after reset.
  WriteIce(kIceUnit0 + kIceControlValue, kControlUnitOff);
  WriteIce(kIceUnit0 + kIceAddressMask, kMaskIgnoreAll);
  WriteIce(kIceUnit0 + kIceDataMask, kMaskIgnoreAll);
  WriteIce(kIceUnit0 + kIceControlMask, kControlFetchOnly);
  WriteIce(kIceUnit0 + kIceControlValue, kControlFetchOnly);
  jtag_->ResetPulse(timing_.reset_pulse_ms);
  s.regs[kPcIndex] = 0;
  s.entered_by_debug_request = 0;
  s.saved_pc = 0;
  s.cycle_counter = 0;
  WriteIce(kIceDebugControl, kDebugInterruptsOff);

  const std::uint32_t start = platform::TickCount();
  while (platform::TickCount() - start < timing_.reset_catch_ms && !s.WaitsCancelled()) {
    std::uint32_t status = 0;
    if (!ReadDebugStatus(&status)) {
      s.messenger.Report("Debug: ... \n");
      jtag_->TapReset();
      continue;
    }
    if (status & kDebugAck) {
      s.thumb = 0;
      if (!ReadRegisters()) return false;  // the units keep the catch settings
      break;
    }
  }
  if (units_saved) RestoreUnits(0, 2, saved);
  return !s.WaitsCancelled();
}

// ---- Memory ----------------------------------------------------------------

bool Arm7Core::CheckHalted(const char* refusal) {
  std::uint32_t status = 0;
  if (!ReadDebugStatus(&status)) return false;
  if (!(status & kDebugAck)) {
    state_->messenger.Report("%s", refusal);
    return false;
  }
  return true;
}

bool Arm7Core::SelectForResume() {
  if (SelectChain(1) && Intest()) return true;
  state_->messenger.Report("Debug: Failed to run INTEST instruction!!\n");
  return false;
}

void Arm7Core::FeedModeSwitch(std::uint32_t set_mode, bool plus) {
  Feed(kBicMode, plus);
  Feed(set_mode, plus);
  Feed(kMsrCpsr, plus);
}

// ARM7: the system-speed flag rides on the last NOP before the access.
void Arm7Core::SystemSpeedAccess(std::uint32_t instruction) {
  Feed(kArmNop);
  Feed(kArmNop, true);
  FeedFast(kArmNop, true);
  Feed(instruction);
  state_->cycle_counter += 4;
}

bool Arm7Core::RestartForAccess() {
  if (!JtagIrOk(jtag_, kRestart)) return false;
  jtag_->IdleClock();
  ShortPause();
  return true;
}

bool Arm7Core::Load(std::uint32_t address, int width, std::uint32_t* value, bool check_halted) {
  std::uint32_t instruction;
  switch (width) {
    case 1: instruction = 0xE5D00000; break;  // LDRB r0,[r0]
    case 2: instruction = 0xE1D000B0; break;  // LDRH r0,[r0]
    case 4: instruction = kLdrR0; break;      // LDR r0,[r0]
    default: return false;
  }
  if (width == 2 && (address & 1)) return false;
  if (check_halted && !CheckHalted(kRunningLoad)) return false;
  if (!SelectChain(1) || !Intest()) return false;
  Feed(kSubR0, true);
  Feed(kLdrR0, true);
  Feed(kArmNop, true);
  Feed(kArmNop, true);
  FeedData(address);
  SystemSpeedAccess(instruction);
  if (!RestartForAccess()) return false;
  if (!SelectChain(1) || !Intest()) return false;
  Feed(kStrR0, true);
  Feed(kArmNop, true);
  Feed(kArmNop, true);
  *value = FeedRead(kArmNop);
  Feed(kArmNop, true);
  Feed(kArmNop, true);
  return true;
}

bool Arm7Core::Store(std::uint32_t address, int width, std::uint32_t value, bool check_halted) {
  std::uint32_t instruction;
  switch (width) {
    case 1: instruction = 0xE5C01000; break;  // STRB r1,[r0]
    case 2: instruction = 0xE1C010B0; break;  // STRH r1,[r0]
    case 4: instruction = kStrR1; break;      // STR r1,[r0]
    default: return false;
  }
  if (width == 2 && (address & 1)) return false;
  if (check_halted && !CheckHalted(kRunningStore)) return false;
  if (!SelectChain(1) || !Intest()) return false;
  Feed(kLdmR0R1, true);
  Feed(kArmNop, true);
  Feed(kArmNop, true);
  FeedData(address);
  FeedData(value);
  SystemSpeedAccess(instruction);
  return RestartForAccess();
}

bool Arm7Core::BlockLoad(std::uint32_t address, std::uint32_t* words, int count,
                         bool check_halted) {
  if (count % 8 != 0) return false;
  if (check_halted && !CheckHalted(kRunningBlockLoad)) return false;
  DriverState& s = *state_;
  if (!SelectChain(1)) {
    s.messenger.Report("Debug: Scan chains select Error!!\n");
    return false;
  }
  if (!Intest()) {
    s.messenger.Report("Debug: TAP Command send Error!!\n");
    return false;
  }
  if (s.wide_block_loads) return WideBlockLoad(address, words, count);
  for (int group = 0; group < count / 8; ++group) {
    Feed(kSubR0, true);
    Feed(kLdrR0, true);
    Feed(kArmNop, true);
    Feed(kArmNop, true);
    FeedData(address);
    SystemSpeedAccess(kLdm8);
    if (!RestartForAccess()) return false;
    if (!Intest()) return false;
    Feed(kStm8, true);
    Feed(kArmNop, true);
    Feed(kArmNop, true);
    for (int k = 0; k < 8; ++k) words[group * 8 + k] = FeedRead(kArmNop);
    address += 32;
  }
  return true;
}

// The address goes in once: LDMIA r14! leaves r14 at the next group, so a
// group costs the system-speed access, the store that brings the words out
// and one read per word. The last group loads only the words still wanted.
bool Arm7Core::WideBlockLoad(std::uint32_t address, std::uint32_t* words, int count) {
  Feed(kSubR0, true);
  Feed(kLdrR14, true);
  Feed(kArmNop, true);
  Feed(kArmNop, true);
  FeedData(address);
  for (int done = 0; done < count;) {
    const int n = std::min(kWideLoadWords, count - done);
    const std::uint32_t list = (1u << n) - 1;
    // Without a load before it, the first NOP of the access is fetched too.
    if (done > 0) Count(true);
    SystemSpeedAccess(kLdmR14Walk | list);
    if (!RestartForAccess()) return false;
    if (!Intest()) return false;
    Feed(kStmR14 | list, true);
    Feed(kArmNop, true);
    Feed(kArmNop, true);
    for (int k = 0; k < n; ++k) words[done + k] = FeedRead(kArmNop);
    done += n;
  }
  return true;
}

bool Arm7Core::BlockStore(std::uint32_t address, const std::uint32_t* words, int count,
                          bool check_halted) {
  if (count % 12 != 0) return false;
  if (check_halted && !CheckHalted(kRunningBlockStore)) return false;
  if (!SelectChain(1)) return false;
  for (int group = 0; group < count / 12; ++group) {
    if (!Intest()) return false;
    if (group == 0) Feed(kSubR0, true);
    Feed(kLdm13, true);
    Feed(kArmNop, true);
    Feed(kArmNop, true);
    for (int k = 0; k < 12; ++k) FeedData(words[group * 12 + k]);
    FeedData(address);  // r13: the store's base
    SystemSpeedAccess(kStm12);
    if (!RestartForAccess()) return false;
    address += 48;
  }
  return true;
}

}  // namespace drivers
