// The Workbench's view of the bound debug driver: binding around a command
// and the access wrappers the command bodies use. Every wrapper reports its
// own failure as one line in the message log and returns a plain success
// flag, which the caller must look at; single values travel in the target's
// byte order, blocks of bytes in address order.
#pragma once

#include <cstdint>
#include <string>

#include "target_data/program_settings.h"
#include "target_data/target_config.h"

namespace romsmith {

// How far a write into the target's debug comms channel went.
struct CommsWrite {
  std::uint32_t written = 0;  // words that went in
  bool status_read = false;   // the target had sent a word; writing stopped there
  std::uint32_t status = 0;   // that word
};

enum class CommsAnswer {
  kDone,          // `CommsWrite` says how far
  kNotSupported,  // the driver has no comms channel (nothing logged)
  kFailed         // logged
};

class TargetLink {
 public:
  virtual ~TargetLink() = default;

  // Called on the owner's thread before each command starts, with the
  // settings and configuration that command works on; both stay unchanged
  // until the next call.
  virtual void PrepareCommand(const ProgramSettings& settings, const TargetConfig& target) {
    static_cast<void>(settings);
    static_cast<void>(target);
  }

  // Loads, opens and connects the driver module the settings name; false
  // (nothing bound) after the failure was reported.
  [[nodiscard]] virtual bool BindDriver() = 0;
  // Closes and unloads the bound driver; nothing when none is bound.
  virtual void UnbindDriver() = 0;
  // The user's stop, from the owner's thread while the worker may be inside
  // any call: waits in the driver give up, and the failures that follow
  // from that are not reported as errors. Lasts until UnbindDriver.
  virtual void CancelWaits() {}
  // After a failed board initialisation: a line saying that the target's
  // core does not fit the driver module, and which one does; empty when
  // nothing says so.
  virtual std::string CoreMismatchLine() const { return {}; }

  [[nodiscard]] virtual bool WriteMemory(std::uint32_t address, std::uint32_t value,
                                         std::uint32_t size) = 0;
  [[nodiscard]] virtual bool ReadMemory(std::uint32_t address, std::uint32_t* value,
                                        std::uint32_t size) = 0;
  [[nodiscard]] virtual bool FillMemory(std::uint32_t address, const std::uint8_t* bytes,
                                        std::uint32_t count, std::uint32_t width) = 0;
  [[nodiscard]] virtual bool DumpMemory(std::uint32_t address, std::uint8_t* bytes,
                                        std::uint32_t count, std::uint32_t width) = 0;
  [[nodiscard]] virtual bool SetPC(std::uint32_t value) = 0;
  [[nodiscard]] virtual bool RunTarget() = 0;
  [[nodiscard]] virtual bool StopTarget() = 0;
  [[nodiscard]] virtual bool ResetTarget() = 0;
  [[nodiscard]] virtual bool GetTargetStatus(bool* running) = 0;
  [[nodiscard]] virtual bool SetBreakpoint(std::uint32_t address, std::uint32_t* number) = 0;
  [[nodiscard]] virtual bool ClearAllBreakpoints() = 0;
  // Words into the comms channel of the running target, for a loader that
  // reads them there; the channel's control is read before the first word
  // and after every `check_every`. A driver without the channel answers
  // kNotSupported.
  [[nodiscard]] virtual CommsAnswer WriteComms(const std::uint32_t* words, std::uint32_t count,
                                               std::uint32_t check_every, CommsWrite* out) {
    static_cast<void>(words), static_cast<void>(count), static_cast<void>(check_every);
    *out = {};
    return CommsAnswer::kNotSupported;
  }
};

}  // namespace romsmith
