// The command layer behind the 58 slots of the driver table: the checks,
// messages and order of steps of every command, over the core access, the
// breakpoint table and the JTAG transport. One Driver holds the module's
// whole state.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "driver_api/gdi.h"
#include "drivers/core/arm7_core.h"
#include "drivers/core/breakpoints.h"
#include "drivers/core/driver_state.h"
#include "drivers/core/module_profile.h"
#include "drivers/transport/jtag.h"
#include "drivers/transport/port.h"

namespace drivers {

// Where open gets its port from: the port library in the port-driver
// directory, or (tests) anything else.
// `exports_missing`: the library loaded but lacks an export.
using PortFactory = std::function<std::unique_ptr<Port>(const std::string& directory,
                                                        std::string* error, bool* exports_missing)>;

PortFactory LibraryPortFactory();

class Driver {
 public:
  explicit Driver(const ModuleProfile& profile, PortFactory factory = LibraryPortFactory());
  // With another core access in place of the profile's (tests).
  Driver(const ModuleProfile& profile, PortFactory factory, std::unique_ptr<CoreAccess> core);
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // Slots, by number.
  int SetBreakpoint(BreakpointEntry* out, const BreakpointRequest& request);  // 0
  int ClearBreakpoint(std::uint32_t number);                                   // 1
  int ClearAllBreakpoints();                                                   // 2
  int Reset();                                                                 // 3
  int Step();                                                                  // 4
  int Run();                                                                   // 6
  int GetStatus(TargetStatus* out);                                            // 8
  int Stop();                                                                  // 9
  int Open(const OpenOptions* options);                                        // 12
  int Close();                                                                 // 13
  int GetVersion(std::uint32_t* out);                                          // 14
  int GetInfo(DriverInfo* out);                                                // 15
  int CancelWaits();                                                           // 16
  int Connect(ConnectRecord* record);                                          // 17
  int SetRegisterList(std::uint32_t count, RegisterListItem* items);           // 18
  int SetMemorySpaceList(std::uint32_t count, MemorySpaceItem* items);         // 19
  int SetCallback(std::int32_t kind, MessageCallback callback);                // 20
  int SetOption(const char* name, std::int32_t value);                         // 23
  int WriteComms(const std::uint32_t* words, std::uint32_t count, std::uint32_t check_every,
                 CommsResult* out);  // 24
  int WriteMemory(std::uint32_t address, MemoryCell* cells, std::uint32_t count,
                  std::int32_t width);  // 36
  int ReadMemory(std::uint32_t address, MemoryCell* cells, std::uint32_t count,
                 std::int32_t width);  // 37
  int WriteRegister(std::int32_t key, std::uint32_t value, std::int32_t flag);  // 46
  int ReadRegister(std::int32_t key, RegisterValue* out);                       // 47
  int CreateRegisterGroup(std::int32_t* id, const std::int32_t* keys, std::uint32_t count);  // 48
  int DeleteRegisterGroup(std::int32_t id);                                     // 49
  int WriteRegisterGroup(std::int32_t id, const RegisterWriteItem* items);      // 50
  int ReadRegisterGroup(std::int32_t id, RegisterValue* out);                   // 51
  int GetCpuState(char* buffer);                                                // 56
  int Free(void* pointer);                                                      // 57

  // The register-file index a register name selects in the current mode,
  // loading another mode's bank first when the name needs it; -1: rejected.
  int ResolveRegister(const char* name);

  DriverState& state() { return state_; }
  JtagTransport& transport() { return transport_; }
  CoreAccess& core() { return *core_; }
  Breakpoints& breakpoints() { return breakpoints_; }

 private:
  // Steps over a breakpoint at the PC (software pattern or hardware unit);
  // with `always` a plain step is made when there is none.
  bool StepOverBreakpoint(bool always);
  const RegisterName* FindKey(std::int32_t key) const;
  bool MemoryHalted(const char* refusal);
  int WriteMemoryCells(std::uint32_t address, MemoryCell* cells, std::uint32_t count,
                       std::int32_t width);
  int ReadMemoryCells(std::uint32_t address, MemoryCell* cells, std::uint32_t count,
                      std::int32_t width);
  bool WriteWords(std::uint32_t start, const std::uint8_t* bytes, std::uint32_t words,
                  bool* checked);
  std::uint32_t ValueOf(const std::uint8_t* bytes, int width) const;
  void BytesOf(std::uint32_t value, int width, std::uint8_t* bytes) const;
  bool Connected() const { return port_ != nullptr; }

  const ModuleProfile& profile_;
  PortFactory factory_;
  std::unique_ptr<Port> port_;
  DriverState state_;
  JtagTransport transport_;
  std::unique_ptr<CoreAccess> core_;
  Breakpoints breakpoints_;
};

// The module's driver table over one module-wide Driver made on first use
// with `profile`.
const DriverTable* ModuleDriverTable(const ModuleProfile& profile);
Driver* ModuleDriver();

}  // namespace drivers
