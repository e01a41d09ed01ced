// The ARM7TDMI debug logic: scan chain 1 (the core's data bus and BREAKPT),
// scan chain 2 (the EmbeddedICE registers), the two watchpoint units, debug
// request and the debug state in which the core takes its instructions from
// chain 1, after the ARM7TDMI technical reference manual, appendix "Debug in
// depth".
//
// Debug state in short: with chain 1 selected under INTEST, each entry of
// the TAP into Run-Test/Idle is one DCLK cycle of the core, on the word that
// the last Update-DR put on the data bus. The core keeps its three-stage pipeline: a word latched
// at a fetch cycle is decoded during the next cycle and executed from the one
// after; multi-cycle instructions stall the pipeline and use the bus for
// their data, which the debugger sees at the next Capture-DR (stores) or
// supplies with the next scans (loads). A word scanned with BREAKPT set
// marks the instructions after it to run at system speed: RESTART then lets
// them make their accesses on the board's bus, after which the core comes
// back to debug state (or, when one of them branched, runs from there).
#pragma once

#include <array>
#include <cstdint>
#include <deque>

#include "simboard/debug/arm_debug.h"

namespace simboard {

inline constexpr unsigned kChain1Length = 33;  // BREAKPT + D[31:0]

// Chain 1 fields: bit 0 BREAKPT (first out), then D31 down to D0.
std::uint64_t Chain1Word(std::uint32_t data, bool breakpt);
std::uint32_t Chain1Data(std::uint64_t bits);

class Arm7DebugLogic : public ArmDebugLogic {
 public:
  // system_bus: where system-speed accesses go (the board's bus). runner:
  // nullptr runs the bare core, counting host milliseconds itself in
  // real-time timing.
  Arm7DebugLogic(ArmCore& core, Bus& system_bus, const DebugSettings& settings,
                 CoreRunner* runner = nullptr);

  // The data word the debugger would capture now on chain 1.
  std::uint32_t DataBusOut() const { return bus_out_; }

 protected:
  unsigned Chain1Length() const override { return kChain1Length; }
  ScanBits CaptureChain1() override;
  void UpdateChain1(ScanBits value) override;
  void DebugClock() override;
  void Restart() override;
  void StartDebugPipeline(DebugEntry entry) override;
  void ClearPipeline() override;

 private:
  enum class Cycle : std::uint8_t { First, Read, Write, Internal, Refill };
  struct Plan {
    std::array<Cycle, 24> cycles{};
    unsigned count = 0;
    unsigned reads = 0;
    void Add(Cycle c, unsigned n = 1);
  };
  struct Fetched {
    std::uint32_t word = 0;
    bool breakpt = false;
    std::uint32_t address = 0;
    std::uint64_t edge = 0;
  };
  struct Executing {
    bool active = false;
    bool executed = false;
    Fetched insn;
    Plan plan;
    unsigned index = 0;
    std::array<std::uint32_t, 16> reads{};
    unsigned read_count = 0;
    std::array<std::uint32_t, 16> writes{};
    unsigned write_count = 0;
    unsigned write_index = 0;
  };

  std::uint32_t OpcodeOf(const Fetched& f) const;
  Plan PlanCycles(std::uint32_t opcode, bool thumb) const;
  unsigned MultiplyCycles(std::uint32_t rs) const;

  void Dclk(std::uint32_t word, bool breakpt);
  void StartExecution(const Fetched& f);
  void ExecuteNow(Bus* bus);

  // Debug state.
  bool breakpt_capture_ = false;  // BREAKPT bit of the first capture: entry by watchpoint
  std::uint32_t bus_in_ = 0;      // word the debugger last put on the data bus
  std::uint32_t chain1_update_ = 0;  // chain 1 as the last Update-DR left it
  bool chain1_update_breakpt_ = false;
  std::uint32_t bus_out_ = 0;     // what the data bus carries in the current cycle
  std::uint64_t edge_ = 0;
  std::uint32_t fetch_address_ = 0;
  std::deque<Fetched> queue_;     // fetched and not yet executing
  Executing exec_;
  bool flush_pending_ = false;
  std::uint32_t flush_target_ = 0;
  bool system_speed_armed_ = false;
};

}  // namespace simboard
