// The fixed tables of the driver host: the register list every bound driver
// is given and the slots the program calls (the communication types are in
// target_data/comm_types.h).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "driver_api/gdi.h"
#include "target_data/comm_types.h"

namespace romsmith {

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
