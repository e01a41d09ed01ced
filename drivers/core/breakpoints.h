// Execution breakpoints and data watchpoints over the two EmbeddedICE
// watchpoint units. Software breakpoints put the pattern 0xEFEFEFEF (0xEFEF
// for a THUMB halfword) into target RAM and share one unit that halts on
// fetching it; the table hides the pattern from memory reads and diverts
// writes that fall on it.
#pragma once

#include <cstdint>

#include "drivers/core/core_access.h"
#include "drivers/core/driver_state.h"

namespace drivers {

inline constexpr std::uint32_t kWordPattern = 0xEFEFEFEF;
inline constexpr std::uint32_t kHalfwordPattern = 0xEFEF;
inline constexpr std::uint8_t kPatternByte = 0xEF;

inline constexpr std::uint32_t kFlagExecute = 0x01;
inline constexpr std::uint32_t kFlagWatchMask = 0x0E;
inline constexpr std::uint32_t kFlagRejectedMask = 0xF0;
inline constexpr std::uint32_t kKindHardware = 0;
inline constexpr std::uint32_t kKindSoftware = 1;
inline constexpr std::uint32_t kKindAutomatic = 2;

// What the host asks for: flags, a spare word, address, condition, kind.
struct BreakpointSpec {
  std::uint32_t flags = 0;
  std::uint32_t spare = 0;
  std::uint32_t address = 0;
  std::uint32_t condition = 0;
  std::uint32_t kind = 0;
};

struct UnitSetting;

class Breakpoints {
 public:
  Breakpoints(DriverState* state, CoreAccess* core) : state_(state), core_(core) {}

  // Slot results: 0, 2, 4 or 5. On success `out` is the entry as set.
  [[nodiscard]] int Set(const BreakpointSpec& request, BreakpointSlot* out);
  [[nodiscard]] int Clear(std::uint32_t number);
  // Callers that only want the table empty (a test between its cases) may
  // leave the result aside.
  int ClearAll();

  // Re-enables every unit a used entry holds (after a JTAG error).
  void ReenableUnits();

  // The used execution entry at `pc`, or the used software entry at pc ^ 2.
  [[nodiscard]] BreakpointSlot* ExecutionAt(std::uint32_t pc);
  [[nodiscard]] BreakpointSlot* SoftwareAt(std::uint32_t address);

  // A whole-word software entry becomes a 16-bit one: the other halfword of
  // its word gets its saved bytes back.
  [[nodiscard]] bool Split(BreakpointSlot& entry);
  // The saved instruction back into memory, and the pattern again.
  [[nodiscard]] bool WriteSaved(const BreakpointSlot& entry);
  [[nodiscard]] bool WritePattern(const BreakpointSlot& entry);

  // Memory shadowing over `count` bytes at `address`, in address order.
  void ShadowRead(std::uint32_t address, std::uint8_t* bytes, std::uint32_t count) const;
  void ShadowWrite(std::uint32_t address, std::uint8_t* bytes, std::uint32_t count);

  static bool IsSoftware(const BreakpointSlot& entry) {
    return entry.number != 0 && (entry.flags & kFlagExecute) && entry.kind == kKindSoftware &&
           !(entry.flags & kFlagWatchMask);
  }

 private:
  [[nodiscard]] bool UnitBusy(int unit, bool* busy);
  int ChooseUnit(const bool busy[2]);
  [[nodiscard]] bool CoreHalted();
  [[nodiscard]] bool ProgramUnit(int unit, const std::uint32_t values[6], const bool written[6]);
  [[nodiscard]] bool ProgramUnit(int unit, const UnitSetting& setting, std::uint32_t address);
  // A free unit, or -1 after the too-many warning.
  int FreeUnit(const bool busy[2]);
  // Set by kind: the unit and width go into `made`; a GDI result.
  int SetWatch(const BreakpointSpec& request, const bool busy[2], BreakpointSlot& made);
  int SetHardware(const BreakpointSpec& request, const bool busy[2], BreakpointSlot& made);
  int SetSoftware(const BreakpointSpec& request, const bool busy[2], BreakpointSlot& made);
  [[nodiscard]] bool UnitOff(int unit);
  bool AnySoftware(const BreakpointSlot* except) const;
  // Is the word at `address` writable RAM? Probes it with two patterns.
  [[nodiscard]] bool ProbeWritable(std::uint32_t address);
  // The saved halfword at `address` out of a whole-word entry's saved word.
  std::uint32_t SavedHalfword(const BreakpointSlot& whole, std::uint32_t address) const;
  // The pattern bytes an entry covers and the byte of its saved value for
  // each; false when the address is not covered.
  bool SavedByteAt(const BreakpointSlot& entry, std::uint32_t address, int* shift) const;

  DriverState* state_;
  CoreAccess* core_;
};

}  // namespace drivers
