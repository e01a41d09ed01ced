// Control of an ARM core through its JTAG debug logic: what the breakpoint
// code and the command layer need of a core family.
#pragma once

#include <cstdint>

namespace drivers {

// EmbeddedICE register addresses.
enum IceRegister : int {
  kIceDebugControl = 0,
  kIceDebugStatus = 1,
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
inline constexpr std::uint32_t kControlEnable = 0x100;   // watchpoint control bit 8
inline constexpr std::uint32_t kControlUnitOff = 0xFFFFFEFF;

// Debug control values.
inline constexpr std::uint32_t kDebugInterruptsOff = 4;       // INTDIS
inline constexpr std::uint32_t kDebugRequest = 6;             // DBGRQ and INTDIS
inline constexpr std::uint32_t kDebugRun = 0;                 // interrupts on, no request

// Halt results.
enum HaltResult : int { kHaltFailed = 0, kHalted = 1, kWasHalted = 2 };

class CoreAccess {
 public:
  virtual ~CoreAccess() = default;

  virtual bool ReadDebugStatus(std::uint32_t* status) = 0;
  virtual bool ReadIce(int address, std::uint32_t* value) = 0;
  virtual bool WriteIce(int address, std::uint32_t value) = 0;
  // The IDCODE when its bit 0 is 1, else 0.
  virtual std::uint32_t ReadIdcode() = 0;
  // Reads every register of the current mode into the register file.
  virtual bool ReadRegisters() = 0;
  // Loads the bank of mode record `index` into the register file.
  virtual bool LoadBank(int index) = 0;
  // Writes the register file back and restarts the core.
  virtual bool Resume() = 0;
  virtual int Halt() = 0;
  virtual bool SingleStep() = 0;
  virtual bool ResetAndCatch() = 0;

  // Memory through the core. With `check_halted` the core's state is read
  // first and a running core refused with the operation's message.
  virtual bool Load(std::uint32_t address, int width, std::uint32_t* value,
                    bool check_halted = true) = 0;
  virtual bool Store(std::uint32_t address, int width, std::uint32_t value,
                     bool check_halted = true) = 0;
  // count a multiple of 8 words.
  virtual bool BlockLoad(std::uint32_t address, std::uint32_t* words, int count,
                         bool check_halted = true) = 0;
  // count a multiple of 12 words.
  virtual bool BlockStore(std::uint32_t address, const std::uint32_t* words, int count,
                          bool check_halted = true) = 0;
};

}  // namespace drivers
