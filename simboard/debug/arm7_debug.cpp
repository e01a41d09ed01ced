#include "simboard/debug/arm7_debug.h"

#include <algorithm>
#include <bit>
#include <vector>

namespace simboard {

namespace {

// The EmbeddedICE version the comms control register shows.
constexpr std::uint32_t kEmbeddedIceVersion = 1;

}  // namespace

std::uint64_t Chain1Word(std::uint32_t data, bool breakpt) {
  return (std::uint64_t{ReverseBits32(data)} << 1) | (breakpt ? 1u : 0u);
}

std::uint32_t Chain1Data(std::uint64_t bits) {
  return ReverseBits32(static_cast<std::uint32_t>(bits >> 1));
}

void Arm7DebugLogic::Plan::Add(Cycle c, unsigned n) {
  for (unsigned i = 0; i < n && count < cycles.size(); ++i) {
    cycles[count++] = c;
    if (c == Cycle::Read) ++reads;
  }
}

Arm7DebugLogic::Arm7DebugLogic(ArmCore& core, Bus& system_bus, const DebugSettings& settings,
                               CoreRunner* runner)
    : ArmDebugLogic(core, system_bus, settings, runner, &FindIceRegister, kEmbeddedIceVersion) {}

// ---------------------------------------------------------------------------
// Scan chain 1

ScanBits Arm7DebugLogic::CaptureChain1() {
  return Chain1Word(bus_out_, in_debug_ && breakpt_capture_);
}

void Arm7DebugLogic::UpdateChain1(ScanBits value) {
  // The update register drives the data bus; the core takes it at the next
  // DCLK.
  chain1_update_ = Chain1Data(static_cast<std::uint64_t>(value));
  chain1_update_breakpt_ = (value & 1) != 0;
}

void Arm7DebugLogic::DebugClock() { Dclk(chain1_update_, chain1_update_breakpt_); }

void Arm7DebugLogic::ClearPipeline() {
  queue_.clear();
  exec_ = {};
  flush_pending_ = false;
  system_speed_armed_ = false;
}

void Arm7DebugLogic::StartDebugPipeline(DebugEntry entry) {
  ClearPipeline();
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
}

// ---------------------------------------------------------------------------
// The debug-state pipeline

std::uint32_t Arm7DebugLogic::OpcodeOf(const Fetched& f) const {
  if (!core_.Thumb()) return f.word;
  bool upper = ((f.address & 2) != 0) == (core_.Order() == ByteOrder::Little);
  return upper ? f.word >> 16 : f.word & 0xFFFF;
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


void Arm7DebugLogic::ExecuteNow(Bus* bus) {
  exec_.executed = true;
  std::uint32_t opcode = OpcodeOf(exec_.insn);
  bool thumb = core_.Thumb();
  PrivilegeForMsr(opcode, thumb);
  core_.SetPc(exec_.insn.address);
  DebugDataBus data_bus(exec_.reads.data(), exec_.read_count, core_.Order());
  StepResult result = core_.ExecuteInstruction(opcode, thumb, bus ? *bus : data_bus);
  exec_.write_count = 0;
  for (std::uint32_t word : data_bus.Writes())
    if (exec_.write_count < exec_.writes.size()) exec_.writes[exec_.write_count++] = word;
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
  if (Tracing())
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

void Arm7DebugLogic::Restart() {
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
