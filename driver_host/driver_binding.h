// The program's side of the driver contract: finding the installed driver
// modules, binding the chosen one around every command, and the access
// wrappers the command bodies reach the target through.
//
// Use (the Workbench owns one DriverBinding next to the objects it reads):
//
//   DriverBinding binding(log, settings, target);  // references stay valid
//   binding.RecomputeConnection();  // after the settings are loaded, and
//                                   // after the user changed "Remote"
//   if (binding.BindDriver()) {     // worker thread, start of a command
//     binding.StopTarget();
//     binding.WriteMemory(0x01D30000, 0, 4);
//     ...
//   }
//   binding.UnbindDriver();         // end of every command, also on failure
//
// Every wrapper returns true on success; on failure it logs its one line
// through the MessageLog (words and error flags as listed beside it) and
// returns false, without retrying. A wrapper called while nothing is bound
// fails the same way without touching anything. Values are converted to and
// from the target's byte order (TargetConfig::IsLittleEndian at the time of
// the call); block transfers move bytes in address order.
//
// Threads: BindDriver, UnbindDriver and the wrappers run on one thread at a
// time (the command worker). Driver messages arrive through
// OnDriverMessage on the thread that called the driver.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "driver_api/gdi.h"
#include "driver_host/driver_entry.h"
#include "reporting/message_log.h"
#include "platform/shared_library.h"
#include "target_data/program_settings.h"
#include "target_data/target_config.h"

namespace romsmith {

// Every "NAME.so" of the directory (a text that ends in the separator, or
// not) that loads and exports gdi_get, ordered by file name. Each module is
// loaded, described and unloaded; files that do not load or lack gdi_get and
// sub-directories are passed over silently. A missing directory gives an
// empty list.
std::vector<DriverEntry> DiscoverDrivers(const std::string& directory);

// "Remote" "Device" for a picked title: the title and the module suffix.
std::string DeviceFileName(std::string_view title);

class DriverBinding {
 public:
  // The binding reads `settings` and `target` at every call, so the owner
  // keeps them current; both must outlive the binding. The binding becomes
  // the receiver of driver messages (the latest one created, until it is
  // destroyed).
  DriverBinding(MessageLog& log, const ProgramSettings& settings, const TargetConfig& target);
  ~DriverBinding();
  DriverBinding(const DriverBinding&) = delete;
  DriverBinding& operator=(const DriverBinding&) = delete;

  // Derives the comm code (0x8000 when "CommType" is "PARALLEL" ignoring
  // case, else 0) and the port copy (the "Parallel" text, at most 15
  // characters, kept only for the parallel port) from settings.remote.
  void RecomputeConnection();
  std::uint32_t comm_code() const { return comm_code_; }
  const std::string& port_copy() const { return port_copy_; }

  // Loads driver module directory + "Remote" "Device", installs the message
  // callback, opens the driver (byte order, port driver directory or IP
  // address, speed), asks for the driver's faster block loads when
  // "FastRead" is set, connects, and gives it the 21 registers. False, and
  // nothing bound, on any failure; only a module that cannot be loaded logs
  // a line of its own ("Error: unable to load emulator module.\n", as an
  // error); open and connect failures are explained by the driver's own
  // messages. Binding while bound unbinds first.
  [[nodiscard]] bool BindDriver();
  // Closes the driver and unloads it; nothing when not bound.
  void UnbindDriver();
  bool bound() const { return table_ != nullptr; }

  // The user's stop, from any thread: the bound (or binding) driver's waits
  // give up (its cancel slot), a bind in progress ends, and from now on the
  // failures that follow from it (the wrappers' lines and the driver's error
  // messages) go to the log file as "Debug: " lines rather than as errors,
  // so a stopped command reports its stop and nothing else. Lasts until
  // UnbindDriver.
  void CancelWaits();
  bool cancelled() const { return cancelled_.load(); }
  // The bound table (nullptr when not bound), for tests and diagnostics.
  const DriverTable* table() const { return table_; }

  // The JTAG ID code the driver reported at its connect ("Info: target
  // device ID is: 0x..."), 0 before one.
  std::uint32_t reported_id_code() const { return reported_id_code_.load(); }
  // After a failed board initialisation: when the reported ID code names a
  // core the module does not drive (an ARM9 core behind an ARM7 module, or
  // the other way round), the line that says so and which module fits;
  // empty otherwise.
  std::string CoreMismatchLine() const;

  // The MessageCallback given to every driver: the text goes to the
  // MessageLog of the current binding, as an error when it begins "Error"
  // (ignoring case), else plainly. With no binding in existence it is shown
  // in a message box instead. The kind is ignored.
  static void GDI_CALL OnDriverMessage(int32_t kind, const char* text);

  // ---- Access wrappers ---- (failure line; "error": logged as an error)

  // Size 1, 2 or 4. "Error: write memory failed.\n" (plainly).
  [[nodiscard]] bool WriteMemory(std::uint32_t address, std::uint32_t value, std::uint32_t size);
  // Size 1, 2 or 4. "Error: read memory failed." (error, no line break).
  [[nodiscard]] bool ReadMemory(std::uint32_t address, std::uint32_t* value, std::uint32_t size);
  // Bytes in address order, width 1, 2 or 4 passed to the driver.
  // "Error: fill memory failed.\n" (error).
  [[nodiscard]] bool FillMemory(std::uint32_t address, const std::uint8_t* bytes,
                                std::uint32_t count, std::uint32_t width);
  // "Error: dump memory failed." (error, no line break).
  [[nodiscard]] bool DumpMemory(std::uint32_t address, std::uint8_t* bytes, std::uint32_t count,
                                std::uint32_t width);
  // Names of kRegisterNameTable, ignoring case; an unknown name fails
  // without calling the driver. "Error: write register failed.\n" /
  // "Error: read register failed.\n" (plainly).
  [[nodiscard]] bool WriteRegister(std::string_view name, std::uint32_t value);
  [[nodiscard]] bool ReadRegister(std::string_view name, std::uint32_t* value);
  // WriteRegister("pc", value).
  [[nodiscard]] bool SetPC(std::uint32_t value);
  // Driver results 0 and 1 both succeed. "Error: run target failed.\n".
  [[nodiscard]] bool RunTarget();
  // "Error: stop target failed.\n", "Error: step target failed.\n",
  // "Error: reset target failed.\n" (plainly).
  [[nodiscard]] bool StopTarget();
  [[nodiscard]] bool StepTarget();
  [[nodiscard]] bool ResetTarget();
  // running := state 0. "Error: get target status failed.\n" (error).
  [[nodiscard]] bool GetTargetStatus(bool* running);
  // An automatic execution breakpoint; number := the driver's handle.
  // "Error: breakpoint set failed.\n" (error).
  [[nodiscard]] bool SetBreakpoint(std::uint32_t address, std::uint32_t* number);
  // "Error: clear breakpoint failed.\n", "Error: clear all breakpoints
  // failed.\n" (error).
  [[nodiscard]] bool ClearBreakpoint(std::uint32_t number);
  [[nodiscard]] bool ClearAllBreakpoints();
  // Slot 24 (words into the comms channel of the running core): the
  // driver's result; GDI_NOT_SUPPORTED, also for a module without the slot,
  // is not logged, any other failure as "Error: write comms channel
  // failed.\n" (error).
  [[nodiscard]] int WriteComms(const std::uint32_t* words, std::uint32_t count,
                               std::uint32_t check_every, CommsResult* out);
  // Logs "R0=0x..." to "R14=0x..." (one call each, no line break), "\n",
  // then "sp=0x... " to "spsr=0x... " and "\n", all plainly; a failed read
  // ends the dump at once with false.
  [[nodiscard]] bool DumpRegisters();
  // CPSR |= 0xC0 (IRQ and FIQ off). True when both the read and the write
  // succeeded; nothing is written when the read failed.
  [[nodiscard]] bool DisableInterrupts();

 private:
  std::atomic<std::uint32_t> reported_id_code_{0};
  bool Fail(std::string_view line, bool as_error);
  // The module that CancelWaits reaches while it is loaded (under cancel_mutex_).
  void SetCancelTarget(const DriverTable* table);
  // Closes a module that did not bind; `line` says which step failed.
  bool FailBind(const std::string& line);
  void AskForFastReads(const DriverTable& table);
  bool little_endian() const { return target_.IsLittleEndian(); }

  MessageLog& log_;
  const ProgramSettings& settings_;
  const TargetConfig& target_;
  std::uint32_t comm_code_ = 0;
  std::string port_copy_;
  platform::SharedLibrary module_;
  const DriverTable* table_ = nullptr;
  std::atomic<bool> cancelled_{false};
  std::mutex cancel_mutex_;
  const DriverTable* cancel_target_ = nullptr;
};

}  // namespace romsmith
