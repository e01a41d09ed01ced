#include "simboard/debug/arm9_debug.h"

#include <algorithm>
#include <bit>
#include <vector>

#include "simboard/debug/arm920t_cp15.h"

namespace simboard {

namespace {

constexpr unsigned kScanChainCp15 = 15;
// The EmbeddedICE version the ARM9TDMI's comms control register shows.
constexpr std::uint32_t kEmbeddedIceVersion = 2;

bool IsLoadOrStore(std::uint32_t op) {
  return (op & 0x0C000000u) == 0x04000000u ||                             // LDR, STR
         ((op & 0x0E000090u) == 0x00000090u && (op & 0x60u) != 0);          // halfword, signed
}

}  // namespace

namespace arm9_chain1 {

ScanBits Word(std::uint32_t data, std::uint32_t instruction, bool sysspeed) {
  return ScanBits{data} | (ScanBits{sysspeed ? 1u : 0u} << kSysSpeed) |
         (ScanBits{ReverseBits32(instruction)} << kInstruction);
}

std::uint32_t Data(ScanBits bits) { return static_cast<std::uint32_t>(bits); }

std::uint32_t Instruction(ScanBits bits) {
  return ReverseBits32(static_cast<std::uint32_t>(bits >> kInstruction));
}

bool Bit(ScanBits bits, unsigned position) { return ((bits >> position) & 1) != 0; }

}  // namespace arm9_chain1

Arm9DebugLogic::Arm9DebugLogic(ArmCore& core, Bus& system_bus, const DebugSettings& settings,
                               CoreRunner* runner, bool arm920t)
    : ArmDebugLogic(core, system_bus, settings, runner, &FindArm9IceRegister,
                    kEmbeddedIceVersion) {
  if (arm920t) {
    cp15_ = std::make_unique<Arm920tCp15>(core);
    core_.AttachCoprocessor(15, cp15_.get());
  }
}

Arm9DebugLogic::~Arm9DebugLogic() {
  if (cp15_) core_.AttachCoprocessor(15, nullptr);
}

bool Arm9DebugLogic::StopsAtBreakpointInstruction(std::uint32_t address, bool thumb) {
  (void)address;
  (void)thumb;
  return !settings_.never_halt;
}

// ---------------------------------------------------------------------------
// Scan chains

ScanBits Arm9DebugLogic::CaptureChain1() {
  ScanBits bits = arm9_chain1::Word(data_out_, instruction_in_, false);
  if (in_debug_ && watch_capture_) {
    bits |= ScanBits{1} << arm9_chain1::kSysSpeed;
    if (wptandbkpt_) bits |= ScanBits{1} << arm9_chain1::kWptAndBkpt;
  }
  return bits;
}

void Arm9DebugLogic::UpdateChain1(ScanBits value) {
  data_in_ = arm9_chain1::Data(value);
  instruction_in_ = arm9_chain1::Instruction(value);
  sysspeed_in_ = arm9_chain1::Bit(value, arm9_chain1::kSysSpeed);
}

unsigned Arm9DebugLogic::OtherChainLength(unsigned chain) const {
  return chain == kScanChainCp15 && cp15_ ? kArm920tChain15Length : 0;
}

ScanBits Arm9DebugLogic::CaptureOther(unsigned chain) {
  return chain == kScanChainCp15 && cp15_ ? cp15_->Capture() : 0;
}

void Arm9DebugLogic::UpdateOther(unsigned chain, ScanBits value) {
  if (chain == kScanChainCp15 && cp15_) cp15_->Update(value);
}

// ---------------------------------------------------------------------------
// The pipeline

void Arm9DebugLogic::ClearPipeline() {
  hold_ = decode_ = {};
  exec_ = {};
  exec_valid_ = false;
  loads_.clear();
  stores_.clear();
}

void Arm9DebugLogic::StartDebugPipeline(DebugEntry entry) {
  ClearPipeline();
  // Entry adds four instructions to the PC: the first fetch sits three past
  // the instruction to resume at (R15 reads four past it).
  fetch_address_ = core_.Pc() + 3 * InstructionSize();
  fetch_from_ = now_;
  data_out_ = data_in_ = 0;
  watch_capture_ = entry == DebugEntry::Watchpoint;
  if (!watch_capture_) wptandbkpt_ = false;
}

bool Arm9DebugLogic::AfterWatchpoint() {
  // The instruction behind the one that hit the watchpoint has reached
  // execute and completes, unless it is breakpointed itself.
  wptandbkpt_ = RunAndCatch(1) == DebugEntry::Breakpoint;
  return true;
}

std::uint32_t Arm9DebugLogic::OpcodeOf(const Fetched& f) const {
  if (!core_.Thumb()) return f.word;
  bool upper = ((f.address & 2) != 0) == (core_.Order() == ByteOrder::Little);
  return upper ? f.word >> 16 : f.word & 0xFFFF;
}

// Execute cycles and data-bus reads of one instruction (ARM9TDMI technical
// reference manual, "Instruction cycle times"); stores need no entry, their
// words simply follow the execute cycle.
Arm9DebugLogic::Timing Arm9DebugLogic::TimingOf(std::uint32_t op, bool thumb) const {
  Timing t;
  auto load = [&t](unsigned words, unsigned last) {
    t.load_words = words;
    t.last_loaded = last;
    t.reads_memory = true;
  };
  auto highest = [](std::uint32_t list) { return 31u - static_cast<unsigned>(std::countl_zero(list)); };
  if (!thumb) {
    if (!ConditionPassed(op >> 28)) return t;
    if ((op & 0x0FFFFFF0u) == 0x012FFF10u) return t;  // BX
    if ((op & 0x0FC000F0u) == 0x00000090u) {          // MUL, MLA
      t.execute_cycles = 2;
    } else if ((op & 0x0F8000F0u) == 0x00800090u) {  // long multiplies
      t.execute_cycles = 3;
    } else if ((op & 0x0FB00FF0u) == 0x01000090u) {  // SWP, SWPB
      t.execute_cycles = 2;
      load(1, (op >> 12) & 15);
    } else if ((op & 0x0E000090u) == 0x00000090u && (op & 0x60u) != 0) {  // halfword, signed
      if (op & (1u << 20)) load(1, (op >> 12) & 15);
    } else if ((op & 0x0FBF0FFFu) == 0x010F0000u) {  // MRS
      t.execute_cycles = 2;
    } else if ((op & 0x0DB0F000u) == 0x0120F000u) {  // MSR
      // Writing the control, extension or status field takes three cycles.
      if (op & 0x00070000u) t.execute_cycles = 3;
    } else if ((op & 0x0C000000u) == 0) {  // data processing
      if (!(op & (1u << 25)) && (op & 0x10u)) t.execute_cycles = 2;  // shift by register
    } else if ((op & 0x0C000000u) == 0x04000000u) {  // LDR, STR
      if ((op & 0x02000010u) == 0x02000010u) return t;  // undefined
      if (op & (1u << 20)) load(1, (op >> 12) & 15);
    } else if ((op & 0x0E000000u) == 0x08000000u) {  // LDM, STM
      std::uint32_t list = op & 0xFFFFu;
      unsigned n = std::max(1, std::popcount(list));
      t.execute_cycles = n;
      if (op & (1u << 20)) load(n, list ? highest(list) : 15);
    }
    return t;
  }
  op &= 0xFFFF;
  bool l = (op & 0x0800u) != 0;
  if ((op & 0xF800u) == 0x4800u) {  // LDR Rd, [PC, #imm]
    load(1, (op >> 8) & 7);
  } else if ((op & 0xFFC0u) == 0x4340u) {  // MUL
    t.execute_cycles = 2;
  } else if ((op & 0xF000u) == 0x5000u) {  // register offset
    bool is_load = (op & 0x0200u) ? (op & 0x0C00u) != 0 : l;
    if (is_load) load(1, op & 7);
  } else if ((op & 0xE000u) == 0x6000u || (op & 0xF000u) == 0x8000u) {  // immediate offset
    if (l) load(1, op & 7);
  } else if ((op & 0xF000u) == 0x9000u) {  // SP-relative
    if (l) load(1, (op >> 8) & 7);
  } else if ((op & 0xF600u) == 0xB400u) {  // PUSH, POP
    std::uint32_t list = (op & 0xFFu) | ((op & 0x0100u) ? (l ? 0x8000u : 0x4000u) : 0u);
    unsigned n = std::max(1, std::popcount(list));
    t.execute_cycles = n;
    if (l) load(n, list ? highest(list) : 15);
  } else if ((op & 0xF000u) == 0xC000u) {  // LDMIA, STMIA
    std::uint32_t list = op & 0xFFu;
    unsigned n = std::max(1, std::popcount(list));
    t.execute_cycles = n;
    if (l) load(n, list ? highest(list) : 0);
  }
  return t;
}

// Whether an instruction reads `reg` (for the load-use interlock). Every
// register field counts, as the register file is read before the
// instruction is fully decoded.
bool Arm9DebugLogic::Reads(std::uint32_t op, bool thumb, unsigned reg) const {
  if (!thumb) {
    if ((op & 0x0E000000u) == 0x0A000000u) return false;  // B, BL
    if ((op & 0x0FBF0FFFu) == 0x010F0000u) return false;  // MRS
    if ((op & 0x0E000000u) == 0x08000000u) {              // LDM, STM
      bool store = (op & (1u << 20)) == 0;
      return ((op >> 16) & 15) == reg || (store && (op >> reg) & 1);
    }
    return ((op >> 16) & 15) == reg || ((op >> 12) & 15) == reg || ((op >> 8) & 15) == reg ||
           (op & 15) == reg;
  }
  op &= 0xFFFF;
  if ((op & 0xFC00u) == 0x4400u)  // high-register operations
    return ((op & 7) | ((op >> 4) & 8)) == reg || ((op >> 3) & 15) == reg;
  if ((op & 0xF000u) == 0xD000u || (op & 0xE000u) == 0xE000u) return false;  // branches
  if ((op & 0xF600u) == 0xB400u) return reg == 13 || (!(op & 0x0800u) && ((op >> reg) & 1));
  return reg < 8 && ((op & 7) == reg || ((op >> 3) & 7) == reg || ((op >> 6) & 7) == reg ||
                     ((op >> 8) & 7) == reg);
}

bool Arm9DebugLogic::InterlockedBehindLoad(const Fetched& f, std::uint64_t execute_cycle) const {
  for (const PendingLoad& load : loads_)
    if (load.first_data_cycle + load.words - 1 == execute_cycle &&
        Reads(OpcodeOf(f), core_.Thumb(), load.last_loaded))
      return true;
  return false;
}

bool Arm9DebugLogic::ExecuteDebug(const Fetched& f, const std::uint32_t* reads,
                                  unsigned read_count) {
  std::uint32_t opcode = OpcodeOf(f);
  bool thumb = core_.Thumb();
  PrivilegeForMsr(opcode, thumb);
  core_.SetPc(f.address);
  DebugDataBus data_bus(reads, read_count, core_.Order());
  StepResult result = core_.ExecuteInstruction(opcode, thumb, data_bus);
  ++counters_.debug_instructions;
  const std::vector<std::uint32_t>& writes = data_bus.Writes();
  for (std::size_t i = 0; i < writes.size(); ++i) stores_.emplace_back(now_ + 1 + i, writes[i]);
  Trace("debug %08X: %0*X reads %u first %08X writes %zu first %08X%s", f.address, thumb ? 4 : 8,
        opcode, read_count, read_count ? reads[0] : 0, writes.size(),
        writes.empty() ? 0 : writes[0], result.pc_written ? " pc written" : "");
  return result.pc_written;
}

// A write to the PC: what was fetched behind it is gone; fetching goes on
// from the new PC in `first_fetch_cycle`.
void Arm9DebugLogic::Redirect(std::uint64_t first_fetch_cycle) {
  hold_ = decode_ = {};
  fetch_address_ = core_.Pc();
  fetch_from_ = first_fetch_cycle;
}

void Arm9DebugLogic::DebugClock() {
  runner_->Idle(1);
  watch_capture_ = false;
  bool redirected = false;
  // Memory stage: loads take this cycle's data word; a load that has all its
  // words completes.
  for (PendingLoad& load : loads_)
    if (load.received < load.words && load.first_data_cycle + load.received == now_)
      load.data[load.received++] = data_in_;
  while (!loads_.empty() && loads_.front().received == loads_.front().words) {
    PendingLoad load = loads_.front();
    loads_.pop_front();
    if (ExecuteDebug(load.insn, load.data.data(), load.received)) {
      // A load into the PC: the write stage passes, then fetching resumes.
      loads_.clear();
      exec_valid_ = false;
      Redirect(now_ + 2);
      redirected = true;
      break;
    }
  }
  // Execute stage: an instruction executes at the end of its first cycle
  // (loads when their data has come in).
  if (exec_valid_ && !exec_.started && exec_.first_cycle == now_) {
    exec_.started = true;
    if (exec_.timing.load_words > 0) {
      PendingLoad load;
      load.insn = exec_.insn;
      load.first_data_cycle = now_ + 1;
      load.words = std::min(exec_.timing.load_words, 16u);
      load.last_loaded = exec_.timing.last_loaded;
      loads_.push_back(load);
    } else if (ExecuteDebug(exec_.insn, nullptr, 0)) {
      Redirect(now_ + 1);
      redirected = true;
    }
  }
  // Fetch: the word on the instruction bus, unless the fetch stage still
  // holds one or the pipeline is refilling after a load into the PC.
  Fetched fetched = hold_;
  if (!fetched.valid && !redirected && now_ >= fetch_from_) {
    fetched = {true, instruction_in_, sysspeed_in_, fetch_address_};
    fetch_address_ += InstructionSize();
  }
  if (Tracing())
    Trace("dclk %08X data %08X%s%s", instruction_in_, data_in_, sysspeed_in_ ? " SYSSPEED" : "",
          fetched.valid && !hold_.valid ? "" : " (not fetched)");
  // Advance: execute takes decode when its instruction is done with it,
  // decode takes the fetched instruction when it is free.
  bool execute_free = !exec_valid_ ||
                      (exec_.started && exec_.first_cycle + exec_.timing.execute_cycles - 1 <= now_);
  if (execute_free) exec_valid_ = false;
  if (execute_free && decode_.valid) {
    if (InterlockedBehindLoad(decode_, now_ + 1)) {
      hold_ = fetched;  // decode waits a cycle; so does fetch
    } else {
      exec_ = {decode_, now_ + 1, TimingOf(OpcodeOf(decode_), core_.Thumb()), false};
      exec_valid_ = true;
      decode_ = fetched;
      hold_ = {};
    }
  } else if (!decode_.valid) {
    decode_ = fetched;
    hold_ = {};
  } else {
    hold_ = fetched;
  }
  ++now_;
  data_out_ = data_in_;
  while (!stores_.empty() && stores_.front().first < now_) stores_.pop_front();
  if (!stores_.empty() && stores_.front().first == now_) data_out_ = stores_.front().second;
}

void Arm9DebugLogic::ReenterAfterSystemSpeed(std::uint32_t next_fetch) {
  ClearPipeline();
  fetch_address_ = next_fetch;
  fetch_from_ = now_;
  last_entry_ = DebugEntry::SystemSpeed;
  watch_capture_ = false;
  data_out_ = data_in_ = 0;
}

void Arm9DebugLogic::Restart() {
  // What the pipeline holds and has not executed, in program order; a load
  // still waiting for its data gets none.
  std::vector<Fetched> pending;
  for (const PendingLoad& load : loads_) pending.push_back(load.insn);
  if (exec_valid_ && !exec_.started) pending.push_back(exec_.insn);
  if (decode_.valid) pending.push_back(decode_);
  if (hold_.valid) pending.push_back(hold_);
  loads_.clear();
  exec_valid_ = false;
  decode_ = hold_ = {};
  // The core resynchronises to the system clock and runs what it holds up to
  // the first instruction scanned with SYSSPEED (the one before it is the
  // system-speed access or branch; a debugger may also flag the branch
  // itself), on the board's bus. A branch among them runs the core from its
  // target; otherwise the core comes back to debug state.
  std::size_t marker = pending.size();
  for (std::size_t i = 0; i < pending.size(); ++i)
    if (pending[i].sysspeed) {
      marker = i;
      break;
    }
  if (marker == pending.size()) {
    LeaveDebugState(pending.empty() ? fetch_address_ : pending.front().address);
    return;
  }
  ++counters_.system_speed_accesses;
  for (std::size_t i = 0; i <= marker; ++i) {
    const Fetched& insn = pending[i];
    std::uint32_t opcode = OpcodeOf(insn);
    bool thumb = core_.Thumb();
    core_.SetPc(insn.address);
    PrivilegeForMsr(opcode, thumb);
    // The ARM920T in interpreted mode runs its CP15 instruction in place of
    // a system-speed load or store.
    if (cp15_ && !thumb && IsLoadOrStore(opcode) && cp15_->InterpretArmed())
      opcode = cp15_->InterpretedInstruction();
    StepResult result = core_.ExecuteInstruction(opcode, thumb, system_bus_);
    ++counters_.debug_instructions;
    Trace("system %08X: %0*X%s", insn.address, thumb ? 4 : 8, opcode,
          result.pc_written ? " pc written" : "");
    if (result.outcome == StepOutcome::Exception && result.exception == Exception::DataAbort &&
        !result.exception_taken) {
      // An aborted system-speed access: the core enters abort mode and comes
      // back to debug state there, as at a breakpoint on the vector.
      core_.TakeException(Exception::DataAbort);
      ReenterAfterSystemSpeed(core_.Pc() + 3 * InstructionSize());
      return;
    }
    if (result.pc_written) {
      LeaveDebugState(core_.Pc());
      return;
    }
  }
  // A system-speed access moves the PC on by five instructions from the
  // access.
  const Fetched& access = pending[marker > 0 ? marker - 1 : 0];
  ReenterAfterSystemSpeed(access.address + 5 * InstructionSize());
}

}  // namespace simboard
