// The Workbench's view of the bound debug driver: binding around a command
// and the access wrappers the command bodies use. Every wrapper reports its
// own failure as one line in the message log and returns a plain success
// flag; single values travel in the target's byte order, blocks of bytes in
// address order.
#pragma once

#include <cstdint>

namespace romsmith {

class TargetLink {
 public:
  virtual ~TargetLink() = default;

  // Called after the settings were read again (before every command).
  virtual void OnSettingsLoaded() {}

  // Loads, opens and connects the driver module the settings name; false
  // (nothing bound) after the failure was reported.
  virtual bool BindDriver() = 0;
  // Closes and unloads the bound driver; nothing when none is bound.
  virtual void UnbindDriver() = 0;

  virtual bool WriteMemory(std::uint32_t address, std::uint32_t value, std::uint32_t size) = 0;
  virtual bool ReadMemory(std::uint32_t address, std::uint32_t* value, std::uint32_t size) = 0;
  virtual bool FillMemory(std::uint32_t address, const std::uint8_t* bytes, std::uint32_t count,
                          std::uint32_t width) = 0;
  virtual bool DumpMemory(std::uint32_t address, std::uint8_t* bytes, std::uint32_t count,
                          std::uint32_t width) = 0;
  virtual bool SetPC(std::uint32_t value) = 0;
  virtual bool RunTarget() = 0;
  virtual bool StopTarget() = 0;
  virtual bool ResetTarget() = 0;
  virtual bool GetTargetStatus(bool* running) = 0;
  virtual bool SetBreakpoint(std::uint32_t address, std::uint32_t* number) = 0;
  virtual bool ClearAllBreakpoints() = 0;
};

}  // namespace romsmith
