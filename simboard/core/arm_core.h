// The virtual board's processor: an ARMv4T core (ARM and THUMB state) as in
// the ARM7TDMI and ARM9TDMI, with the seven modes and their banked registers,
// the exceptions and their vectors, and a minimal CP15 on ARM9TDMI boards.
//
// The core sees the board only through a Bus. Memory the board can expose as
// host bytes (RAM) may be mapped with MapFastMemory; the core then reads and
// writes it directly, which keeps virtual calls off the hot path.
//
// Program counter model: Pc() is the address of the next instruction to
// execute. While an instruction executes, R15 reads as its address + 8 in ARM
// state and + 4 in THUMB state (the visible pipeline). Two ARM7TDMI details
// are kept: a register-specified shift reads R15 as address + 12, and STR/STM
// of R15 store address + 12.
//
// Where ARMv4T leaves a result unpredictable, the core does what the chip
// of its model does every time (odd halfword loads, empty register lists,
// the 26-bit compares into R15, aborted load multiples, BKPT): see the
// instruction helpers in arm_core_internal.h.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "simboard/memory/bus.h"

namespace simboard {

enum class CoreModel : std::uint8_t { ARM7TDMI, ARM9TDMI };

enum class ByteOrder : std::uint8_t { Little, Big };  // Big is BE-32 (word-invariant)

// Processor modes as encoded in CPSR[4:0].
enum class Mode : std::uint8_t {
  User = 0x10,
  Fiq = 0x11,
  Irq = 0x12,
  Supervisor = 0x13,
  Abort = 0x17,
  Undefined = 0x1B,
  System = 0x1F,
};

// Program status register bits.
namespace psr {
inline constexpr std::uint32_t kN = 1u << 31;
inline constexpr std::uint32_t kZ = 1u << 30;
inline constexpr std::uint32_t kC = 1u << 29;
inline constexpr std::uint32_t kV = 1u << 28;
inline constexpr std::uint32_t kFlags = 0xF0000000u;
inline constexpr std::uint32_t kI = 1u << 7;
inline constexpr std::uint32_t kF = 1u << 6;
inline constexpr std::uint32_t kT = 1u << 5;
inline constexpr std::uint32_t kModeMask = 0x1Fu;
inline constexpr std::uint32_t kControl = 0xFFu;
// Bits an ARMv4T status register implements; the others read as zero.
inline constexpr std::uint32_t kImplemented = kFlags | kControl;
}  // namespace psr

enum class Exception : std::uint8_t {
  Reset,          // vector 0x00, Supervisor
  Undefined,      // 0x04, Undefined
  Swi,            // 0x08, Supervisor
  PrefetchAbort,  // 0x0C, Abort
  DataAbort,      // 0x10, Abort
  Irq,            // 0x18, IRQ
  Fiq,            // 0x1C, FIQ
};

// Offset of an exception's vector from the vector base (0 or 0xFFFF0000).
std::uint32_t ExceptionVectorOffset(Exception exception);
// The mode an exception enters.
Mode ExceptionMode(Exception exception);
// True for the seven valid mode encodings.
bool IsValidMode(std::uint32_t mode_bits);

enum class StepOutcome : std::uint8_t {
  Executed,   // one instruction ran (or was skipped by its condition)
  Swi,        // an SWI ran; see swi_comment and exception_taken
  Undefined,  // an undefined instruction: the core entered the undefined vector
  Exception,  // reset, an abort, IRQ or FIQ was taken; see `exception`
  Halted,     // the core stopped; see `halt`
};

enum class HaltReason : std::uint8_t {
  None,
  Breakpoint,    // the observer stopped the core before the instruction; it did not run
  DebugRequest,  // RequestHalt was pending; stopped between instructions
  Watchpoint,    // the observer asked to stop after a data access; the instruction ran
  SwiHook,       // the SWI hook asked to stop; Pc() is past the SWI
};

struct StepResult {
  StepOutcome outcome = StepOutcome::Executed;
  HaltReason halt = HaltReason::None;
  Exception exception = Exception::Reset;  // valid for Swi, Undefined, Exception
  bool exception_taken = false;  // the core entered the exception's vector
  bool pc_written = false;       // the instruction wrote R15 (branch, load, data processing, BX)
  std::uint32_t address = 0;      // address of the instruction concerned
  std::uint32_t opcode = 0;       // its opcode (16 bits in THUMB state)
  std::uint32_t swi_comment = 0;  // SWI comment field: 24 bits (ARM) or 8 bits (THUMB)
  // Core cycles spent, counted as an ARM7TDMI without wait states counts
  // its S, N and I cycles (one clock each).
  std::uint32_t cycles = 0;
};

struct RunResult {
  std::uint64_t instructions = 0;  // instructions executed by this call
  StepResult last;                 // what the last step did
  bool limit_reached = false;      // stopped because max_instructions were executed
};

// What the SWI hook wants done with an SWI.
enum class SwiAction : std::uint8_t {
  TakeException,  // enter the SWI vector as the architecture says
  Resume,         // the hook handled it: continue after the SWI
  Halt,           // the hook handled it and wants the core stopped (Pc() is after the SWI)
};

// Called for each executed SWI before the exception is taken, with the comment
// field and the state it came from; semihosting lives here.
using SwiHook = std::function<SwiAction(std::uint32_t comment, bool thumb)>;

// The accesses a comparator may match: an address and a data value (the
// opcode for a fetch) each equal to `value` in the bits `mask` leaves clear.
struct WatchMatch {
  std::uint32_t address_value = 0;
  std::uint32_t address_mask = 0xFFFFFFFFu;
  std::uint32_t data_value = 0;
  std::uint32_t data_mask = 0xFFFFFFFFu;
  bool Covers(std::uint32_t address, std::uint32_t data) const {
    return ((address ^ address_value) & ~address_mask) == 0 && ((data ^ data_value) & ~data_mask) == 0;
  }
};
inline constexpr unsigned kMaxWatchMatches = 4;

// The debug logic's view of execution. Not called for injected instructions.
class DebugObserver {
 public:
  virtual ~DebugObserver() = default;
  // Before the instruction at `address` executes (also when its condition
  // fails). True stops the core before it: Step returns Halted/Breakpoint and
  // Pc() stays at `address`.
  virtual bool BeforeInstruction(std::uint32_t address, std::uint32_t opcode, bool thumb) = 0;
  // After each completed data access (value as read or written). True stops
  // the core after the instruction: Step returns Halted/Watchpoint.
  virtual bool AfterDataAccess(std::uint32_t address, AccessSize size, std::uint32_t value,
                               bool write) = 0;
  // False while BeforeInstruction would answer false for any instruction
  // and change nothing (no breakpoint or vector catch armed): the core may
  // then pass over a stretch of instructions that do not execute at once,
  // and runs without calling BeforeInstruction.
  virtual bool WatchesInstructions() const { return true; }
  // False while AfterDataAccess would answer false for any access and
  // change nothing (no comparator armed): the core then does not call it.
  virtual bool WatchesData() const { return true; }
  // While watching: the accesses outside of which BeforeInstruction
  // (AfterDataAccess) would answer false and change nothing, as up to
  // kMaxWatchMatches matches (data as the comparators see it: a THUMB
  // opcode or a narrow value on both or all lanes). The default is every
  // access.
  virtual unsigned WatchedInstructions(WatchMatch* matches) const {
    matches[0] = WatchMatch{};
    return 1;
  }
  virtual unsigned WatchedData(WatchMatch* matches) const {
    matches[0] = WatchMatch{};
    return 1;
  }
  // A breakpoint instruction (BKPT) has reached execute on an ARM9TDMI
  // core. True stops the core before it, as a breakpoint on its address
  // does (Step returns Halted/Breakpoint, Pc() stays at `address`); false
  // leaves it an undefined instruction. Asked whatever WatchesInstructions
  // answers; never on an ARM7TDMI core, which has no such instruction.
  virtual bool StopsAtBreakpointInstruction(std::uint32_t address, bool thumb) {
    (void)address;
    (void)thumb;
    return false;
  }
  // All of these are asked at the start of each Step and Run; the answers
  // must not change while the core runs.
};

// A coprocessor reached by MRC/MCR. False makes the instruction undefined.
class Coprocessor {
 public:
  virtual ~Coprocessor() = default;
  virtual bool Read(unsigned opcode1, unsigned crn, unsigned crm, unsigned opcode2,
                    std::uint32_t& value) = 0;
  virtual bool Write(unsigned opcode1, unsigned crn, unsigned crm, unsigned opcode2,
                     std::uint32_t value) = 0;
};

// CP15 control register bits the core acts on.
namespace cp15 {
inline constexpr std::uint32_t kBigEndian = 1u << 7;    // reflects the board's byte order
inline constexpr std::uint32_t kHighVectors = 1u << 13;  // vectors at 0xFFFF0000
}  // namespace cp15

class ArmCore {
 public:
  ArmCore(Bus& bus, CoreModel model, ByteOrder order = ByteOrder::Little);
  ~ArmCore();
  ArmCore(const ArmCore&) = delete;
  ArmCore& operator=(const ArmCore&) = delete;

  CoreModel Model() const { return model_; }
  ByteOrder Order() const { return order_; }

  // ARM state, Supervisor mode, IRQ and FIQ disabled, Pc() at the reset vector;
  // CP15 back to its reset value. Other registers keep their values.
  void Reset();

  // Executes one instruction, or takes one pending interrupt, or stops for a
  // debug request or breakpoint. Time reaches the board through
  // Bus::Advance before each access outside fast memory and when Step ends.
  StepResult Step();
  // Steps until max_instructions have executed or the core halts. Aborted
  // fetches count as instructions, interrupt entries do not. Exceptions
  // whose bit (1 << Exception) is in stop_on_exceptions also end the run,
  // after the core has entered the vector.
  RunResult Run(std::uint64_t max_instructions, unsigned stop_on_exceptions = 0);

  // Executes one instruction that was not fetched (the debug logic clocks it
  // in), with its data accesses on data_bus and no fast memory. The core is
  // put into the state `thumb` names and stays in whatever state the
  // instruction leaves (BX may change it). R15 reads as Pc() + 8 (ARM) or
  // Pc() + 4 (THUMB), as for a fetched instruction at Pc().
  // If the instruction writes R15 (branch, BX, load or data processing into
  // PC, MSR does not count), Pc() holds the new address afterwards and
  // pc_written is set; otherwise Pc() is left unchanged: moving it on is the
  // caller's business. No exception is taken: an SWI, an undefined
  // instruction or an aborted access is reported in the result (Swi,
  // Undefined, Exception with DataAbort) with exception_taken false, and the
  // caller may call TakeException. IRQ/FIQ lines, hooks and counters are not
  // involved. Any cycles are passed to data_bus.Advance.
  StepResult ExecuteInstruction(std::uint32_t opcode, bool thumb, Bus& data_bus);

  // Enters an exception now, as if raised by the instruction at Pc() (for
  // aborts, undefined and SWI) or between instructions before Pc() (IRQ,
  // FIQ): R14 of the new mode gets the return address the architecture
  // defines, SPSR the old CPSR, Pc() the vector.
  void TakeException(Exception exception);

  // Registers. Register(15) is Pc().
  std::uint32_t Register(unsigned n) const;
  void SetRegister(unsigned n, std::uint32_t value);
  // Any bank: User and System share one; R0-R7 and R15 are the same in all.
  std::uint32_t BankedRegister(Mode mode, unsigned n) const;
  void SetBankedRegister(Mode mode, unsigned n, std::uint32_t value);
  std::uint32_t Cpsr() const { return cpsr_; }
  // Writes the whole CPSR (mode, state, flags), switching banks as needed;
  // mode bits that name no mode are ignored.
  void SetCpsr(std::uint32_t value);
  // User and System mode have no SPSR: reads give 0, writes are ignored.
  std::uint32_t Spsr(Mode mode) const;
  void SetSpsr(Mode mode, std::uint32_t value);
  Mode CurrentMode() const { return static_cast<Mode>(cpsr_ & psr::kModeMask); }
  bool Thumb() const { return (cpsr_ & psr::kT) != 0; }
  void SetThumb(bool thumb);
  std::uint32_t Pc() const { return pc_; }
  void SetPc(std::uint32_t address) { pc_ = address; }

  // Interrupt lines, level sensitive, true = asserted.
  void SetIrqLine(bool asserted);
  void SetFiqLine(bool asserted);
  bool IrqLine() const { return irq_line_; }
  bool FiqLine() const { return fiq_line_; }

  // Debug entry between instructions: the next Step returns Halted/DebugRequest
  // without executing anything (before any interrupt). Stays pending until
  // cleared, so a halted core keeps halting.
  void RequestHalt();
  void ClearHaltRequest();
  bool HaltRequested() const { return halt_request_; }

  void SetDebugObserver(DebugObserver* observer);
  void SetSwiHook(SwiHook hook);

  // Host memory standing for [base, base + size): byte i of `memory` is the
  // byte at processor address base + i. The core composes halfwords and words
  // in its byte order. The memory must outlive the mapping.
  //
  // Instructions fetched from fast memory are decoded once and kept, page by
  // page; the core's own stores drop what they overwrite. Whoever else
  // changes such memory (the region behind it, the host over JTAG, a test
  // writing the bytes) must call InvalidateCode for the bytes it changed.
  void MapFastMemory(std::uint32_t base, std::uint32_t size, std::uint8_t* memory);
  void ClearFastMemory();
  // Bytes [address, address + count) of memory have changed: decoded
  // instructions that cover any of them are dropped.
  void InvalidateCode(std::uint32_t address, std::uint32_t count);

  // Coprocessor `number` (0-15) served by `coprocessor` (nullptr: none).
  // An ARM9TDMI core has its own CP15 unless one is attached here.
  void AttachCoprocessor(unsigned number, Coprocessor* coprocessor);
  // CP15 (ARM9TDMI): the ID register and the control register.
  std::uint32_t Cp15Id() const { return cp15_id_; }
  void SetCp15Id(std::uint32_t id) { cp15_id_ = id; }
  std::uint32_t Cp15Control() const { return cp15_control_; }
  void SetCp15Control(std::uint32_t value);
  std::uint32_t VectorBase() const;

  // Counters since construction or ResetCounters.
  std::uint64_t InstructionCount() const { return instructions_; }
  std::uint64_t CycleCount() const { return cycles_; }
  // Of InstructionCount, those of polling loops that Run passed over at once.
  std::uint64_t RepeatedInstructions() const { return repeated_; }
  void ResetCounters() {
    instructions_ = 0;
    flushed_cycles_ -= cycles_;  // keeps what the bus has not heard of yet
    cycles_ = 0;
    repeated_ = 0;
  }

 private:
  friend struct ArmInstructions;
  friend struct ArmDecoder;
  friend struct ThumbInstructions;
  friend struct ThumbDecoder;

  using Handler = void (*)(ArmCore&, std::uint32_t);

  // One decoded instruction: the handler of its encoding and the opcode it
  // was decoded from, for the state it was fetched in (empty: not decoded).
  enum class DecodedState : std::uint8_t { Empty, Arm, Thumb };
  struct Decoded {
    Handler handler = nullptr;
    std::uint32_t opcode = 0;
    DecodedState state = DecodedState::Empty;
  };
  // The decoded instructions of one page of fast memory, one slot per
  // halfword (an ARM instruction uses the slot of its first halfword).
  static constexpr unsigned kCodePageShift = 12;
  static constexpr std::uint32_t kCodePageBytes = 1u << kCodePageShift;
  struct CodePage {
    std::array<Decoded, kCodePageBytes / 2> slots{};
  };

  struct FastRegion {
    std::uint32_t base;
    std::uint32_t size;
    std::uint8_t* memory;
    // Decoded pages by (offset >> kCodePageShift), made on the first fetch.
    mutable std::vector<std::unique_ptr<CodePage>> code;
  };

  // Bank slots for R13/R14 and the SPSR.
  enum Bank : unsigned { kBankUser, kBankFiq, kBankIrq, kBankSupervisor, kBankAbort,
                         kBankUndefined, kBankCount };
  static unsigned BankOf(std::uint32_t mode_bits);

  void SwitchMode(std::uint32_t new_mode_bits);
  void WriteCpsr(std::uint32_t value);
  std::uint32_t UserRegister(unsigned n) const;
  void SetUserRegister(unsigned n, std::uint32_t value);
  void EnterException(Exception exception, std::uint32_t return_address);
  // One step; `outside_fast` when Pc() is known to lie outside fast memory
  // (its decoded instruction is then not looked up again).
  StepResult StepInternal(bool outside_fast = false);
  void ExecuteCurrent(std::uint32_t opcode, StepResult& result);
  bool Fetch(std::uint32_t address, bool thumb, std::uint32_t& opcode);
  void UpdatePendingEvents();

  // Data accesses of the executing instruction; false when it aborted (the
  // abort is then pending). Values are as the processor sees them. An
  // access inside the fast region the last one found is made here; any
  // other goes through the slow half, which also moves the window.
  bool ReadData(std::uint32_t address, AccessSize size, std::uint32_t& value) {
    const std::uint32_t bytes = static_cast<std::uint32_t>(size);
    address &= ~(bytes - 1);
    const std::uint32_t offset = address - data_window_.base;
    if (data_window_.plain && offset < data_window_.size && data_window_.size - offset >= bytes) {
      value = LoadFast(data_window_.memory + offset, size);
      return true;
    }
    return ReadDataSlow(address, size, value);
  }
  bool WriteData(std::uint32_t address, AccessSize size, std::uint32_t value) {
    const std::uint32_t bytes = static_cast<std::uint32_t>(size);
    address &= ~(bytes - 1);
    if (bytes < 4) value &= (1u << (8 * bytes)) - 1;
    const std::uint32_t offset = address - data_window_.base;
    if (data_window_.plain && offset < data_window_.size && data_window_.size - offset >= bytes) {
      loop_dirty_ = true;
      StoreFast(data_window_.memory + offset, size, value);
      if (data_window_.code[offset >> kCodePageShift])
        ForgetDecoded(data_window_.code, offset, bytes);
      return true;
    }
    return WriteDataSlow(address, size, value);
  }
  bool ReadDataSlow(std::uint32_t address, AccessSize size, std::uint32_t& value);
  bool WriteDataSlow(std::uint32_t address, AccessSize size, std::uint32_t value);
  // Drops the decoded instructions a store of `bytes` at `offset` in a fast
  // region overwrote: the slot of each halfword written and of an ARM
  // instruction starting 2 below.
  static void ForgetDecoded(const std::unique_ptr<CodePage>* code, std::uint32_t offset,
                            std::uint32_t bytes);
  // The fast region of the last data access that found one. `plain` while
  // nothing needs to see each access (no data watch, no injected
  // instruction); size 0 while there is none.
  struct DataWindow {
    std::uint32_t base = 0;
    std::uint32_t size = 0;
    std::uint8_t* memory = nullptr;
    const std::unique_ptr<CodePage>* code = nullptr;
    bool plain = true;
  };
  DataWindow data_window_;
  void SetDataWindow(const FastRegion& region);
  void UpdateDataPlain() { data_window_.plain = !injected_ && !watch_data_; }
  const FastRegion* FindFast(std::uint32_t address, std::uint32_t bytes) const {
    return fast_.empty() ? nullptr : FindFastRegion(address, bytes);
  }
  const FastRegion* FindFastRegion(std::uint32_t address, std::uint32_t bytes) const;
  // The decoded instruction at Pc() in the current state, decoding it now
  // when it is not yet; nullptr when Pc() is not in fast memory or not
  // aligned to the state's instruction size.
  const Decoded* DecodedAtPc() { return DecodedAtPc(Thumb()); }
  // The same with the state known to the caller (`thumb` is Thumb()).
  const Decoded* DecodedAtPc(bool thumb) {
    const std::uint32_t offset = pc_ - code_base_;
    if (offset < code_span_) {  // code_span_ is 0 while code_page_ is null
      const Decoded& decoded = code_page_->slots[offset >> 1];
      if ((pc_ & (thumb ? 1u : 3u)) == 0 &&
          decoded.state == (thumb ? DecodedState::Thumb : DecodedState::Arm)) {
        return &decoded;
      }
    }
    return DecodeAtPc();
  }
  const Decoded* DecodeAtPc();
  // What the watching observer needs, asked at the start of Step and Run.
  void AskObserver();
  // The part of a step after the instruction ran: PC, pending exceptions and
  // a watchpoint hit, into `result`.
  [[gnu::always_inline]] inline void FinishStep(bool thumb, StepResult& result);
  // How RunStraight stopped: at an instruction that ran but needs the
  // general handling (`unfinished`), or before one outside fast memory
  // (`outside`), or else before a watched instruction, at the budget or at
  // a pending event. `address` and `opcode` are of the last instruction it
  // ran.
  struct StraightEnd {
    bool unfinished = false;
    bool outside = false;
    bool thumb = false;
    std::uint32_t address = 0;
    std::uint32_t opcode = 0;
  };
  // Runs decoded instructions from Pc() on, at most `budget`, while each
  // one moves on to the next or branches elsewhere; returns how many ran
  // (polling loops' repeats included), the unfinished one not among them.
  std::uint64_t RunStraight(std::uint64_t budget, StraightEnd& end);
  // Run's handling of one step: counts it, and true when the run ends.
  [[gnu::always_inline]] inline bool AfterRunStep(const StepResult& step, RunResult& run,
                                                  std::uint64_t max_instructions,
                                                  unsigned stop_on_exceptions);
  // Passes over up to `limit` ARM instructions from Pc() whose condition
  // fails under the current flags, all at once, as stepping them would:
  // PC, counts, one cycle each and the fetches' read counts. Returns how
  // many; 0 when a fetch there could do more than read plain memory.
  std::uint64_t SkipUnexecuted(std::uint64_t limit);
  // A branch to its own address, which repeats for ever once taken.
  static bool BranchesToItself(std::uint32_t opcode, bool thumb);
  // Repeats the branch to itself at Pc() `limit` times at once, as stepping
  // would (`cycles_each` per branch), when its fetch reads plain memory.
  std::uint64_t SpinInPlace(std::uint64_t limit, std::uint32_t cycles_each);
  // Polling loops (steady_loops.cpp). Between two taken backward branches
  // to the same head the core notes the bus reads it made and whether
  // anything else happened (a write, a coprocessor access, an exception, a
  // fetch from the bus). A loop that only read addresses the bus promises
  // steady, each an even number of times over two visits, and is back at
  // its head in the state of two visits before, repeats those two visits
  // exactly until the first promise ends: Run passes over the repeats at
  // once, with their counts, cycles and reads.
  struct LoopRead {
    std::uint32_t address = 0;
    AccessSize size = AccessSize::Word;
    std::uint64_t reads = 0;
    std::uint64_t end = 0;  // CycleCount() at which the bus's promise ends
  };
  static constexpr unsigned kMaxLoopReads = 4;
  struct LoopInterval {
    std::array<LoopRead, kMaxLoopReads> reads{};
    unsigned addresses = 0;
    bool steady = true;
  };
  // Everything an instruction may read or change but memory and devices.
  struct LoopVisit {
    std::array<std::uint32_t, 44> state{};
    std::uint64_t instructions = 0;
    std::uint64_t cycles = 0;
  };
  void ForgetLoop();
  void NoteLoopRead(std::uint32_t address, AccessSize size);
  // At a taken backward branch from `branch` to `head` after bus reads:
  // how many instructions (at most `budget`) were passed over.
  std::uint64_t AtLoopHead(std::uint32_t head, std::uint32_t branch, std::uint64_t budget);
  LoopVisit SaveLoopVisit() const;
  // A loop of ARM code that counts down a time-out, ending in
  // "SUBS rX, rX, #step; BNE head" with rX named nowhere else in it.
  struct LoopCount {
    int reg = -1;  // -1: no such count
    std::uint32_t step = 0;
    std::uint32_t body = 0;  // instructions from the head to the branch
  };
  LoopCount CountOfLoop(std::uint32_t head, std::uint32_t branch) const;
  // Passes over repeats of the last two visits, the count (if any) moving
  // on by its step.
  std::uint64_t RepeatLoop(std::uint64_t budget, const LoopCount& count);

  // Host bytes of fast memory in the target's byte order.
  std::uint32_t LoadFast(const std::uint8_t* p, AccessSize size) const {
    switch (size) {
      case AccessSize::Byte:
        return p[0];
      case AccessSize::Half: {
        std::uint16_t half;
        std::memcpy(&half, p, 2);
        return order_ == kHostOrder ? half : __builtin_bswap16(half);
      }
      case AccessSize::Word: {
        std::uint32_t word;
        std::memcpy(&word, p, 4);
        return order_ == kHostOrder ? word : __builtin_bswap32(word);
      }
    }
    return 0;
  }
  void StoreFast(std::uint8_t* p, AccessSize size, std::uint32_t value) const {
    switch (size) {
      case AccessSize::Byte:
        p[0] = static_cast<std::uint8_t>(value);
        return;
      case AccessSize::Half: {
        std::uint16_t half = static_cast<std::uint16_t>(value);
        if (order_ != kHostOrder) half = __builtin_bswap16(half);
        std::memcpy(p, &half, 2);
        return;
      }
      case AccessSize::Word:
        if (order_ != kHostOrder) value = __builtin_bswap32(value);
        std::memcpy(p, &value, 4);
        return;
    }
  }
  static constexpr ByteOrder kHostOrder =
      std::endian::native == std::endian::little ? ByteOrder::Little : ByteOrder::Big;
  // A word loaded from an unaligned address, rotated as the core does.
  std::uint32_t RotateUnaligned(std::uint32_t word, std::uint32_t address) const;

  bool CoprocessorRead(unsigned cp, unsigned op1, unsigned crn, unsigned crm, unsigned op2,
                       std::uint32_t& value);
  bool CoprocessorWrite(unsigned cp, unsigned op1, unsigned crn, unsigned crm, unsigned op2,
                        std::uint32_t value);

  // Register file: the current view, the stored banks and the status registers.
  std::array<std::uint32_t, 16> r_{};        // r_[15] = address + 8/4 while executing
  std::array<std::uint32_t, 5> user_r8_r12_{};  // R8-R12 of every mode but FIQ
  std::array<std::uint32_t, 5> fiq_r8_r12_{};
  std::array<std::uint32_t, kBankCount> bank_r13_{};
  std::array<std::uint32_t, kBankCount> bank_r14_{};
  std::array<std::uint32_t, kBankCount> bank_spsr_{};
  std::uint32_t cpsr_ = 0;
  std::uint32_t pc_ = 0;

  Bus& bus_;
  Bus* data_bus_;
  CoreModel model_;
  ByteOrder order_;

  // Per-instruction state. What the executing instruction did besides
  // registers and memory is cleared before it and tested after it at once.
  struct InstructionEvents {
    bool pc_written = false;
    bool exception_pending = false;
    bool watch_hit = false;
    bool breakpoint_hit = false;  // a BKPT the observer stops at
    // Any of them but pc_written.
    bool Unusual() const {
      std::uint32_t word;
      std::memcpy(&word, this, sizeof word);
      return (word & ~std::uint32_t{0xFF}) != 0;
    }
  };
  static_assert(sizeof(InstructionEvents) == 4);
  InstructionEvents current_;
  bool injected_ = false;
  Exception pending_exception_ = Exception::Reset;
  std::uint32_t swi_comment_ = 0;
  std::uint32_t cycles_now_ = 0;  // cycles of the instruction executing

  bool irq_line_ = false;
  bool fiq_line_ = false;
  bool halt_request_ = false;
  bool events_pending_ = false;  // any of the above that may need attention

  DebugObserver* observer_ = nullptr;
  // The observer's answers at the start of this step or run.
  bool watch_instructions_ = false;
  bool watch_data_ = false;
  unsigned watched_instruction_count_ = 0;
  unsigned watched_data_count_ = 0;
  std::array<WatchMatch, kMaxWatchMatches> watched_instructions_{};
  std::array<WatchMatch, kMaxWatchMatches> watched_data_{};
  bool InstructionWatched(std::uint32_t address, std::uint32_t opcode, bool thumb) const {
    const std::uint32_t data = thumb ? (opcode & 0xFFFFu) * 0x00010001u : opcode;
    for (unsigned i = 0; i < watched_instruction_count_; ++i)
      if (watched_instructions_[i].Covers(address, data)) return true;
    return false;
  }
  bool DataWatched(std::uint32_t address, AccessSize size, std::uint32_t value) const {
    const std::uint32_t data = size == AccessSize::Byte   ? (value & 0xFFu) * 0x01010101u
                               : size == AccessSize::Half ? (value & 0xFFFFu) * 0x00010001u
                                                          : value;
    for (unsigned i = 0; i < watched_data_count_; ++i)
      if (watched_data_[i].Covers(address, data)) return true;
    return false;
  }
  SwiHook swi_hook_;
  std::vector<FastRegion> fast_;
  mutable std::size_t last_fast_ = 0;  // index in fast_ of the last region found
  // The code page Pc() was last decoded from: its slots, the address of its
  // first byte and how many of its bytes lie in fast memory.
  CodePage* code_page_ = nullptr;
  const std::uint8_t* code_memory_ = nullptr;
  std::uint32_t code_base_ = 0;
  std::uint32_t code_span_ = 0;
  std::array<Coprocessor*, 16> coprocessors_{};
  std::uint32_t cp15_id_;
  std::uint32_t cp15_control_ = 0;
  std::array<std::uint32_t, 16> cp15_registers_{};  // c2, c3, c5, c6, c13 kept as written

  // Polling loop state: the head, the visits kept (up to two, with clean
  // intervals between them and since), the reads between the two and since
  // the last, and what happened since the last backward branch.
  std::uint32_t loop_head_ = 0;
  unsigned loop_visits_ = 0;
  std::array<LoopVisit, 2> loop_visit_{};  // [1] the last visit, [0] the one before
  LoopInterval loop_before_;               // between loop_visit_[0] and [1]
  LoopInterval loop_now_;                  // since loop_visit_[1]
  unsigned loop_misses_ = 0;               // visits of the head that did not repeat
  unsigned loop_quiet_ = 0;                // visits of the head to let pass unwatched
  std::uint32_t loop_reads_ = 0;           // bus reads since the last backward branch
  bool loop_dirty_ = false;                // anything but steady reads since then

  std::uint64_t instructions_ = 0;
  std::uint64_t cycles_ = 0;
  std::uint64_t repeated_ = 0;
  // CycleCount() when the bus last heard of the time: the cycles since reach
  // the board before each access that leaves fast memory and at the end of
  // every Step and Run.
  std::uint64_t flushed_cycles_ = 0;
  void FlushCycles() {
    if (cycles_ != flushed_cycles_) {
      const std::uint64_t cycles = cycles_ - flushed_cycles_;
      flushed_cycles_ = cycles_;
      bus_.Advance(cycles);
    }
  }
};

}  // namespace simboard
