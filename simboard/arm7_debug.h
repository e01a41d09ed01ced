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
#include <functional>
#include <string>
#include <memory>

#include "simboard/arm_core.h"
#include "simboard/bus.h"
#include "simboard/jtag_tap.h"

namespace simboard {

// EmbeddedICE registers: 5-bit addresses on scan chain 2.
enum class IceRegister : std::uint8_t {
  DebugControl = 0x00,
  DebugStatus = 0x01,
  CommsControl = 0x04,
  CommsData = 0x05,
  Wp0AddressValue = 0x08,
  Wp0AddressMask = 0x09,
  Wp0DataValue = 0x0A,
  Wp0DataMask = 0x0B,
  Wp0ControlValue = 0x0C,
  Wp0ControlMask = 0x0D,
  Wp1AddressValue = 0x10,
  Wp1AddressMask = 0x11,
  Wp1DataValue = 0x12,
  Wp1DataMask = 0x13,
  Wp1ControlValue = 0x14,
  Wp1ControlMask = 0x15,
};

struct IceRegisterInfo {
  IceRegister reg;
  const char* name;
  unsigned width;  // implemented bits; the others read 0
  bool writable;
};

// The register map, one row per register; nullptr for an unused address.
const IceRegisterInfo* FindIceRegister(unsigned address);

namespace debug_control {
inline constexpr std::uint32_t kDbgAck = 1u << 0;  // forces DBGACK high
inline constexpr std::uint32_t kDbgRq = 1u << 1;   // debug request
inline constexpr std::uint32_t kIntDis = 1u << 2;  // interrupts disabled
inline constexpr std::uint32_t kMonitorEnable = 1u << 4;
inline constexpr std::uint32_t kIceDisable = 1u << 5;
}  // namespace debug_control

namespace debug_status {
inline constexpr std::uint32_t kDbgAck = 1u << 0;
inline constexpr std::uint32_t kDbgRq = 1u << 1;
inline constexpr std::uint32_t kIfEn = 1u << 2;     // interrupts enabled
inline constexpr std::uint32_t kSysComp = 1u << 3;  // the last memory access has completed
inline constexpr std::uint32_t kThumb = 1u << 4;
}  // namespace debug_status

// Watchpoint control value bits (the control mask has bits 7..0 only).
namespace watch_control {
inline constexpr std::uint32_t kWrite = 1u << 0;     // nRW
inline constexpr std::uint32_t kSizeShift = 1;       // MAS[1:0]: 0 byte, 1 halfword, 2 word
inline constexpr std::uint32_t kData = 1u << 3;      // nOPC: 0 instruction fetch, 1 data
inline constexpr std::uint32_t kPrivileged = 1u << 4;  // nTRANS
inline constexpr std::uint32_t kExtern = 1u << 5;
inline constexpr std::uint32_t kChain = 1u << 6;
inline constexpr std::uint32_t kRange = 1u << 7;
inline constexpr std::uint32_t kEnable = 1u << 8;
}  // namespace watch_control

inline constexpr unsigned kChain1Length = 33;  // BREAKPT + D[31:0]
inline constexpr unsigned kChain2Length = 38;  // D[31:0], A[4:0], R/W

// Chain 2 fields, bit 0 nearest TDO.
inline constexpr std::uint64_t Chain2Word(unsigned address, std::uint32_t data, bool write) {
  return std::uint64_t{data} | (std::uint64_t{address & 0x1F} << 32) |
         (std::uint64_t{write ? 1u : 0u} << 37);
}
// Chain 1 fields: bit 0 BREAKPT (first out), then D31 down to D0.
std::uint64_t Chain1Word(std::uint32_t data, bool breakpt);
std::uint32_t Chain1Data(std::uint64_t bits);

struct DebugSettings {
  bool never_halt = false;      // debug requests and watchpoints are ignored
  bool real_time = false;       // the core runs clock_khz instructions per host millisecond
  std::uint32_t clock_khz = 20000;
  std::uint64_t run_budget = 100000000;  // instructions per run in deterministic timing
};

struct DebugCounters {
  std::uint64_t debug_instructions = 0;   // executed in debug state, at either speed
  std::uint64_t system_speed_accesses = 0;
  std::uint64_t debug_entries = 0;
  std::uint64_t run_instructions = 0;     // executed while running between debug entries
};

// How the core runs between debug entries. The default runs the bare core;
// a board puts its own clock, flash timers and reset behind it.
class CoreRunner {
 public:
  virtual ~CoreRunner() = default;
  // Deterministic timing: up to max_instructions, or until the core halts.
  virtual RunResult Run(std::uint64_t max_instructions) = 0;
  // Real-time timing: what the core owes since the last call.
  virtual RunResult CatchUp() = 0;
  // The core leaves (true) or enters (false) debug state or reset.
  virtual void SetRunning(bool running) = 0;
  // The reset line pulled: the core and whatever else shares the line.
  virtual void Reset() = 0;
  // Core cycles that pass without the core running (DCLK in debug state).
  virtual void Idle(std::uint64_t cycles) { (void)cycles; }
};

enum class DebugEntry : std::uint8_t { None, Breakpoint, Watchpoint, DebugRequest, SystemSpeed };

class Arm7DebugLogic : public ScanChains, public DebugObserver {
 public:
  // system_bus: where system-speed accesses go (the board's bus). runner:
  // nullptr runs the bare core, counting host milliseconds itself in
  // real-time timing.
  Arm7DebugLogic(ArmCore& core, Bus& system_bus, const DebugSettings& settings,
                 CoreRunner* runner = nullptr);
  ~Arm7DebugLogic() override;
  Arm7DebugLogic(const Arm7DebugLogic&) = delete;
  Arm7DebugLogic& operator=(const Arm7DebugLogic&) = delete;

  // ScanChains
  unsigned ChainLength(unsigned chain) const override;
  std::uint64_t Capture(unsigned chain, bool intest) override;
  void Update(unsigned chain, bool intest, std::uint64_t value) override;
  void EnterRunTestIdle(unsigned instruction, unsigned chain) override;
  void TestLogicReset() override;

  // DebugObserver: the watchpoint comparators on the running core.
  bool BeforeInstruction(std::uint32_t address, std::uint32_t opcode, bool thumb) override;
  bool AfterDataAccess(std::uint32_t address, AccessSize size, std::uint32_t value,
                       bool write) override;

  // The target's reset line: the core is held in reset while it is asserted
  // and starts at the reset vector when it is released; the debug logic keeps
  // its registers.
  void SetSystemReset(bool asserted);
  bool InSystemReset() const { return reset_asserted_; }

  // Lets a running core catch up with host time (real-time timing); called at
  // each access from outside.
  void Poll();

  // One TCK period: time passes on the board while the core does not run
  // (in debug state or in reset), as many core cycles as one period of a
  // 1 MHz TCK lasts at the board's clock.
  void TckCycle();

  // EmbeddedICE registers as chain 2 reads and writes them.
  std::uint32_t ReadIceRegister(unsigned address);
  void WriteIceRegister(unsigned address, std::uint32_t value);

  bool InDebugState() const { return in_debug_; }
  DebugEntry LastEntry() const { return last_entry_; }
  const DebugCounters& Counters() const { return counters_; }
  void ResetCounters() { counters_ = {}; }

  // Each instruction executed in debug state, each entry and exit, as a line
  // of text (for tracing a debugger's sequences); empty: none.
  void SetTrace(std::function<void(const std::string&)> trace) { trace_ = std::move(trace); }

  // The data word the debugger would capture now on chain 1.
  std::uint32_t DataBusOut() const { return bus_out_; }

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
  struct Watchpoint {
    std::uint32_t address_value = 0, address_mask = 0, data_value = 0, data_mask = 0;
    std::uint32_t control_value = 0, control_mask = 0;
  };

  unsigned InstructionSize() const { return core_.Thumb() ? 2 : 4; }
  std::uint32_t OpcodeOf(const Fetched& f) const;
  Plan PlanCycles(std::uint32_t opcode, bool thumb) const;
  bool ConditionPassed(unsigned cond) const;
  unsigned MultiplyCycles(std::uint32_t rs) const;

  void Dclk(std::uint32_t word, bool breakpt);
  void StartExecution(const Fetched& f);
  void ExecuteNow(Bus* bus);
  void PrivilegeForMsr(std::uint32_t opcode, bool thumb);
  void RestartCore();
  void EnterDebugState(DebugEntry entry);
  void LeaveDebugState(std::uint32_t resume_address);
  void RunCore(std::uint64_t max_instructions);
  void ApplyDebugRequest();

  bool Matches(unsigned unit, std::uint32_t address, std::uint32_t data,
               std::uint32_t control) const;
  bool CheckWatchpoints(std::uint32_t address, std::uint32_t data, std::uint32_t control);
  std::uint32_t AccessControl(AccessSize size, bool data, bool write) const;

  class OwnRunner;
  // The core's side of the debug comms channel: coprocessor 14, c0 the
  // control register, c1 the data registers.
  class CommsChannel : public Coprocessor {
   public:
    explicit CommsChannel(Arm7DebugLogic& logic) : logic_(logic) {}
    bool Read(unsigned opcode1, unsigned crn, unsigned crm, unsigned opcode2,
              std::uint32_t& value) override;
    bool Write(unsigned opcode1, unsigned crn, unsigned crm, unsigned opcode2,
               std::uint32_t value) override;

   private:
    Arm7DebugLogic& logic_;
  };
  std::uint32_t CommsControl() const;
  void SetRunning(bool running);

  ArmCore& core_;
  Bus& system_bus_;
  std::unique_ptr<CoreRunner> own_runner_;
  CoreRunner* runner_;
  DebugSettings settings_;
  DebugCounters counters_;

  // EmbeddedICE state.
  std::uint32_t debug_control_ = 0;
  std::array<Watchpoint, 2> units_{};
  bool chain_latch_ = false;  // unit 1 has matched: CHAIN input of unit 0
  CommsChannel comms_{*this};
  std::uint32_t comms_to_core_ = 0;    // written by the debugger, read by MRC
  bool comms_to_core_full_ = false;    // R bit
  std::uint32_t comms_from_core_ = 0;  // written by MCR, read by the debugger
  bool comms_from_core_full_ = false;  // W bit
  std::uint32_t chain2_latch_ = 0;  // register value a chain-2 read left for the next capture

  // Debug state.
  bool in_debug_ = false;
  DebugEntry last_entry_ = DebugEntry::None;
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

  bool reset_asserted_ = false;
  std::function<void(const std::string&)> trace_;
  void Trace(const char* format, ...) const __attribute__((format(printf, 2, 3)));
};

}  // namespace simboard
