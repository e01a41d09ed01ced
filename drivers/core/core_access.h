// Control of an ARM core through its JTAG debug logic: what the breakpoint
// code and the command layer need of a core family.
#pragma once

#include <cstdint>

namespace drivers {

// EmbeddedICE register addresses.
enum IceRegister : int {
  kIceDebugControl = 0,
  kIceDebugStatus = 1,
  kIceCommsControl = 4,
  kIceCommsData = 5,
  kIceUnit0 = 8,   // address value, address mask, data value, data mask,
  kIceUnit1 = 16,  // control value, control mask
};
inline constexpr int kIceAddressValue = 0;
inline constexpr int kIceAddressMask = 1;
inline constexpr int kIceDataValue = 2;
inline constexpr int kIceDataMask = 3;
inline constexpr int kIceControlValue = 4;
inline constexpr int kIceControlMask = 5;
inline constexpr int IceUnitBase(int unit) { return unit == 0 ? kIceUnit0 : kIceUnit1; }

inline constexpr std::uint32_t kDebugAck = 0x01;         // debug status bit 0
inline constexpr std::uint32_t kDebugThumb = 0x10;       // debug status bit 4

// Watchpoint control value and mask bits (ARM7TDMI TRM, EmbeddedICE
// watchpoint registers). In a mask a 1 leaves the bit out of the
// comparison; in the address and data masks likewise per bit.
inline constexpr std::uint32_t kControlWrite = 0x001;    // bit 0 nRW: a write
inline constexpr std::uint32_t kControlData = 0x008;     // bit 3 nOPC: a data access, not a fetch
inline constexpr std::uint32_t kControlRange = 0x080;    // bit 7 RANGE: the other unit matches
inline constexpr std::uint32_t kControlEnable = 0x100;   // bit 8 ENABLE
inline constexpr std::uint32_t kMaskIgnoreAll = 0xFFFFFFFF;
inline constexpr std::uint32_t kMaskExact = 0;

// Every bit set but nOPC. As a control value: enabled, on an instruction
// fetch, the other bits whatever the mask lets through; as a control mask:
// only nOPC is compared.
inline constexpr std::uint32_t kControlFetchOnly = 0xFFFFFFF7;
static_assert(kControlFetchOnly == ~kControlData);
// The fetch match without ENABLE: the unit feeds RANGE but halts nothing.
inline constexpr std::uint32_t kControlFetchUnarmed = kControlFetchOnly & ~kControlEnable;
// A fetch while RANGE is low (value), with RANGE and nOPC compared (mask).
inline constexpr std::uint32_t kControlFetchOutOfRange = kControlFetchOnly & ~kControlRange;
// Every bit set but ENABLE: a unit that matches nothing.
inline constexpr std::uint32_t kControlUnitOff = ~kControlEnable;

// Debug control values.
inline constexpr std::uint32_t kDebugInterruptsOff = 4;       // INTDIS
inline constexpr std::uint32_t kDebugRequest = 6;             // DBGRQ and INTDIS
inline constexpr std::uint32_t kDebugRun = 0;                 // interrupts on, no request

// Comms control bits (ARM7TDMI TRM, debug communications channel): R, the
// debugger's word waits for the core; W, the core's word waits for the
// debugger.
inline constexpr std::uint32_t kCommsToCoreFull = 0x1;
inline constexpr std::uint32_t kCommsFromCoreFull = 0x2;

// How far a write into the comms channel went (slot 24).
struct CommsProgress {
  std::uint32_t written = 0;
  std::uint32_t status = 0;  // the core's word, when status_read
  bool status_read = false;
  std::uint32_t control = 0;  // comms control as last read
};

// Halt results.
enum HaltResult : int { kHaltFailed = 0, kHalted = 1, kWasHalted = 2 };

class CoreAccess {
 public:
  virtual ~CoreAccess() = default;

  [[nodiscard]] virtual bool ReadDebugStatus(std::uint32_t* status) = 0;
  [[nodiscard]] virtual bool ReadIce(int address, std::uint32_t* value) = 0;
  [[nodiscard]] virtual bool WriteIce(int address, std::uint32_t value) = 0;
  // The IDCODE when its bit 0 is 1, else 0.
  [[nodiscard]] virtual std::uint32_t ReadIdcode() = 0;
  // Reads every register of the current mode into the register file.
  [[nodiscard]] virtual bool ReadRegisters() = 0;
  // Loads the bank of mode record `index` into the register file.
  [[nodiscard]] virtual bool LoadBank(int index) = 0;
  // Writes the register file back and restarts the core.
  [[nodiscard]] virtual bool Resume() = 0;
  [[nodiscard]] virtual int Halt() = 0;
  [[nodiscard]] virtual bool SingleStep() = 0;
  [[nodiscard]] virtual bool ResetAndCatch() = 0;

  // Memory through the core. With `check_halted` the core's state is read
  // first and a running core refused with the operation's message.
  [[nodiscard]] virtual bool Load(std::uint32_t address, int width, std::uint32_t* value,
                    bool check_halted = true) = 0;
  [[nodiscard]] virtual bool Store(std::uint32_t address, int width, std::uint32_t value,
                     bool check_halted = true) = 0;
  // count a multiple of 8 words.
  [[nodiscard]] virtual bool BlockLoad(std::uint32_t address, std::uint32_t* words, int count,
                         bool check_halted = true) = 0;
  // count a multiple of 12 words.
  [[nodiscard]] virtual bool BlockStore(std::uint32_t address, const std::uint32_t* words, int count,
                          bool check_halted = true) = 0;
  // Words into the comms channel of a running core, the control read
  // before the first and after every `check_every` (0: before the first
  // only); see slot 24 in gdi.h. False: the chain could not be selected.
  [[nodiscard]] virtual bool WriteComms(const std::uint32_t* words, std::uint32_t count,
                                        std::uint32_t check_every, CommsProgress* out) {
    static_cast<void>(words), static_cast<void>(count), static_cast<void>(check_every);
    *out = {};
    return false;
  }
};

}  // namespace drivers
