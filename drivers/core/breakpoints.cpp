#include "drivers/core/breakpoints.h"

#include "driver_api/gdi.h"

namespace drivers {
namespace {

const char* const kTooMany = "Warning: too many breakpoints.\n";
const char* const kSetRunning =
    "Debug: Can not execute set breakpoint command while CPU is running!\n";

}  // namespace

bool Breakpoints::UnitBusy(int unit, bool* busy) {
  std::uint32_t control = 0;
  if (!core_->ReadIce(IceUnitBase(unit) + kIceControlValue, &control)) return false;
  *busy = (control & kControlEnable) != 0;
  return true;
}

int Breakpoints::ChooseUnit(const bool busy[2]) {
  if (!busy[0]) return 0;
  if (!busy[1]) return 1;
  return -1;
}

bool Breakpoints::CoreHalted() {
  std::uint32_t status = 0;
  if (!core_->ReadDebugStatus(&status)) return false;
  if (!(status & kDebugAck)) {
    state_->messenger.Report("%s", kSetRunning);
    return false;
  }
  return true;
}

bool Breakpoints::ProgramUnit(int unit, const std::uint32_t values[6], const bool written[6]) {
  if (!CoreHalted()) return false;
  for (int r = 0; r < 6; ++r) {
    if (written[r] && !core_->WriteIce(IceUnitBase(unit) + r, values[r])) return false;
  }
  return true;
}

bool Breakpoints::UnitOff(int unit) {
  return core_->WriteIce(IceUnitBase(unit) + kIceControlValue, kControlUnitOff);
}

bool Breakpoints::AnySoftware(const BreakpointSlot* except) const {
  for (const BreakpointSlot& entry : state_->breakpoints) {
    if (&entry != except && IsSoftware(entry)) return true;
  }
  return false;
}

bool Breakpoints::ProbeWritable(std::uint32_t address) {
  const std::uint32_t word = address & ~3u;
  std::uint32_t original = 0;
  std::uint32_t back = 0;
  // The accesses' results are left aside on purpose: a failed access shows
  // as a read-back that differs, and the address then counts as not
  // writable (the caller takes a hardware unit instead).
  (void)core_->Load(word, 4, &original);
  (void)core_->Store(word, 4, 0x55AA55AA);
  (void)core_->Load(word, 4, &back);
  if (back != 0x55AA55AA) return false;
  (void)core_->Store(word, 4, 0xAA55AA55);
  (void)core_->Load(word, 4, &back);
  (void)core_->Store(word, 4, original);
  return back == 0xAA55AA55;
}

std::uint32_t Breakpoints::SavedHalfword(const BreakpointSlot& whole, std::uint32_t address) const {
  // The halfword at offset 0 of a word is its low half on little-endian
  // targets and its high half on big-endian ones.
  const bool offset_zero = (address & 2) == 0;
  const bool high = state_->big_endian() ? offset_zero : !offset_zero;
  return high ? (whole.saved >> 16) & 0xFFFF : whole.saved & 0xFFFF;
}

// What one kind of entry writes into its watchpoint unit, registers in
// address order: address value and mask, data value and mask, control value
// and mask. The address value is the request's; a register left out keeps
// what it held.
struct UnitSetting {
  bool writes_address;
  std::uint32_t address_mask;
  bool writes_data;
  std::uint32_t data_value;
  std::uint32_t data_mask;
  std::uint32_t control_value;
  std::uint32_t control_mask;
};

namespace {

// An execution breakpoint: a fetch from the address (bit 0 left out).
constexpr UnitSetting kExecuteSetting = {true, 1, false, 0, kMaskIgnoreAll, kControlFetchOnly,
                                         kControlFetchOnly};
// The unit every software breakpoint shares: a fetch of the pattern from
// any address.
constexpr UnitSetting kPatternSetting = {false, kMaskIgnoreAll, true, kWordPattern, kMaskExact,
                                         kControlFetchOnly, kControlFetchOnly};
// Data watchpoints, by access code (0 read, 1 write, 2 either): the exact
// address, any data, a data access; read or write alone compare nRW too.
constexpr UnitSetting kWatchSettings[3] = {
    {true, kMaskExact, false, 0, kMaskIgnoreAll, kControlEnable | kControlData,
     ~(kControlData | kControlWrite)},
    {true, kMaskExact, false, 0, kMaskIgnoreAll, kControlEnable | kControlData | kControlWrite,
     ~(kControlData | kControlWrite)},
    {true, kMaskExact, false, 0, kMaskIgnoreAll, kControlEnable | kControlData, ~kControlData},
};

// Host watch flags to the access code.
int WatchCode(std::uint32_t flags) {
  const std::uint32_t access = flags & kFlagWatchMask;
  if (access == 0x02) return 0;
  if (access == 0x04) return 1;
  return 2;
}

}  // namespace

bool Breakpoints::ProgramUnit(int unit, const UnitSetting& setting, std::uint32_t address) {
  const std::uint32_t values[6] = {address,           setting.address_mask,  setting.data_value,
                                   setting.data_mask, setting.control_value, setting.control_mask};
  const bool written[6] = {setting.writes_address, true, setting.writes_data, true, true, true};
  return ProgramUnit(unit, values, written);
}

int Breakpoints::FreeUnit(const bool busy[2]) {
  const int unit = ChooseUnit(busy);
  if (unit < 0) state_->messenger.Report("%s", kTooMany);
  return unit;
}

int Breakpoints::SetWatch(const BreakpointSpec& request, const bool busy[2], BreakpointSlot& made) {
  const int unit = FreeUnit(busy);
  if (unit < 0) return GDI_NOT_SUPPORTED;
  const int code = WatchCode(request.flags);
  if (request.condition != 0) return GDI_NOT_SUPPORTED;
  if (!ProgramUnit(unit, kWatchSettings[code], request.address)) return GDI_FAILED;
  made.unit = unit;
  made.width = code;
  return GDI_OK;
}

int Breakpoints::SetHardware(const BreakpointSpec& request, const bool busy[2],
                             BreakpointSlot& made) {
  const int unit = FreeUnit(busy);
  if (unit < 0) return GDI_NOT_SUPPORTED;
  if (!ProgramUnit(unit, kExecuteSetting, request.address)) return GDI_FAILED;
  made.unit = unit;
  made.width = 1;
  return GDI_OK;
}

int Breakpoints::SetSoftware(const BreakpointSpec& request, const bool busy[2],
                             BreakpointSlot& made) {
  DriverState& s = *state_;
  bool unit_programmed = false;
  if (!AnySoftware(nullptr)) {
    const int unit = FreeUnit(busy);
    if (unit < 0) return GDI_NOT_SUPPORTED;
    if (!ProgramUnit(unit, kPatternSetting, 0)) return GDI_FAILED;
    made.unit = unit;
    unit_programmed = true;
  } else if (!busy[0] && !busy[1]) {
    s.messenger.Report("Debug: some error occur about breakpoints!\n");
    return GDI_FAILED;
  } else {
    for (const BreakpointSlot& other : s.breakpoints) {
      if (IsSoftware(other)) {
        made.unit = other.unit;
        break;
      }
    }
  }
  // A pattern that cannot be put in place would halt nothing: fail the set
  // and leave memory and units as they were.
  BreakpointSlot* partner = SoftwareAt(request.address ^ 2u);
  bool inserted = true;
  if (!partner) {
    inserted = core_->Load(request.address & ~3u, 4, &made.saved) &&
               core_->Store(request.address & ~3u, 4, kWordPattern);
    made.width = 0;
  } else if (partner->width == 1) {
    inserted = core_->Load(request.address, 2, &made.saved) &&
               core_->Store(request.address, 2, kHalfwordPattern);
    made.width = 1;
  } else {
    // The partner's pattern covers this halfword already: share out its
    // saved word.
    made.saved = SavedHalfword(*partner, request.address);
    partner->saved = SavedHalfword(*partner, partner->address);
    partner->width = 1;
    made.width = 1;
  }
  if (!inserted) {
    // The set fails either way; a unit that stays on matches only the
    // pattern, which is nowhere in memory.
    if (unit_programmed) (void)UnitOff(made.unit);
    return GDI_FAILED;
  }
  return GDI_OK;
}

int Breakpoints::Set(const BreakpointSpec& request, BreakpointSlot* out) {
  DriverState& s = *state_;
  if (request.flags & kFlagRejectedMask) return GDI_NOT_SUPPORTED;
  BreakpointSlot* entry = nullptr;
  std::size_t index = 0;
  for (; index < s.breakpoints.size(); ++index) {
    if (s.breakpoints[index].number == 0) {
      entry = &s.breakpoints[index];
      break;
    }
  }
  if (!entry) {
    s.messenger.Report("%s", kTooMany);
    return GDI_NOT_SUPPORTED;
  }
  bool busy[2] = {false, false};
  if (!UnitBusy(0, &busy[0]) || !UnitBusy(1, &busy[1])) return GDI_FAILED;

  BreakpointSlot made;
  std::uint32_t kind = request.kind;
  int result = GDI_OK;
  if (request.flags & kFlagWatchMask) {
    result = SetWatch(request, busy, made);
  } else if (request.flags & kFlagExecute) {
    if (request.condition != 0) return GDI_NOT_SUPPORTED;
    if (request.address & 1) return GDI_BAD_ARGUMENT;
    if (kind == kKindAutomatic) {
      if (!CoreHalted()) return GDI_FAILED;
      kind = ProbeWritable(request.address) ? kKindSoftware : kKindHardware;
    }
    if (kind == kKindHardware) result = SetHardware(request, busy, made);
    else if (kind == kKindSoftware) result = SetSoftware(request, busy, made);
  }
  if (result != GDI_OK) return result;

  made.number = static_cast<std::uint32_t>(index + 1);
  made.flags = request.flags;
  made.spare = request.spare;
  made.address = request.address;
  made.condition = request.condition;
  made.kind = kind;
  *entry = made;
  if (out) *out = made;
  return GDI_OK;
}

int Breakpoints::Clear(std::uint32_t number) {
  DriverState& s = *state_;
  if (number == 0 || number - 1 >= s.breakpoints.size()) return GDI_BAD_ARGUMENT;
  BreakpointSlot& entry = s.breakpoints[number - 1];
  if (entry.number == 0) return GDI_BAD_ARGUMENT;
  if (IsSoftware(entry)) {
    if (!WriteSaved(entry)) return GDI_FAILED;
    const int unit = entry.unit;
    entry = BreakpointSlot{};
    if (AnySoftware(nullptr)) return GDI_OK;
    return UnitOff(unit) ? GDI_OK : GDI_FAILED;
  }
  const bool execute = (entry.flags & kFlagExecute) != 0;
  const bool watch = (entry.flags & kFlagWatchMask) != 0;
  if (watch || (execute && entry.kind == kKindHardware)) {
    if (!UnitOff(entry.unit)) return GDI_FAILED;
    entry = BreakpointSlot{};
    return GDI_OK;
  }
  if (execute) return GDI_FAILED;  // a kind this module does not program
  entry = BreakpointSlot{};
  return GDI_OK;
}

int Breakpoints::ClearAll() {
  DriverState& s = *state_;
  if (!UnitOff(0) || !UnitOff(1)) return GDI_FAILED;
  for (BreakpointSlot& entry : s.breakpoints) {
    if (IsSoftware(entry) && !WriteSaved(entry)) return GDI_FAILED;
    entry = BreakpointSlot{};
  }
  return GDI_OK;
}

void Breakpoints::ReenableUnits() {
  bool done[2] = {false, false};
  for (const BreakpointSlot& entry : state_->breakpoints) {
    if (entry.number == 0 || entry.unit < 0 || entry.unit > 1 || done[entry.unit]) continue;
    const bool programmed = (entry.flags & kFlagWatchMask) ||
                            ((entry.flags & kFlagExecute) && entry.kind <= kKindSoftware);
    if (!programmed) continue;
    std::uint32_t control = 0;
    const int reg = IceUnitBase(entry.unit) + kIceControlValue;
    // Best effort after a JTAG error: a unit that stays off is found again
    // by the next set or clear, which read the control values.
    if (core_->ReadIce(reg, &control)) (void)core_->WriteIce(reg, control | kControlEnable);
    done[entry.unit] = true;
  }
}

BreakpointSlot* Breakpoints::ExecutionAt(std::uint32_t pc) {
  for (BreakpointSlot& entry : state_->breakpoints) {
    if (entry.number != 0 && (entry.flags & kFlagExecute) && !(entry.flags & kFlagWatchMask) &&
        entry.address == pc) {
      return &entry;
    }
  }
  return nullptr;
}

BreakpointSlot* Breakpoints::SoftwareAt(std::uint32_t address) {
  for (BreakpointSlot& entry : state_->breakpoints) {
    if (IsSoftware(entry) && entry.address == address) return &entry;
  }
  return nullptr;
}

bool Breakpoints::Split(BreakpointSlot& entry) {
  if (entry.width != 0) return true;
  const std::uint32_t other = entry.address ^ 2u;
  if (!core_->Store(other, 2, SavedHalfword(entry, other))) return false;
  entry.saved = SavedHalfword(entry, entry.address);
  entry.width = 1;
  return true;
}

bool Breakpoints::WriteSaved(const BreakpointSlot& entry) {
  if (entry.width == 1) return core_->Store(entry.address, 2, entry.saved & 0xFFFF);
  return core_->Store(entry.address & ~3u, 4, entry.saved);
}

bool Breakpoints::WritePattern(const BreakpointSlot& entry) {
  if (entry.width == 1) return core_->Store(entry.address, 2, kHalfwordPattern);
  return core_->Store(entry.address & ~3u, 4, kWordPattern);
}

bool Breakpoints::SavedByteAt(const BreakpointSlot& entry, std::uint32_t address,
                              int* shift) const {
  const bool big = state_->big_endian();
  if (entry.width == 1) {
    if (address != entry.address && address != entry.address + 1) return false;
    const int k = static_cast<int>(address - entry.address);
    *shift = 8 * (big ? 1 - k : k);
    return true;
  }
  const std::uint32_t word = entry.address & ~3u;
  if (address < word || address > word + 3) return false;
  const int k = static_cast<int>(address - word);
  *shift = 8 * (big ? 3 - k : k);
  return true;
}

void Breakpoints::ShadowRead(std::uint32_t address, std::uint8_t* bytes,
                             std::uint32_t count) const {
  for (const BreakpointSlot& entry : state_->breakpoints) {
    if (!IsSoftware(entry)) continue;
    const std::uint32_t first = entry.width == 1 ? entry.address : entry.address & ~3u;
    const std::uint32_t length = entry.width == 1 ? 2 : 4;
    for (std::uint32_t a = first; a < first + length; ++a) {
      if (a - address >= count) continue;  // outside the transfer (also below it)
      int shift = 0;
      if (SavedByteAt(entry, a, &shift)) bytes[a - address] = static_cast<std::uint8_t>(entry.saved >> shift);
    }
  }
}

void Breakpoints::ShadowWrite(std::uint32_t address, std::uint8_t* bytes, std::uint32_t count) {
  for (BreakpointSlot& entry : state_->breakpoints) {
    if (!IsSoftware(entry)) continue;
    const std::uint32_t first = entry.width == 1 ? entry.address : entry.address & ~3u;
    const std::uint32_t length = entry.width == 1 ? 2 : 4;
    for (std::uint32_t a = first; a < first + length; ++a) {
      if (a - address >= count) continue;
      int shift = 0;
      if (!SavedByteAt(entry, a, &shift)) continue;
      entry.saved = (entry.saved & ~(0xFFu << shift)) |
                    (static_cast<std::uint32_t>(bytes[a - address]) << shift);
      bytes[a - address] = kPatternByte;
    }
  }
}

}  // namespace drivers
