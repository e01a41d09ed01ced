#include "simboard/arm7_debug.h"

#include <algorithm>
#include <bit>
#include <cstdarg>
#include <cstdio>

#include "platform/ticks.h"

namespace simboard {

namespace {

constexpr IceRegisterInfo kIceRegisters[] = {
    {IceRegister::DebugControl, "debug control", 6, true},
    {IceRegister::DebugStatus, "debug status", 5, false},
    {IceRegister::CommsControl, "debug comms control", 32, false},
    {IceRegister::CommsData, "debug comms data", 32, true},
    {IceRegister::Wp0AddressValue, "watchpoint 0 address value", 32, true},
    {IceRegister::Wp0AddressMask, "watchpoint 0 address mask", 32, true},
    {IceRegister::Wp0DataValue, "watchpoint 0 data value", 32, true},
    {IceRegister::Wp0DataMask, "watchpoint 0 data mask", 32, true},
    {IceRegister::Wp0ControlValue, "watchpoint 0 control value", 9, true},
    {IceRegister::Wp0ControlMask, "watchpoint 0 control mask", 8, true},
    {IceRegister::Wp1AddressValue, "watchpoint 1 address value", 32, true},
    {IceRegister::Wp1AddressMask, "watchpoint 1 address mask", 32, true},
    {IceRegister::Wp1DataValue, "watchpoint 1 data value", 32, true},
    {IceRegister::Wp1DataMask, "watchpoint 1 data mask", 32, true},
    {IceRegister::Wp1ControlValue, "watchpoint 1 control value", 9, true},
    {IceRegister::Wp1ControlMask, "watchpoint 1 control mask", 8, true},
};

// The version field of the comms control register (bits 31..28).
constexpr std::uint32_t kCommsVersion = 0x1u << 28;

// Deterministic timing: a debugger action that may stop a running core lets
// it run this many instructions (at most the board's budget), and each read
// of the debug status (the debugger waiting for a halt) this many more.
constexpr std::uint64_t kRunSlice = 10000;
constexpr std::uint64_t kPollSlice = 1000000;

std::uint32_t WidthMask(unsigned width) {
  return width >= 32 ? 0xFFFFFFFFu : ((1u << width) - 1);
}

std::uint32_t Replicate(std::uint32_t value, AccessSize size) {
  switch (size) {
    case AccessSize::Byte: return (value & 0xFF) * 0x01010101u;
    case AccessSize::Half: return (value & 0xFFFF) * 0x00010001u;
    default: return value;
  }
}

// The value a byte or halfword access takes from a word on the data bus.
std::uint32_t Lane(std::uint32_t word, std::uint32_t address, AccessSize size, ByteOrder order) {
  unsigned shift = 0;
  if (size == AccessSize::Byte)
    shift = order == ByteOrder::Little ? 8 * (address & 3) : 8 * (3 - (address & 3));
  else if (size == AccessSize::Half)
    shift = order == ByteOrder::Little ? 8 * (address & 2) : 8 * (2 - (address & 2));
  else
    return word;
  return (word >> shift) & (size == AccessSize::Byte ? 0xFFu : 0xFFFFu);
}

// The data bus as an instruction executed in debug state sees it: loads
// take the words the debugger scanned in, stores leave their words for the
// debugger to capture.
class DebugDataBus : public Bus {
 public:
  DebugDataBus(const std::uint32_t* reads, unsigned read_count, std::uint32_t* writes,
               unsigned& write_count, ByteOrder order)
      : reads_(reads), read_count_(read_count), writes_(writes), write_count_(write_count),
        order_(order) {}

  bool Read(std::uint32_t address, AccessSize size, AccessKind, std::uint32_t& value) override {
    std::uint32_t word = next_read_ < read_count_ ? reads_[next_read_] : 0;
    ++next_read_;
    value = Lane(word, address, size, order_);
    return true;
  }
  bool Write(std::uint32_t, AccessSize size, std::uint32_t value) override {
    if (write_count_ < 16) writes_[write_count_++] = Replicate(value, size);
    return true;
  }

 private:
  const std::uint32_t* reads_;
  unsigned read_count_;
  unsigned next_read_ = 0;
  std::uint32_t* writes_;
  unsigned& write_count_;
  ByteOrder order_;
};

std::uint32_t Reverse32(std::uint32_t v) {
  v = ((v >> 1) & 0x55555555u) | ((v & 0x55555555u) << 1);
  v = ((v >> 2) & 0x33333333u) | ((v & 0x33333333u) << 2);
  v = ((v >> 4) & 0x0F0F0F0Fu) | ((v & 0x0F0F0F0Fu) << 4);
  v = ((v >> 8) & 0x00FF00FFu) | ((v & 0x00FF00FFu) << 8);
  return (v >> 16) | (v << 16);
}

}  // namespace

const IceRegisterInfo* FindIceRegister(unsigned address) {
  for (const IceRegisterInfo& info : kIceRegisters)
    if (static_cast<unsigned>(info.reg) == address) return &info;
  return nullptr;
}

std::uint64_t Chain1Word(std::uint32_t data, bool breakpt) {
  return (std::uint64_t{Reverse32(data)} << 1) | (breakpt ? 1u : 0u);
}

std::uint32_t Chain1Data(std::uint64_t bits) {
  return Reverse32(static_cast<std::uint32_t>(bits >> 1));
}

void Arm7DebugLogic::Plan::Add(Cycle c, unsigned n) {
  for (unsigned i = 0; i < n && count < cycles.size(); ++i) {
    cycles[count++] = c;
    if (c == Cycle::Read) ++reads;
  }
}

// The bare core: host milliseconds turn into instructions in real-time timing.
class Arm7DebugLogic::OwnRunner : public CoreRunner {
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

Arm7DebugLogic::Arm7DebugLogic(ArmCore& core, Bus& system_bus, const DebugSettings& settings,
                               CoreRunner* runner)
    : core_(core), system_bus_(system_bus), settings_(settings) {
  if (runner == nullptr) {
    own_runner_ = std::make_unique<OwnRunner>(core_, settings_);
    runner = own_runner_.get();
  }
  runner_ = runner;
  core_.SetDebugObserver(this);
  core_.AttachCoprocessor(14, &comms_);
  SetRunning(true);
}

void Arm7DebugLogic::SetRunning(bool running) { runner_->SetRunning(running); }

void Arm7DebugLogic::Trace(const char* format, ...) const {
  if (!trace_) return;
  char line[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  trace_(line);
}

Arm7DebugLogic::~Arm7DebugLogic() {
  core_.SetDebugObserver(nullptr);
  core_.AttachCoprocessor(14, nullptr);
}

std::uint32_t Arm7DebugLogic::CommsControl() const {
  return kCommsVersion | (comms_from_core_full_ ? 2u : 0u) | (comms_to_core_full_ ? 1u : 0u);
}

bool Arm7DebugLogic::CommsChannel::Read(unsigned opcode1, unsigned crn, unsigned crm,
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

bool Arm7DebugLogic::CommsChannel::Write(unsigned opcode1, unsigned crn, unsigned crm,
                                         unsigned opcode2, std::uint32_t value) {
  if (opcode1 != 0 || crn != 1 || crm != 0 || opcode2 != 0) return false;
  logic_.comms_from_core_ = value;
  logic_.comms_from_core_full_ = true;
  return true;
}

// ---------------------------------------------------------------------------
// Scan chains

unsigned Arm7DebugLogic::ChainLength(unsigned chain) const {
  switch (chain) {
    case 1: return kChain1Length;
    case 2: return kChain2Length;
    default: return 0;  // chain 0 (macrocell) and chain 3 (board boundary) are not modelled
  }
}

std::uint64_t Arm7DebugLogic::Capture(unsigned chain, bool intest) {
  Poll();
  if (chain == 1) {
    (void)intest;
    return Chain1Word(bus_out_, in_debug_ && breakpt_capture_);
  }
  if (chain == 2) return Chain2Word(0, chain2_latch_, false);
  return 0;
}

void Arm7DebugLogic::Update(unsigned chain, bool intest, std::uint64_t value) {
  if (chain == 1) {
    // The update register drives the data bus; the core takes it at the
    // next DCLK.
    (void)intest;
    chain1_update_ = Chain1Data(value);
    chain1_update_breakpt_ = (value & 1) != 0;
    return;
  }
  if (chain == 2) {
    unsigned address = static_cast<unsigned>((value >> 32) & 0x1F);
    bool write = ((value >> 37) & 1) != 0;
    if (write)
      WriteIceRegister(address, static_cast<std::uint32_t>(value));
    else
      chain2_latch_ = ReadIceRegister(address);
  }
}

void Arm7DebugLogic::EnterRunTestIdle(unsigned instruction, unsigned chain) {
  if (instruction == tap_instruction::kRestart)
    RestartCore();
  else if (instruction == tap_instruction::kIntest && chain == 1 && in_debug_)
    Dclk(chain1_update_, chain1_update_breakpt_);
}

void Arm7DebugLogic::TestLogicReset() { chain2_latch_ = 0; }

// ---------------------------------------------------------------------------
// EmbeddedICE registers

std::uint32_t Arm7DebugLogic::ReadIceRegister(unsigned address) {
  const IceRegisterInfo* info = FindIceRegister(address);
  if (!info) return 0;
  switch (info->reg) {
    case IceRegister::DebugControl: return debug_control_;
    case IceRegister::DebugStatus: {
      Poll();
      if (!in_debug_ && !reset_asserted_ && !settings_.real_time)
        RunCore(std::min(settings_.run_budget, kPollSlice));
      std::uint32_t status = 0;
      if (in_debug_) status |= debug_status::kDbgAck | debug_status::kSysComp;
      if (debug_control_ & debug_control::kDbgRq) status |= debug_status::kDbgRq;
      if (!in_debug_ && !(debug_control_ & debug_control::kIntDis)) status |= debug_status::kIfEn;
      if (core_.Thumb()) status |= debug_status::kThumb;
      return status;
    }
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

void Arm7DebugLogic::WriteIceRegister(unsigned address, std::uint32_t value) {
  const IceRegisterInfo* info = FindIceRegister(address);
  if (!info || !info->writable) return;
  value &= WidthMask(info->width);
  switch (info->reg) {
    case IceRegister::DebugControl:
      debug_control_ = value;
      ApplyDebugRequest();
      break;
    case IceRegister::CommsData:
      comms_to_core_ = value;
      comms_to_core_full_ = true;
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

void Arm7DebugLogic::ApplyDebugRequest() {
  if ((debug_control_ & debug_control::kDbgRq) && !settings_.never_halt)
    core_.RequestHalt();
  else
    core_.ClearHaltRequest();
}

// ---------------------------------------------------------------------------
// Watchpoint units

std::uint32_t Arm7DebugLogic::AccessControl(AccessSize size, bool data, bool write) const {
  std::uint32_t mas = size == AccessSize::Byte ? 0 : size == AccessSize::Half ? 1 : 2;
  std::uint32_t control = mas << watch_control::kSizeShift;
  if (write) control |= watch_control::kWrite;
  if (data) control |= watch_control::kData;
  if (core_.CurrentMode() != Mode::User) control |= watch_control::kPrivileged;
  return control;
}

bool Arm7DebugLogic::Matches(unsigned unit, std::uint32_t address, std::uint32_t data,
                             std::uint32_t control) const {
  const Watchpoint& w = units_[unit];
  return ((address ^ w.address_value) & ~w.address_mask) == 0 &&
         ((data ^ w.data_value) & ~w.data_mask) == 0 &&
         ((control ^ w.control_value) & ~w.control_mask & 0xFF) == 0;
}

bool Arm7DebugLogic::CheckWatchpoints(std::uint32_t address, std::uint32_t data,
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

bool Arm7DebugLogic::BeforeInstruction(std::uint32_t address, std::uint32_t opcode, bool thumb) {
  std::uint32_t data = thumb ? Replicate(opcode, AccessSize::Half) : opcode;
  return CheckWatchpoints(address, data,
                          AccessControl(thumb ? AccessSize::Half : AccessSize::Word, false, false));
}

bool Arm7DebugLogic::AfterDataAccess(std::uint32_t address, AccessSize size, std::uint32_t value,
                                     bool write) {
  return CheckWatchpoints(address, Replicate(value, size), AccessControl(size, true, write));
}

// ---------------------------------------------------------------------------
// Running, reset and debug entry

void Arm7DebugLogic::RunCore(std::uint64_t max_instructions) {
  if (in_debug_ || reset_asserted_ || max_instructions == 0) return;
  RunResult result = runner_->Run(max_instructions);
  counters_.run_instructions += result.instructions;
  if (result.last.outcome != StepOutcome::Halted) return;
  switch (result.last.halt) {
    case HaltReason::Breakpoint: EnterDebugState(DebugEntry::Breakpoint); break;
    case HaltReason::Watchpoint: EnterDebugState(DebugEntry::Watchpoint); break;
    case HaltReason::DebugRequest: EnterDebugState(DebugEntry::DebugRequest); break;
    default: break;
  }
}

void Arm7DebugLogic::Poll() {
  if (!settings_.real_time) return;
  // Also under a halted core: the board's clock moves on.
  RunResult result = runner_->CatchUp();
  counters_.run_instructions += result.instructions;
  if (result.last.outcome == StepOutcome::Halted) {
    switch (result.last.halt) {
      case HaltReason::Breakpoint: EnterDebugState(DebugEntry::Breakpoint); break;
      case HaltReason::Watchpoint: EnterDebugState(DebugEntry::Watchpoint); break;
      case HaltReason::DebugRequest: EnterDebugState(DebugEntry::DebugRequest); break;
      default: break;
    }
  }
}

void Arm7DebugLogic::TckCycle() {
  if ((in_debug_ || reset_asserted_) && !settings_.real_time)
    runner_->Idle(std::max<std::uint64_t>(1, settings_.clock_khz / 1000));
}

void Arm7DebugLogic::SetSystemReset(bool asserted) {
  if (asserted == reset_asserted_) return;
  reset_asserted_ = asserted;
  if (asserted) {
    in_debug_ = false;
    queue_.clear();
    exec_ = {};
    flush_pending_ = false;
    system_speed_armed_ = false;
    SetRunning(false);
    runner_->Reset();
    return;
  }
  runner_->Reset();
  ApplyDebugRequest();
  SetRunning(true);
  if (!settings_.real_time) RunCore(settings_.run_budget);
}

void Arm7DebugLogic::EnterDebugState(DebugEntry entry) {
  in_debug_ = true;
  SetRunning(false);
  last_entry_ = entry;
  ++counters_.debug_entries;
  queue_.clear();
  exec_ = {};
  flush_pending_ = false;
  system_speed_armed_ = false;
  bus_in_ = bus_out_ = 0;
  // The address of the first instruction the debugger clocks in, as its R15
  // shows it: three instructions past the one to return to after a
  // breakpoint or watchpoint, two after a debug request (the manual's "PC
  // behaviour during debug": exit with a branch of -(4 + N + 3S) after a
  // breakpoint, one less after a debug request).
  unsigned size = InstructionSize();
  unsigned ahead = entry == DebugEntry::DebugRequest ? 2 : 3;
  fetch_address_ = core_.Pc() + ahead * size;
  breakpt_capture_ = entry == DebugEntry::Watchpoint;
  Trace("enter debug state (%s) at %08X", entry == DebugEntry::Breakpoint ? "breakpoint"
        : entry == DebugEntry::Watchpoint ? "watchpoint" : "debug request", core_.Pc());
}

void Arm7DebugLogic::LeaveDebugState(std::uint32_t resume_address) {
  in_debug_ = false;
  queue_.clear();
  exec_ = {};
  flush_pending_ = false;
  system_speed_armed_ = false;
  core_.SetPc(resume_address);
  Trace("leave debug state to %08X%s", resume_address, core_.Thumb() ? " (THUMB)" : "");
  ApplyDebugRequest();
  SetRunning(true);
  if (!settings_.real_time) RunCore(settings_.run_budget);
}

// ---------------------------------------------------------------------------
// The debug-state pipeline

std::uint32_t Arm7DebugLogic::OpcodeOf(const Fetched& f) const {
  if (!core_.Thumb()) return f.word;
  bool upper = ((f.address & 2) != 0) == (core_.Order() == ByteOrder::Little);
  return upper ? f.word >> 16 : f.word & 0xFFFF;
}

bool Arm7DebugLogic::ConditionPassed(unsigned cond) const {
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

unsigned Arm7DebugLogic::MultiplyCycles(std::uint32_t rs) const {
  // Early termination of the ARM7TDMI multiplier on the bytes of Rs.
  if ((rs & 0xFFFFFF00u) == 0 || (rs & 0xFFFFFF00u) == 0xFFFFFF00u) return 1;
  if ((rs & 0xFFFF0000u) == 0 || (rs & 0xFFFF0000u) == 0xFFFF0000u) return 2;
  if ((rs & 0xFF000000u) == 0 || (rs & 0xFF000000u) == 0xFF000000u) return 3;
  return 4;
}

// The bus cycles of one instruction on the ARM7TDMI (technical reference
// manual, "Instruction cycle timings"): the first cycle also prefetches; a
// write to the PC adds two refill fetches.
Arm7DebugLogic::Plan Arm7DebugLogic::PlanCycles(std::uint32_t op, bool thumb) const {
  Plan plan;
  plan.Add(Cycle::First);
  auto load = [&plan](unsigned words, bool to_pc) {
    plan.Add(Cycle::Read, words);
    plan.Add(Cycle::Internal);
    if (to_pc) plan.Add(Cycle::Refill, 2);
  };
  auto branch = [&plan]() { plan.Add(Cycle::Refill, 2); };
  if (!thumb) {
    if (!ConditionPassed(op >> 28)) return plan;
    if ((op & 0x0FFFFFF0u) == 0x012FFF10u) {  // BX
      branch();
    } else if ((op & 0x0FC000F0u) == 0x00000090u) {  // MUL, MLA
      plan.Add(Cycle::Internal, MultiplyCycles(core_.Register((op >> 8) & 15)) +
                                    ((op >> 21) & 1));
    } else if ((op & 0x0F8000F0u) == 0x00800090u) {  // long multiplies
      plan.Add(Cycle::Internal, MultiplyCycles(core_.Register((op >> 8) & 15)) + 1 +
                                    ((op >> 21) & 1));
    } else if ((op & 0x0FB00FF0u) == 0x01000090u) {  // SWP, SWPB
      plan.Add(Cycle::Read);
      plan.Add(Cycle::Write);
      plan.Add(Cycle::Internal);
    } else if ((op & 0x0E000090u) == 0x00000090u && (op & 0x60u) != 0) {  // halfword, signed
      if (op & (1u << 20))
        load(1, ((op >> 12) & 15) == 15);
      else
        plan.Add(Cycle::Write);
    } else if ((op & 0x0C000000u) == 0) {  // data processing, MRS, MSR
      if (!(op & (1u << 25)) && (op & 0x10u)) plan.Add(Cycle::Internal);  // shift by register
      unsigned opcode = (op >> 21) & 15;
      bool writes_rd = opcode < 8 || opcode > 11;
      if (writes_rd && ((op >> 12) & 15) == 15) branch();
    } else if ((op & 0x0E000010u) == 0x06000010u) {  // undefined
    } else if ((op & 0x0C000000u) == 0x04000000u) {  // LDR, STR
      if (op & (1u << 20))
        load(1, ((op >> 12) & 15) == 15);
      else
        plan.Add(Cycle::Write);
    } else if ((op & 0x0E000000u) == 0x08000000u) {  // LDM, STM
      unsigned n = std::max(1, std::popcount(op & 0xFFFFu));
      if (op & (1u << 20))
        load(n, (op & 0x8000u) != 0);
      else
        plan.Add(Cycle::Write, n);
    } else if ((op & 0x0E000000u) == 0x0A000000u) {  // B, BL
      branch();
    }
    return plan;
  }
  op &= 0xFFFF;
  bool l = (op & 0x0800u) != 0;
  if ((op & 0xF800u) == 0x4800u) {  // LDR Rd, [PC, #imm]
    load(1, false);
  } else if ((op & 0xFC00u) == 0x4400u) {  // high-register operations, BX
    unsigned sub = (op >> 8) & 3;
    unsigned rd = (op & 7) | ((op >> 4) & 8);
    if (sub == 3 || (rd == 15 && sub != 1)) branch();
  } else if ((op & 0xFC00u) == 0x4000u) {  // ALU operations
    unsigned alu = (op >> 6) & 15;
    if (alu == 13)
      plan.Add(Cycle::Internal, MultiplyCycles(core_.Register(op & 7)));
    else if (alu == 2 || alu == 3 || alu == 4 || alu == 7)
      plan.Add(Cycle::Internal);  // shift by register
  } else if ((op & 0xF000u) == 0x5000u) {  // register offset
    bool is_load = (op & 0x0200u) ? (op & 0x0C00u) != 0 : l;
    if (is_load)
      load(1, false);
    else
      plan.Add(Cycle::Write);
  } else if ((op & 0xE000u) == 0x6000u || (op & 0xF000u) == 0x8000u ||
             (op & 0xF000u) == 0x9000u) {  // immediate offset, halfword, SP-relative
    if (l)
      load(1, false);
    else
      plan.Add(Cycle::Write);
  } else if ((op & 0xF600u) == 0xB400u) {  // PUSH, POP
    unsigned n = std::popcount(op & 0xFFu) + ((op >> 8) & 1);
    n = std::max(1u, n);
    if (l)
      load(n, (op & 0x0100u) != 0);
    else
      plan.Add(Cycle::Write, n);
  } else if ((op & 0xF000u) == 0xC000u) {  // LDMIA, STMIA
    unsigned n = std::max(1, std::popcount(op & 0xFFu));
    if (l)
      load(n, false);
    else
      plan.Add(Cycle::Write, n);
  } else if ((op & 0xF000u) == 0xD000u) {  // conditional branch, SWI
    unsigned cond = (op >> 8) & 15;
    if (cond < 14 && ConditionPassed(cond)) branch();
  } else if ((op & 0xF800u) == 0xE000u) {  // B
    branch();
  } else if ((op & 0xF800u) == 0xF800u) {  // BL, second half
    branch();
  }
  return plan;
}

// In debug state the core is privileged whatever its mode: an MSR that
// writes the CPSR control field changes the mode even from User mode, which
// debuggers rely on to reach every bank.
void Arm7DebugLogic::PrivilegeForMsr(std::uint32_t opcode, bool thumb) {
  if (thumb || core_.CurrentMode() != Mode::User) return;
  bool msr_immediate = (opcode & 0x0FB0F000u) == 0x0320F000u;
  bool msr_register = (opcode & 0x0FB0FFF0u) == 0x0120F000u;
  bool control_field = (opcode & (1u << 16)) != 0;
  if ((msr_immediate || msr_register) && control_field && ConditionPassed(opcode >> 28))
    core_.SetCpsr(core_.Cpsr() | static_cast<std::uint32_t>(Mode::System));  // same registers
}

void Arm7DebugLogic::ExecuteNow(Bus* bus) {
  exec_.executed = true;
  std::uint32_t opcode = OpcodeOf(exec_.insn);
  bool thumb = core_.Thumb();
  PrivilegeForMsr(opcode, thumb);
  core_.SetPc(exec_.insn.address);
  exec_.write_count = 0;
  DebugDataBus data_bus(exec_.reads.data(), exec_.read_count, exec_.writes.data(),
                        exec_.write_count, core_.Order());
  StepResult result = core_.ExecuteInstruction(opcode, thumb, bus ? *bus : data_bus);
  ++counters_.debug_instructions;
  Trace("debug %08X: %0*X reads %u first %08X writes %u first %08X%s", exec_.insn.address,
        thumb ? 4 : 8, opcode, exec_.read_count, exec_.reads[0], exec_.write_count,
        exec_.writes[0], result.pc_written ? " pc written" : "");
  if (result.pc_written) {
    flush_pending_ = true;
    flush_target_ = core_.Pc();
  }
}

void Arm7DebugLogic::StartExecution(const Fetched& f) {
  exec_ = {};
  exec_.active = true;
  exec_.insn = f;
  exec_.plan = PlanCycles(OpcodeOf(f), core_.Thumb());
  if (f.breakpt) system_speed_armed_ = true;
  // Loads run when their last word has come in; everything else at once,
  // so stores have their data ready for the write cycles.
  if (exec_.plan.reads == 0) ExecuteNow(nullptr);
}

void Arm7DebugLogic::Dclk(std::uint32_t word, bool breakpt) {
  ++edge_;
  runner_->Idle(1);
  bus_in_ = word;
  breakpt_capture_ = false;
  // The cycle that ends with this clock.
  bool fetch = true;
  if (exec_.active) {
    Cycle ending = exec_.plan.cycles[exec_.index++];
    fetch = ending == Cycle::First || ending == Cycle::Refill;
    if (ending == Cycle::Read) {
      if (exec_.read_count < exec_.reads.size()) exec_.reads[exec_.read_count++] = word;
      if (exec_.read_count == exec_.plan.reads) ExecuteNow(nullptr);
    }
  }
  if (trace_)
    Trace("dclk %08X%s%s", word, breakpt ? " BREAKPT" : "",
          fetch ? "" : exec_.plan.cycles[exec_.index - 1] == Cycle::Read ? " (read)" : " (no fetch)");
  if (fetch) {
    queue_.push_back({word, breakpt, fetch_address_, edge_});
    fetch_address_ += InstructionSize();
  }
  if (flush_pending_) {
    // A write to the PC throws away what the pipeline has fetched; the
    // refill cycles fetch from the new address.
    flush_pending_ = false;
    queue_.clear();
    fetch_address_ = flush_target_;
  }
  if (exec_.active && exec_.index >= exec_.plan.count) exec_.active = false;
  // The cycle that begins: the oldest decoded instruction moves to execute.
  if (!exec_.active && !queue_.empty() && queue_.front().edge < edge_) {
    Fetched next = queue_.front();
    queue_.pop_front();
    StartExecution(next);
  }
  bus_out_ = bus_in_;
  if (exec_.active && exec_.plan.cycles[exec_.index] == Cycle::Write &&
      exec_.write_index < exec_.write_count)
    bus_out_ = exec_.writes[exec_.write_index++];
}

void Arm7DebugLogic::RestartCore() {
  if (!in_debug_ || reset_asserted_) return;
  // What the pipeline holds and has not executed, in program order.
  std::vector<Fetched> pending;
  if (exec_.active && !exec_.executed) pending.push_back(exec_.insn);
  pending.insert(pending.end(), queue_.begin(), queue_.end());
  flush_pending_ = false;
  int marker = -1;
  for (std::size_t i = 0; i < pending.size(); ++i)
    if (pending[i].breakpt) marker = static_cast<int>(i);
  bool system_speed = system_speed_armed_ || marker >= 0;
  // Instructions up to the marked one finish at debug speed.
  std::size_t i = 0;
  for (; static_cast<int>(i) <= marker; ++i) {
    exec_ = {};
    exec_.insn = pending[i];
    ExecuteNow(nullptr);
    if (flush_pending_) {  // a debug-speed branch: nothing after it survives
      flush_pending_ = false;
      pending.clear();
      break;
    }
  }
  exec_ = {};
  queue_.clear();
  if (!system_speed) {
    LeaveDebugState(pending.empty() ? fetch_address_ : pending.front().address);
    return;
  }
  // The next instruction runs at system speed, on the board's bus; what the
  // pipeline holds after it is discarded when the core comes back.
  if (i < pending.size()) {
    exec_ = {};
    exec_.insn = pending[i];
    exec_.executed = true;
    ++counters_.system_speed_accesses;
    std::uint32_t opcode = OpcodeOf(pending[i]);
    bool thumb = core_.Thumb();
    core_.SetPc(pending[i].address);
    PrivilegeForMsr(opcode, thumb);
    StepResult result = core_.ExecuteInstruction(opcode, thumb, system_bus_);
    ++counters_.debug_instructions;
    Trace("system %08X: %0*X%s", pending[i].address, thumb ? 4 : 8, opcode,
          result.pc_written ? " pc written" : "");
    if (result.outcome == StepOutcome::Exception && result.exception == Exception::DataAbort &&
        !result.exception_taken) {
      // An aborted system-speed access: the core takes the abort and comes
      // back to debug state in abort mode, as at a breakpoint on the vector.
      core_.TakeException(Exception::DataAbort);
      exec_ = {};
      system_speed_armed_ = false;
      fetch_address_ = core_.Pc() + 3 * InstructionSize();
      last_entry_ = DebugEntry::SystemSpeed;
      bus_in_ = bus_out_ = 0;
      return;
    }
    if (result.pc_written) {
      exec_ = {};
      LeaveDebugState(core_.Pc());
      return;
    }
  }
  exec_ = {};
  system_speed_armed_ = false;
  // Back in debug state: a system-speed access moves the PC on by three
  // instructions.
  fetch_address_ += 3 * InstructionSize();
  last_entry_ = DebugEntry::SystemSpeed;
  breakpt_capture_ = false;
  bus_in_ = bus_out_ = 0;
}

}  // namespace simboard
