// What the ARM7TDMI and ARM9TDMI debug logic have in common: scan chain 2
// with the EmbeddedICE registers, the two watchpoint units and their
// comparators, debug request and DBGACK, the debug comms channel, vector
// catch (ARM9TDMI), the reset line, and how the core runs between debug
// entries. Each core adds its scan chain 1 and its pipeline as seen from
// debug state (arm7_debug.h, arm9_debug.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "simboard/core/arm_core.h"
#include "simboard/memory/bus.h"
#include "simboard/debug/jtag_tap.h"

namespace simboard {

// EmbeddedICE registers: 5-bit addresses on scan chain 2.
enum class IceRegister : std::uint8_t {
  DebugControl = 0x00,
  DebugStatus = 0x01,
  VectorCatch = 0x02,  // ARM9TDMI only
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

// The register maps, one row per register; nullptr for an unused address.
const IceRegisterInfo* FindIceRegister(unsigned address);      // ARM7TDMI
const IceRegisterInfo* FindArm9IceRegister(unsigned address);  // ARM9TDMI

namespace debug_control {
inline constexpr std::uint32_t kDbgAck = 1u << 0;  // forces DBGACK high
inline constexpr std::uint32_t kDbgRq = 1u << 1;   // debug request
inline constexpr std::uint32_t kIntDis = 1u << 2;  // interrupts disabled
inline constexpr std::uint32_t kSingleStep = 1u << 3;  // ARM9TDMI: one instruction, then debug state
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

inline constexpr unsigned kChain2Length = 38;  // D[31:0], A[4:0], R/W

// Chain 2 fields, bit 0 nearest TDO.
inline constexpr std::uint64_t Chain2Word(unsigned address, std::uint32_t data, bool write) {
  return std::uint64_t{data} | (std::uint64_t{address & 0x1F} << 32) |
         (std::uint64_t{write ? 1u : 0u} << 37);
}

struct DebugSettings {
  bool never_halt = false;      // debug requests and watchpoints are ignored
  bool real_time = false;       // the core runs clock_khz instructions per host millisecond
  std::uint32_t clock_khz = 20000;
  std::uint64_t run_budget = 100000000;  // instructions per run in deterministic timing
  // Deterministic timing: the host time one run may take, in microseconds:
  // as much as passed outside the core since the last run ended (the
  // debugger's own work and waits), at least run_host_us and at most
  // run_host_longest_us. A run between two debugger actions ends at the
  // budget or at this bound, whichever comes first, so a core that never
  // halts costs a waiting debugger about its own poll interval per poll,
  // and a loader a debugger waits on runs in the debugger's sleeps.
  std::uint64_t run_host_us = 10000;
  std::uint64_t run_host_longest_us = 100000;
};

struct DebugCounters {
  std::uint64_t debug_instructions = 0;   // executed in debug state, at either speed
  std::uint64_t system_speed_accesses = 0;
  std::uint64_t debug_entries = 0;
  std::uint64_t run_instructions = 0;     // executed while running between debug entries
  std::uint64_t comms_overruns = 0;       // comms data writes lost: the core had not read the last
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
  // The counter Idle adds to, when adding to it is all Idle does: the debug
  // logic then adds the cycles of every TCK there itself (nullptr: it calls
  // Idle).
  virtual std::uint64_t* IdleCounter() { return nullptr; }
};

enum class DebugEntry : std::uint8_t { None, Breakpoint, Watchpoint, DebugRequest, SystemSpeed };

// The value a byte or halfword access takes from a word on the data bus,
// and a byte or halfword value as the core drives it on all lanes.
std::uint32_t DataBusLane(std::uint32_t word, std::uint32_t address, AccessSize size,
                          ByteOrder order);
std::uint32_t ReplicateOnLanes(std::uint32_t value, AccessSize size);
std::uint32_t ReverseBits32(std::uint32_t value);

// The data bus of an instruction executed in debug state: loads take the
// words the debugger scanned in (zero when it gave none), stores leave their
// words for the debugger to capture.
class DebugDataBus : public Bus {
 public:
  DebugDataBus(const std::uint32_t* reads, unsigned read_count, ByteOrder order)
      : reads_(reads), read_count_(read_count), order_(order) {}
  bool Read(std::uint32_t address, AccessSize size, AccessKind kind,
            std::uint32_t& value) override;
  bool Write(std::uint32_t address, AccessSize size, std::uint32_t value) override;
  const std::vector<std::uint32_t>& Writes() const { return writes_; }

 private:
  const std::uint32_t* reads_;
  unsigned read_count_;
  unsigned next_read_ = 0;
  ByteOrder order_;
  std::vector<std::uint32_t> writes_;
};

class ArmDebugLogic : public ScanChains, public DebugObserver {
 public:
  ~ArmDebugLogic() override;
  ArmDebugLogic(const ArmDebugLogic&) = delete;
  ArmDebugLogic& operator=(const ArmDebugLogic&) = delete;

  // ScanChains: chain 2 here, chain 1 and any other by the core's variant.
  unsigned ChainLength(unsigned chain) const override;
  ScanBits Capture(unsigned chain, bool intest) override;
  void Update(unsigned chain, bool intest, ScanBits value) override;
  void EnterRunTestIdle(unsigned instruction, unsigned chain) override;
  void TestLogicReset() override;

  // DebugObserver: the watchpoint comparators and vector catch on the
  // running core.
  bool BeforeInstruction(std::uint32_t address, std::uint32_t opcode, bool thumb) override;
  bool WatchesInstructions() const override;
  bool WatchesData() const override;
  unsigned WatchedInstructions(WatchMatch* matches) const override;
  unsigned WatchedData(WatchMatch* matches) const override;
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
  // A running core's share of the period is paid when the debugger next
  // reaches the comms channel (deterministic timing).
  void TckCycle() {
    if (settings_.real_time) return;
    if (!in_debug_ && !reset_asserted_) {
      ++tck_while_running_;
    } else if (idle_counter_ != nullptr) {
      *idle_counter_ += idle_per_tck_;
    } else {
      runner_->Idle(idle_per_tck_);
    }
  }

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

 protected:
  // find_register: the core's EmbeddedICE register map; comms_version: the
  // EmbeddedICE version the comms control register shows in bits 31..28.
  // runner: nullptr runs the bare core, counting host milliseconds itself in
  // real-time timing.
  ArmDebugLogic(ArmCore& core, Bus& system_bus, const DebugSettings& settings,
                CoreRunner* runner, const IceRegisterInfo* (*find_register)(unsigned),
                std::uint32_t comms_version);

  // The core's variant.
  virtual unsigned Chain1Length() const = 0;
  virtual ScanBits CaptureChain1() = 0;
  virtual void UpdateChain1(ScanBits value) = 0;
  // Chains other than 1 and 2 (the ARM920T's CP15 chain); 0: none.
  virtual unsigned OtherChainLength(unsigned chain) const { (void)chain; return 0; }
  virtual ScanBits CaptureOther(unsigned chain) { (void)chain; return 0; }
  virtual void UpdateOther(unsigned chain, ScanBits value) { (void)chain; (void)value; }
  // One DCLK of a core in debug state, on the word chain 1's update left.
  virtual void DebugClock() = 0;
  // RESTART with the core in debug state.
  virtual void Restart() = 0;
  // Entry into debug state: the pipeline empties and the first instruction
  // the debugger clocks in gets its address.
  virtual void StartDebugPipeline(DebugEntry entry) = 0;
  // Leaving debug state or reset: whatever the pipeline held is gone.
  virtual void ClearPipeline() = 0;
  // A data watchpoint has stopped the core after its instruction; the
  // ARM9TDMI lets the next one run too (false: it was breakpointed).
  virtual bool AfterWatchpoint() { return true; }
  // Whether debug control bit 3 single-steps the core (ARM9TDMI).
  virtual bool HasSingleStep() const { return false; }

  void EnterDebugState(DebugEntry entry);
  void LeaveDebugState(std::uint32_t resume_address);
  bool ConditionPassed(unsigned cond) const;
  void PrivilegeForMsr(std::uint32_t opcode, bool thumb);
  unsigned InstructionSize() const { return core_.Thumb() ? 2 : 4; }
  void Trace(const char* format, ...) const __attribute__((format(printf, 2, 3)));
  bool Tracing() const { return static_cast<bool>(trace_); }
  // Runs the core for `count` instructions or until it halts; the halt's
  // entry into debug state, None when it did not halt.
  DebugEntry RunAndCatch(std::uint64_t count);

  ArmCore& core_;
  Bus& system_bus_;
  CoreRunner* runner_;
  std::uint64_t* idle_counter_ = nullptr;  // runner_->IdleCounter()
  DebugSettings settings_;
  DebugCounters counters_;
  std::uint32_t debug_control_ = 0;
  bool in_debug_ = false;
  DebugEntry last_entry_ = DebugEntry::None;

 private:
  struct Watchpoint {
    std::uint32_t address_value = 0, address_mask = 0, data_value = 0, data_mask = 0;
    std::uint32_t control_value = 0, control_mask = 0;
  };

  void RunCore(std::uint64_t max_instructions);
  // Deterministic timing: the running core runs the core cycles the TCK
  // periods since the last payment last, so what it has done with the
  // comms channel is what it could have done by now.
  void PayTckTime();
  void HandleRunResult(const RunResult& result);
  void ApplyDebugRequest();
  void SetRunning(bool running);
  bool Matches(unsigned unit, std::uint32_t address, std::uint32_t data,
               std::uint32_t control) const;
  bool CheckWatchpoints(std::uint32_t address, std::uint32_t data, std::uint32_t control);
  std::uint32_t AccessControl(AccessSize size, bool data, bool write) const;
  bool VectorCaught(std::uint32_t address) const;
  // The address comparators of the units that may match an access of this
  // kind (a unit matches nothing its address comparator rejects).
  unsigned WatchedAddresses(bool data, WatchMatch* matches) const;

  class OwnRunner;
  // The core's side of the debug comms channel: coprocessor 14, c0 the
  // control register, c1 the data registers.
  class CommsChannel : public Coprocessor {
   public:
    explicit CommsChannel(ArmDebugLogic& logic) : logic_(logic) {}
    bool Read(unsigned opcode1, unsigned crn, unsigned crm, unsigned opcode2,
              std::uint32_t& value) override;
    bool Write(unsigned opcode1, unsigned crn, unsigned crm, unsigned opcode2,
               std::uint32_t value) override;

   private:
    ArmDebugLogic& logic_;
  };
  std::uint32_t CommsControl() const;

  const IceRegisterInfo* (*find_register_)(unsigned);
  std::uint32_t comms_version_;
  std::unique_ptr<CoreRunner> own_runner_;

  std::array<Watchpoint, 2> units_{};
  bool chain_latch_ = false;  // unit 1 has matched: CHAIN input of unit 0
  std::uint32_t vector_catch_ = 0;
  CommsChannel comms_{*this};
  std::uint32_t comms_to_core_ = 0;    // written by the debugger, read by MRC
  bool comms_to_core_full_ = false;    // R bit
  std::uint32_t comms_from_core_ = 0;  // written by MCR, read by the debugger
  bool comms_from_core_full_ = false;  // W bit
  std::uint32_t chain2_latch_ = 0;  // register value a chain-2 read left for the next capture

  bool reset_asserted_ = false;
  std::uint64_t tck_while_running_ = 0;  // TCK periods not yet paid to the running core
  std::uint64_t last_run_end_us_ = 0;    // host time at the end of the last RunCore
  std::uint64_t idle_per_tck_ = 1;  // core cycles in one 1 MHz TCK period
  std::function<void(const std::string&)> trace_;
};

}  // namespace simboard
