// The ARM9TDMI debug logic, after the ARM9TDMI and ARM920T technical
// reference manuals ("Debug support"): the 67-bit scan chain 1 that carries
// both the data bus and the instruction bus, the five-stage pipeline as a
// debugger feeds it, system-speed accesses, single step and vector catch. An
// ARM920T adds its CP15 on scan chain 15 (arm920t_cp15.h).
//
// Debug state in short: with chain 1 selected under INTEST, each entry of the
// TAP into Run-Test/Idle is one DCLK. The instruction the last Update-DR put
// on the instruction bus is fetched in that cycle, decoded in the next and
// executed in the one after; its data accesses happen in the following
// (memory) cycle, so a store's word is on the data bus for the capture three
// scans after the store was scanned in, and a load takes the data word of the
// scan three after it. Multi-cycle instructions (LDM, STM, MRS, MSR) hold the
// instructions behind them; an instruction that reads the register a load is
// still bringing in waits in decode for a cycle; a write to the PC throws the
// fetched instructions away and fetches from the new address. Every fetch
// moves the PC on by one instruction; entry to debug state leaves the first
// fetch four instructions past the one to resume at, and a system-speed access
// moves it on by five. The instruction followed by one scanned with SYSSPEED
// set runs at system speed after RESTART, on the board's bus; then the core
// comes back to debug state, or, when it branched, runs from there.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>

#include "simboard/debug/arm_debug.h"

namespace simboard {

class Arm920tCp15;

inline constexpr unsigned kArm9Chain1Length = 67;

// Chain 1 fields, bit 0 nearest TDO: D[0..31] at 0..31, bit 32 unused,
// bit 33 WPTANDBKPT (captured), bit 34 SYSSPEED (written; captured as the
// watchpoint flag on the first scan after entry), the instruction with
// bit 31 at 35 down to bit 0 at 66.
namespace arm9_chain1 {
inline constexpr unsigned kWptAndBkpt = 33;
inline constexpr unsigned kSysSpeed = 34;
inline constexpr unsigned kInstruction = 35;
ScanBits Word(std::uint32_t data, std::uint32_t instruction, bool sysspeed);
std::uint32_t Data(ScanBits bits);
std::uint32_t Instruction(ScanBits bits);
bool Bit(ScanBits bits, unsigned position);
}  // namespace arm9_chain1

class Arm9DebugLogic : public ArmDebugLogic {
 public:
  // arm920t: the ARM920T's CP15 serves the core's coprocessor 15 and scan
  // chain 15; otherwise a bare ARM9TDMI.
  Arm9DebugLogic(ArmCore& core, Bus& system_bus, const DebugSettings& settings,
                 CoreRunner* runner = nullptr, bool arm920t = false);
  ~Arm9DebugLogic() override;

  // The ARM920T's CP15; nullptr on a bare ARM9TDMI.
  Arm920tCp15* Cp15() { return cp15_.get(); }

  // The core stops at a BKPT as at a breakpoint on it: the debugger's own
  // code (a checksum or flash routine run on the target) ends on one and
  // waits for debug state. Not while the board is told never to halt.
  bool StopsAtBreakpointInstruction(std::uint32_t address, bool thumb) override;

 protected:
  unsigned Chain1Length() const override { return kArm9Chain1Length; }
  ScanBits CaptureChain1() override;
  void UpdateChain1(ScanBits value) override;
  unsigned OtherChainLength(unsigned chain) const override;
  ScanBits CaptureOther(unsigned chain) override;
  void UpdateOther(unsigned chain, ScanBits value) override;
  void DebugClock() override;
  void Restart() override;
  void StartDebugPipeline(DebugEntry entry) override;
  void ClearPipeline() override;
  bool AfterWatchpoint() override;
  bool HasSingleStep() const override { return true; }

 private:
  struct Fetched {
    bool valid = false;
    std::uint32_t word = 0;
    bool sysspeed = false;
    std::uint32_t address = 0;
  };
  // What an instruction does to the pipeline.
  struct Timing {
    unsigned execute_cycles = 1;
    unsigned load_words = 0;        // words it takes from the data bus
    unsigned last_loaded = 0;       // register the last of them goes to
    bool reads_memory = false;
  };
  struct Executing {
    Fetched insn;
    std::uint64_t first_cycle = 0;
    Timing timing;
    bool started = false;  // executed, or waiting for its load data
  };
  struct PendingLoad {
    Fetched insn;
    std::uint64_t first_data_cycle = 0;
    unsigned words = 0;
    unsigned last_loaded = 0;
    std::array<std::uint32_t, 16> data{};
    unsigned received = 0;
  };

  std::uint32_t OpcodeOf(const Fetched& f) const;
  Timing TimingOf(std::uint32_t opcode, bool thumb) const;
  bool Reads(std::uint32_t opcode, bool thumb, unsigned reg) const;
  bool InterlockedBehindLoad(const Fetched& f, std::uint64_t execute_cycle) const;
  // Executes at debug speed; the words it stores go on the data bus from the
  // next cycle. True when it wrote the PC.
  bool ExecuteDebug(const Fetched& f, const std::uint32_t* reads, unsigned read_count);
  void Redirect(std::uint64_t first_fetch_cycle);
  void ReenterAfterSystemSpeed(std::uint32_t next_fetch);

  std::unique_ptr<Arm920tCp15> cp15_;

  // Chain 1 as the last Update-DR left it: the buses the core sees.
  std::uint32_t data_in_ = 0;
  std::uint32_t instruction_in_ = 0;
  bool sysspeed_in_ = false;
  std::uint32_t data_out_ = 0;  // the data bus in the current cycle
  bool watch_capture_ = false;  // first capture after a watchpoint entry
  bool wptandbkpt_ = false;

  // The pipeline: cycle now_ is in progress; DCLK ends it.
  std::uint64_t now_ = 0;
  std::uint64_t fetch_from_ = 0;  // no fetch before this cycle (after a load into the PC)
  std::uint32_t fetch_address_ = 0;
  Fetched hold_;    // fetched while the pipeline stood still
  Fetched decode_;
  Executing exec_;
  bool exec_valid_ = false;
  std::deque<PendingLoad> loads_;
  std::deque<std::pair<std::uint64_t, std::uint32_t>> stores_;  // cycle, word on the data bus
};

}  // namespace simboard
