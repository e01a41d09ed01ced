#include "simboard/debug/arm_debug.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>

#include "platform/ticks.h"

namespace simboard {

namespace {

// The EmbeddedICE registers; the ARM9TDMI adds the vector catch register
// (and its debug control register has the single-step bit).
struct IceRegisterRow {
  IceRegisterInfo info;
  bool arm9_only;
};
constexpr IceRegisterRow kIceRegisters[] = {
    {{IceRegister::DebugControl, "debug control", 6, true}, false},
    {{IceRegister::DebugStatus, "debug status", 5, false}, false},
    {{IceRegister::VectorCatch, "vector catch", 8, true}, true},
    {{IceRegister::CommsControl, "debug comms control", 32, false}, false},
    {{IceRegister::CommsData, "debug comms data", 32, true}, false},
    {{IceRegister::Wp0AddressValue, "watchpoint 0 address value", 32, true}, false},
    {{IceRegister::Wp0AddressMask, "watchpoint 0 address mask", 32, true}, false},
    {{IceRegister::Wp0DataValue, "watchpoint 0 data value", 32, true}, false},
    {{IceRegister::Wp0DataMask, "watchpoint 0 data mask", 32, true}, false},
    {{IceRegister::Wp0ControlValue, "watchpoint 0 control value", 9, true}, false},
    {{IceRegister::Wp0ControlMask, "watchpoint 0 control mask", 8, true}, false},
    {{IceRegister::Wp1AddressValue, "watchpoint 1 address value", 32, true}, false},
    {{IceRegister::Wp1AddressMask, "watchpoint 1 address mask", 32, true}, false},
    {{IceRegister::Wp1DataValue, "watchpoint 1 data value", 32, true}, false},
    {{IceRegister::Wp1DataMask, "watchpoint 1 data mask", 32, true}, false},
    {{IceRegister::Wp1ControlValue, "watchpoint 1 control value", 9, true}, false},
    {{IceRegister::Wp1ControlMask, "watchpoint 1 control mask", 8, true}, false},
};

const IceRegisterInfo* FindIn(unsigned address, bool arm9) {
  for (const IceRegisterRow& row : kIceRegisters)
    if (static_cast<unsigned>(row.info.reg) == address && (arm9 || !row.arm9_only))
      return &row.info;
  return nullptr;
}

// Deterministic timing: a debugger action that may stop a running core lets
// it run this many instructions (at most the board's budget); each read of
// the debug status (the debugger waiting for a halt) runs it on by the
// budget, within the host-time bound.
constexpr std::uint64_t kRunSlice = 10000;
// A run looks at the host clock after each slice of this many instructions
// (well under a millisecond of host time).
constexpr std::uint64_t kHostCheckSlice = 50000;

std::uint64_t HostMicroseconds() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

std::uint32_t WidthMask(unsigned width) {
  return width >= 32 ? 0xFFFFFFFFu : ((1u << width) - 1);
}

}  // namespace

const IceRegisterInfo* FindIceRegister(unsigned address) { return FindIn(address, false); }
const IceRegisterInfo* FindArm9IceRegister(unsigned address) { return FindIn(address, true); }

std::uint32_t ReplicateOnLanes(std::uint32_t value, AccessSize size) {
  switch (size) {
    case AccessSize::Byte: return (value & 0xFF) * 0x01010101u;
    case AccessSize::Half: return (value & 0xFFFF) * 0x00010001u;
    default: return value;
  }
}

std::uint32_t DataBusLane(std::uint32_t word, std::uint32_t address, AccessSize size,
                          ByteOrder order) {
  unsigned shift = 0;
  if (size == AccessSize::Byte)
    shift = order == ByteOrder::Little ? 8 * (address & 3) : 8 * (3 - (address & 3));
  else if (size == AccessSize::Half)
    shift = order == ByteOrder::Little ? 8 * (address & 2) : 8 * (2 - (address & 2));
  else
    return word;
  return (word >> shift) & (size == AccessSize::Byte ? 0xFFu : 0xFFFFu);
}

std::uint32_t ReverseBits32(std::uint32_t v) {
  v = ((v >> 1) & 0x55555555u) | ((v & 0x55555555u) << 1);
  v = ((v >> 2) & 0x33333333u) | ((v & 0x33333333u) << 2);
  v = ((v >> 4) & 0x0F0F0F0Fu) | ((v & 0x0F0F0F0Fu) << 4);
  v = ((v >> 8) & 0x00FF00FFu) | ((v & 0x00FF00FFu) << 8);
  return (v >> 16) | (v << 16);
}

bool DebugDataBus::Read(std::uint32_t address, AccessSize size, AccessKind,
                        std::uint32_t& value) {
  std::uint32_t word = next_read_ < read_count_ ? reads_[next_read_] : 0;
  ++next_read_;
  value = DataBusLane(word, address, size, order_);
  return true;
}

bool DebugDataBus::Write(std::uint32_t, AccessSize size, std::uint32_t value) {
  writes_.push_back(ReplicateOnLanes(value, size));
  return true;
}

// The bare core: host milliseconds turn into instructions in real-time timing.
class ArmDebugLogic::OwnRunner : public CoreRunner {
 public:
  OwnRunner(ArmCore& core, const DebugSettings& settings) : core_(core), settings_(settings) {}
  RunResult Run(std::uint64_t max_instructions) override { return core_.Run(max_instructions); }
  RunResult CatchUp() override {
    std::uint64_t now = platform::TickCount64();
    std::uint64_t elapsed = now - last_ms_;
    if (!running_ || elapsed == 0) return {};
    last_ms_ = now;
    // A host that was away for long does not make the core run for ever.
    elapsed = std::min<std::uint64_t>(elapsed, 100);
    return core_.Run(elapsed * settings_.clock_khz);
  }
  void SetRunning(bool running) override {
    running_ = running;
    last_ms_ = platform::TickCount64();
  }
  void Reset() override { core_.Reset(); }

 private:
  ArmCore& core_;
  const DebugSettings& settings_;
  bool running_ = false;
  std::uint64_t last_ms_ = 0;
};

ArmDebugLogic::ArmDebugLogic(ArmCore& core, Bus& system_bus, const DebugSettings& settings,
                             CoreRunner* runner,
                             const IceRegisterInfo* (*find_register)(unsigned),
                             std::uint32_t comms_version)
    : core_(core), system_bus_(system_bus), settings_(settings), find_register_(find_register),
      comms_version_(comms_version) {
  if (runner == nullptr) {
    own_runner_ = std::make_unique<OwnRunner>(core_, settings_);
    runner = own_runner_.get();
  }
  runner_ = runner;
  idle_counter_ = runner_->IdleCounter();
  idle_per_tck_ = std::max<std::uint64_t>(1, settings_.clock_khz / 1000);
  core_.SetDebugObserver(this);
  core_.AttachCoprocessor(14, &comms_);
  SetRunning(true);
}

ArmDebugLogic::~ArmDebugLogic() {
  core_.SetDebugObserver(nullptr);
  core_.AttachCoprocessor(14, nullptr);
}

void ArmDebugLogic::SetRunning(bool running) { runner_->SetRunning(running); }

void ArmDebugLogic::Trace(const char* format, ...) const {
  if (!trace_) return;
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  trace_(line);
}

std::uint32_t ArmDebugLogic::CommsControl() const {
  return (comms_version_ << 28) | (comms_from_core_full_ ? 2u : 0u) | (comms_to_core_full_ ? 1u : 0u);
}

bool ArmDebugLogic::CommsChannel::Read(unsigned opcode1, unsigned crn, unsigned crm,
                                       unsigned opcode2, std::uint32_t& value) {
  if (opcode1 != 0 || crm != 0 || opcode2 != 0) return false;
  if (crn == 0) {
    value = logic_.CommsControl();
    return true;
  }
  if (crn == 1) {
    value = logic_.comms_to_core_;
    logic_.comms_to_core_full_ = false;
    return true;
  }
  return false;
}

bool ArmDebugLogic::CommsChannel::Write(unsigned opcode1, unsigned crn, unsigned crm,
                                        unsigned opcode2, std::uint32_t value) {
  if (opcode1 != 0 || crn != 1 || crm != 0 || opcode2 != 0) return false;
  logic_.comms_from_core_ = value;
  logic_.comms_from_core_full_ = true;
  return true;
}

// ---------------------------------------------------------------------------
// Scan chains

unsigned ArmDebugLogic::ChainLength(unsigned chain) const {
  switch (chain) {
    case 1: return Chain1Length();
    case 2: return kChain2Length;
    default: return OtherChainLength(chain);  // chain 0 and the board's chain 3 are not modelled
  }
}

ScanBits ArmDebugLogic::Capture(unsigned chain, bool intest) {
  (void)intest;
  Poll();
  if (chain == 1) return CaptureChain1();
  if (chain == 2) return Chain2Word(0, chain2_latch_, false);
  return CaptureOther(chain);
}

void ArmDebugLogic::Update(unsigned chain, bool intest, ScanBits value) {
  (void)intest;
  if (chain == 1) {
    UpdateChain1(value);
    return;
  }
  if (chain == 2) {
    unsigned address = static_cast<unsigned>((value >> 32) & 0x1F);
    bool write = ((value >> 37) & 1) != 0;
    if (address == static_cast<unsigned>(IceRegister::CommsControl) ||
        address == static_cast<unsigned>(IceRegister::CommsData))
      PayTckTime();
    if (write)
      WriteIceRegister(address, static_cast<std::uint32_t>(value));
    else
      chain2_latch_ = ReadIceRegister(address);
    return;
  }
  UpdateOther(chain, value);
}

void ArmDebugLogic::EnterRunTestIdle(unsigned instruction, unsigned chain) {
  if (instruction == tap_instruction::kRestart) {
    if (in_debug_ && !reset_asserted_) Restart();
  } else if (instruction == tap_instruction::kIntest && chain == 1 && in_debug_) {
    DebugClock();
  }
}

void ArmDebugLogic::TestLogicReset() { chain2_latch_ = 0; }

// ---------------------------------------------------------------------------
// EmbeddedICE registers

std::uint32_t ArmDebugLogic::ReadIceRegister(unsigned address) {
  const IceRegisterInfo* info = find_register_(address);
  if (!info) return 0;
  switch (info->reg) {
    case IceRegister::DebugControl: return debug_control_;
    case IceRegister::DebugStatus: {
      Poll();
      if (!in_debug_ && !reset_asserted_ && !settings_.real_time) RunCore(settings_.run_budget);
      std::uint32_t status = 0;
      if (in_debug_) status |= debug_status::kDbgAck | debug_status::kSysComp;
      if (debug_control_ & debug_control::kDbgRq) status |= debug_status::kDbgRq;
      if (!in_debug_ && !(debug_control_ & debug_control::kIntDis)) status |= debug_status::kIfEn;
      if (core_.Thumb()) status |= debug_status::kThumb;
      return status;
    }
    case IceRegister::VectorCatch: return vector_catch_;
    case IceRegister::CommsControl: return CommsControl();
    case IceRegister::CommsData:
      comms_from_core_full_ = false;
      return comms_from_core_;
    default: break;
  }
  unsigned unit = address >= 0x10 ? 1 : 0;
  const Watchpoint& w = units_[unit];
  switch (address & 7) {
    case 0: return w.address_value;
    case 1: return w.address_mask;
    case 2: return w.data_value;
    case 3: return w.data_mask;
    case 4: return w.control_value;
    default: return w.control_mask;
  }
}

void ArmDebugLogic::WriteIceRegister(unsigned address, std::uint32_t value) {
  const IceRegisterInfo* info = find_register_(address);
  if (!info || !info->writable) return;
  value &= WidthMask(info->width);
  Trace("ice %s := %08X", info->name, value);
  switch (info->reg) {
    case IceRegister::DebugControl:
      debug_control_ = value;
      ApplyDebugRequest();
      break;
    case IceRegister::VectorCatch:
      vector_catch_ = value;
      break;
    case IceRegister::CommsData:
      // A word the core has not read yet stays; the new one is lost.
      if (comms_to_core_full_) {
        ++counters_.comms_overruns;
        return;
      }
      comms_to_core_ = value;
      comms_to_core_full_ = true;
      // The core takes it in its own time, paid by the TCK periods that follow.
      if (!settings_.real_time) return;
      break;
    default: {
      unsigned unit = address >= 0x10 ? 1 : 0;
      Watchpoint& w = units_[unit];
      switch (address & 7) {
        case 0: w.address_value = value; break;
        case 1: w.address_mask = value; break;
        case 2: w.data_value = value; break;
        case 3: w.data_mask = value; break;
        case 4:
          w.control_value = value;
          chain_latch_ = false;
          break;
        default: w.control_mask = value; break;
      }
      break;
    }
  }
  // A running core may now meet the new condition.
  if (!in_debug_ && !reset_asserted_ && !settings_.real_time)
    RunCore(std::min(settings_.run_budget, kRunSlice));
}

void ArmDebugLogic::ApplyDebugRequest() {
  if ((debug_control_ & debug_control::kDbgRq) && !settings_.never_halt)
    core_.RequestHalt();
  else
    core_.ClearHaltRequest();
}

// ---------------------------------------------------------------------------
// Watchpoint units and vector catch

std::uint32_t ArmDebugLogic::AccessControl(AccessSize size, bool data, bool write) const {
  std::uint32_t mas = size == AccessSize::Byte ? 0 : size == AccessSize::Half ? 1 : 2;
  std::uint32_t control = mas << watch_control::kSizeShift;
  if (write) control |= watch_control::kWrite;
  if (data) control |= watch_control::kData;
  if (core_.CurrentMode() != Mode::User) control |= watch_control::kPrivileged;
  return control;
}

bool ArmDebugLogic::Matches(unsigned unit, std::uint32_t address, std::uint32_t data,
                            std::uint32_t control) const {
  const Watchpoint& w = units_[unit];
  return ((address ^ w.address_value) & ~w.address_mask) == 0 &&
         ((data ^ w.data_value) & ~w.data_mask) == 0 &&
         ((control ^ w.control_value) & ~w.control_mask & 0xFF) == 0;
}

bool ArmDebugLogic::CheckWatchpoints(std::uint32_t address, std::uint32_t data,
                                     std::uint32_t control) {
  if (settings_.never_halt) return false;
  bool enabled0 = (units_[0].control_value & watch_control::kEnable) != 0;
  bool enabled1 = (units_[1].control_value & watch_control::kEnable) != 0;
  if (!enabled0 && !enabled1) return false;
  // Unit 1's match drives unit 0's RANGE input; its latched match (CHAINOUT)
  // drives unit 0's CHAIN input. Unit 1's own RANGE, CHAIN and EXTERN inputs
  // are low.
  bool match1 = Matches(1, address, data, control);
  std::uint32_t control0 = control;
  if (match1) control0 |= watch_control::kRange;
  if (chain_latch_) control0 |= watch_control::kChain;
  bool match0 = Matches(0, address, data, control0);
  if (match1) chain_latch_ = true;
  return (match0 && enabled0) || (match1 && enabled1);
}

// Vector catch: a fetch from an exception vector whose bit is set is
// breakpointed (bit n for the vector at offset 4n; offset 0x14 is unused).
bool ArmDebugLogic::VectorCaught(std::uint32_t address) const {
  if (vector_catch_ == 0 || settings_.never_halt) return false;
  std::uint32_t offset = address - core_.VectorBase();
  if (offset > 0x1C || (offset & 3) != 0) return false;
  return (vector_catch_ >> (offset / 4)) & 1;
}

bool ArmDebugLogic::BeforeInstruction(std::uint32_t address, std::uint32_t opcode, bool thumb) {
  std::uint32_t data = thumb ? ReplicateOnLanes(opcode, AccessSize::Half) : opcode;
  bool watch = CheckWatchpoints(
      address, data, AccessControl(thumb ? AccessSize::Half : AccessSize::Word, false, false));
  return watch || VectorCaught(address);
}

bool ArmDebugLogic::WatchesInstructions() const {
  if (settings_.never_halt) return false;
  return vector_catch_ != 0 || (units_[0].control_value & watch_control::kEnable) != 0 ||
         (units_[1].control_value & watch_control::kEnable) != 0;
}

bool ArmDebugLogic::WatchesData() const {
  if (settings_.never_halt) return false;
  return (units_[0].control_value & watch_control::kEnable) != 0 ||
         (units_[1].control_value & watch_control::kEnable) != 0;
}

unsigned ArmDebugLogic::WatchedAddresses(bool data, WatchMatch* matches) const {
  unsigned count = 0;
  const bool armed = (units_[0].control_value & watch_control::kEnable) != 0 ||
                     (units_[1].control_value & watch_control::kEnable) != 0;
  if (armed && !settings_.never_halt) {
    // Either unit counts, armed or not: unit 1's match feeds unit 0.
    for (const Watchpoint& w : units_) {
      // nOPC compared, and against the other kind of access: never matches.
      const bool kind_compared = (w.control_mask & watch_control::kData) == 0;
      const bool wants_data = (w.control_value & watch_control::kData) != 0;
      if (kind_compared && wants_data != data) continue;
      matches[count++] = WatchMatch{w.address_value, w.address_mask, w.data_value, w.data_mask};
    }
  }
  return count;
}

unsigned ArmDebugLogic::WatchedInstructions(WatchMatch* matches) const {
  unsigned count = WatchedAddresses(false, matches);
  if (vector_catch_ != 0 && !settings_.never_halt) {
    // Both vector bases: the core may move its vectors while it runs.
    matches[count++] = WatchMatch{0x00000000u, 0x1Fu, 0, 0xFFFFFFFFu};
    matches[count++] = WatchMatch{0xFFFF0000u, 0x1Fu, 0, 0xFFFFFFFFu};
  }
  return count;
}

unsigned ArmDebugLogic::WatchedData(WatchMatch* matches) const {
  return WatchedAddresses(true, matches);
}

bool ArmDebugLogic::AfterDataAccess(std::uint32_t address, AccessSize size, std::uint32_t value,
                                    bool write) {
  return CheckWatchpoints(address, ReplicateOnLanes(value, size),
                          AccessControl(size, true, write));
}

// ---------------------------------------------------------------------------
// Running, reset and debug entry

void ArmDebugLogic::HandleRunResult(const RunResult& result) {
  counters_.run_instructions += result.instructions;
  if (result.last.outcome != StepOutcome::Halted) return;
  switch (result.last.halt) {
    case HaltReason::Breakpoint: EnterDebugState(DebugEntry::Breakpoint); break;
    case HaltReason::Watchpoint:
      // The core may run one more instruction before it stops.
      if (AfterWatchpoint() && !in_debug_) EnterDebugState(DebugEntry::Watchpoint);
      break;
    case HaltReason::DebugRequest: EnterDebugState(DebugEntry::DebugRequest); break;
    default: break;
  }
}

DebugEntry ArmDebugLogic::RunAndCatch(std::uint64_t count) {
  RunResult result = runner_->Run(count);
  counters_.run_instructions += result.instructions;
  if (result.last.outcome != StepOutcome::Halted) return DebugEntry::None;
  switch (result.last.halt) {
    case HaltReason::Breakpoint: return DebugEntry::Breakpoint;
    case HaltReason::Watchpoint: return DebugEntry::Watchpoint;
    case HaltReason::DebugRequest: return DebugEntry::DebugRequest;
    default: return DebugEntry::None;
  }
}

void ArmDebugLogic::RunCore(std::uint64_t max_instructions) {
  if (in_debug_ || reset_asserted_ || max_instructions == 0) return;
  // Slices of the run, each short against the host-time bound; the core
  // stops where it is when the bound has passed, and goes on at the next
  // action of the debugger.
  const std::uint64_t started = HostMicroseconds();
  const std::uint64_t outside = started - std::min(started, last_run_end_us_);
  const std::uint64_t bound =
      std::clamp(outside, settings_.run_host_us,
                 std::max(settings_.run_host_us, settings_.run_host_longest_us));
  while (max_instructions > 0) {
    const RunResult result = runner_->Run(std::min(max_instructions, kHostCheckSlice));
    HandleRunResult(result);
    if (result.last.outcome == StepOutcome::Halted || in_debug_ || reset_asserted_) break;
    if (result.instructions == 0) break;
    max_instructions -= std::min(max_instructions, result.instructions);
    if (HostMicroseconds() - started >= bound) break;
  }
  last_run_end_us_ = HostMicroseconds();
}

void ArmDebugLogic::PayTckTime() {
  const std::uint64_t owed = tck_while_running_ * idle_per_tck_;
  tck_while_running_ = 0;
  if (settings_.real_time || in_debug_ || reset_asserted_) return;
  const std::uint64_t start = core_.CycleCount();
  while (!in_debug_ && !reset_asserted_) {
    const std::uint64_t spent = core_.CycleCount() - start;
    if (spent >= owed) return;
    // An instruction takes a few cycles: slices of a quarter of what is
    // owed in instructions never run far past it.
    const std::uint64_t before = core_.CycleCount();
    RunCore(std::max<std::uint64_t>(1, (owed - spent) / 4));
    if (core_.CycleCount() == before) return;
  }
}

void ArmDebugLogic::Poll() {
  if (!settings_.real_time) return;
  // Also under a halted core: the board's clock moves on.
  HandleRunResult(runner_->CatchUp());
}

void ArmDebugLogic::SetSystemReset(bool asserted) {
  if (asserted == reset_asserted_) return;
  reset_asserted_ = asserted;
  if (asserted) {
    in_debug_ = false;
    ClearPipeline();
    SetRunning(false);
    runner_->Reset();
    return;
  }
  runner_->Reset();
  ApplyDebugRequest();
  SetRunning(true);
  if (!settings_.real_time) RunCore(settings_.run_budget);
}

void ArmDebugLogic::EnterDebugState(DebugEntry entry) {
  in_debug_ = true;
  tck_while_running_ = 0;
  SetRunning(false);
  last_entry_ = entry;
  ++counters_.debug_entries;
  StartDebugPipeline(entry);
  Trace("enter debug state (%s) at %08X", entry == DebugEntry::Breakpoint ? "breakpoint"
        : entry == DebugEntry::Watchpoint ? "watchpoint" : "debug request", core_.Pc());
}

void ArmDebugLogic::LeaveDebugState(std::uint32_t resume_address) {
  in_debug_ = false;
  ClearPipeline();
  core_.SetPc(resume_address);
  Trace("leave debug state to %08X%s", resume_address, core_.Thumb() ? " (THUMB)" : "");
  ApplyDebugRequest();
  SetRunning(true);
  if (HasSingleStep() && (debug_control_ & debug_control::kSingleStep) && !settings_.never_halt) {
    // One instruction, then debug state as at a breakpoint on the next one.
    DebugEntry entry = RunAndCatch(1);
    if (!in_debug_) EnterDebugState(entry == DebugEntry::None ? DebugEntry::Breakpoint : entry);
    return;
  }
  if (!settings_.real_time) RunCore(settings_.run_budget);
}

bool ArmDebugLogic::ConditionPassed(unsigned cond) const {
  std::uint32_t cpsr = core_.Cpsr();
  bool n = cpsr & psr::kN, z = cpsr & psr::kZ, c = cpsr & psr::kC, v = cpsr & psr::kV;
  switch (cond & 0xF) {
    case 0x0: return z;
    case 0x1: return !z;
    case 0x2: return c;
    case 0x3: return !c;
    case 0x4: return n;
    case 0x5: return !n;
    case 0x6: return v;
    case 0x7: return !v;
    case 0x8: return c && !z;
    case 0x9: return !c || z;
    case 0xA: return n == v;
    case 0xB: return n != v;
    case 0xC: return !z && n == v;
    case 0xD: return z || n != v;
    case 0xE: return true;
    default: return false;
  }
}

// In debug state the core is privileged whatever its mode: an MSR that
// writes the CPSR control field changes the mode even from User mode, which
// debuggers rely on to reach every bank.
void ArmDebugLogic::PrivilegeForMsr(std::uint32_t opcode, bool thumb) {
  if (thumb || core_.CurrentMode() != Mode::User) return;
  bool msr_immediate = (opcode & 0x0FB0F000u) == 0x0320F000u;
  bool msr_register = (opcode & 0x0FB0FFF0u) == 0x0120F000u;
  bool control_field = (opcode & (1u << 16)) != 0;
  if ((msr_immediate || msr_register) && control_field && ConditionPassed(opcode >> 28))
    core_.SetCpsr(core_.Cpsr() | static_cast<std::uint32_t>(Mode::System));  // same registers
}

}  // namespace simboard
