// The fixed tables of the driver host: communication-type names and the
// register list every bound driver is given.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "driver_api/gdi.h"

namespace romsmith {

struct CommTypeNameRow {
  std::uint32_t code;  // bit of DriverInfo::comm_types and ConnectRecord::comm_type
  const char* name;
};

// The 16 communication types in bit order.
inline constexpr std::array<CommTypeNameRow, 16> kCommTypeNames = {{
    {0x0001, "RS232"}, {0x0002, "RS422"},    {0x0004, "RS485"},    {0x0008, "TCPIP"},
    {0x0010, "IPXSPX"}, {0x0020, "IPC"},     {0x0040, "RPC"},      {0x0080, "SCSI"},
    {0x0100, "USB"},   {0x0200, "I2C"},      {0x0400, "PROFIBUS"}, {0x0800, "INTERBUS"},
    {0x1000, "TAP"},   {0x2000, "FILE"},     {0x4000, "ISA"},      {0x8000, "PARALLEL"},
}};

inline constexpr std::uint32_t kCommParallel = 0x8000;

// The name of one bit code, or nullptr for a code that is not one row.
const char* CommTypeName(std::uint32_t code);

// The rows whose bit is set in a driver's mask, in table order: what the
// configuration dialog offers for that driver.
std::vector<CommTypeNameRow> CommTypesOf(std::uint32_t mask);

// True for the three types that carry a settings sub-page in the
// configuration dialog: RS232 (port number), TCPIP (address), PARALLEL (port).
bool CommTypeHasSettings(std::uint32_t code);

// A port text from a zero-based choice: "LPT" and 0 give "LPT1".
std::string PortText(std::string_view prefix, int choice);

struct RegisterNameRow {
  const char* name;
  std::uint32_t width;  // bits
  std::uint32_t zero;
  std::uint32_t key;    // what the register wrappers pass to the driver
};

// R0-R15 (keys 0-15), SP 16, LR 17, PC 18, CPSR 19, SPSR 20.
inline constexpr std::array<RegisterNameRow, 21> kRegisterNameTable = {{
    {"R0", 32, 0, 0},    {"R1", 32, 0, 1},   {"R2", 32, 0, 2},   {"R3", 32, 0, 3},
    {"R4", 32, 0, 4},    {"R5", 32, 0, 5},   {"R6", 32, 0, 6},   {"R7", 32, 0, 7},
    {"R8", 32, 0, 8},    {"R9", 32, 0, 9},   {"R10", 32, 0, 10}, {"R11", 32, 0, 11},
    {"R12", 32, 0, 12},  {"R13", 32, 0, 13}, {"R14", 32, 0, 14}, {"R15", 32, 0, 15},
    {"SP", 32, 0, 16},   {"LR", 32, 0, 17},  {"PC", 32, 0, 18},  {"CPSR", 32, 0, 19},
    {"SPSR", 32, 0, 20},
}};

// The key of the last row whose name equals `name` ignoring case; -1 when
// none does.
int RegisterKey(std::string_view name);

// The slots the program calls through a bound table (discovery, binding,
// the wrappers); every other slot may be null.
inline constexpr std::array<int, 18> kSlotsTheProgramCalls = {
    GDI_SLOT_SET_BREAKPOINT, GDI_SLOT_CLEAR_BREAKPOINT, GDI_SLOT_CLEAR_ALL_BREAKPOINTS,
    GDI_SLOT_RESET,          GDI_SLOT_STEP,             GDI_SLOT_RUN,
    GDI_SLOT_GET_STATUS,     GDI_SLOT_STOP,             GDI_SLOT_OPEN,
    GDI_SLOT_CLOSE,          GDI_SLOT_GET_INFO,         GDI_SLOT_CONNECT,
    GDI_SLOT_SET_REGISTER_LIST, GDI_SLOT_SET_CALLBACK,  GDI_SLOT_WRITE_MEMORY,
    GDI_SLOT_READ_MEMORY,    GDI_SLOT_WRITE_REGISTER,   GDI_SLOT_READ_REGISTER,
};

// False when one of kSlotsTheProgramCalls is null.
bool HasEverySlotTheProgramCalls(const DriverTable& table);

}  // namespace romsmith
