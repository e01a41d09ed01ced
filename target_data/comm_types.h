// The communication types of the driver contract, one row each on the
// contract's GDI_COMM_* bit codes: the name a driver list shows, the text
// "Remote" "CommType" stores for it, and what the configuration dialog asks
// for it.
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
  // What "Remote" "CommType" holds for the type (nullptr: not stored).
  const char* setting = nullptr;
  // The dialog's port choice ("LPT" gives LPT1...), or nullptr.
  const char* port_prefix = nullptr;
  // The dialog asks for a port or an address.
  bool has_settings = false;
};

inline constexpr std::uint32_t kCommNone = 0;
inline constexpr std::uint32_t kCommSerial = GDI_COMM_RS232;
inline constexpr std::uint32_t kCommTcpIp = GDI_COMM_TCPIP;
inline constexpr std::uint32_t kCommUsb = GDI_COMM_USB;
inline constexpr std::uint32_t kCommParallel = GDI_COMM_PARALLEL;

// The 16 communication types in bit order.
inline constexpr std::array<CommTypeNameRow, 16> kCommTypeNames = {{
    {GDI_COMM_RS232, "RS232", nullptr, "COM", true},
    {GDI_COMM_RS422, "RS422"},
    {GDI_COMM_RS485, "RS485"},
    {GDI_COMM_TCPIP, "TCPIP", "TCPIP", nullptr, true},
    {GDI_COMM_IPXSPX, "IPXSPX"},
    {GDI_COMM_IPC, "IPC"},
    {GDI_COMM_RPC, "RPC"},
    {GDI_COMM_SCSI, "SCSI"},
    {GDI_COMM_USB, "USB", "USB"},
    {GDI_COMM_I2C, "I2C"},
    {GDI_COMM_PROFIBUS, "PROFIBUS"},
    {GDI_COMM_INTERBUS, "INTERBUS"},
    {GDI_COMM_TAP, "TAP"},
    {GDI_COMM_FILE, "FILE"},
    {GDI_COMM_ISA, "ISA"},
    {GDI_COMM_PARALLEL, "PARALLEL", "Parallel", "LPT", true},
}};

// The row of one bit code, or nullptr for a code that is not one row.
const CommTypeNameRow* CommTypeRow(std::uint32_t code);
// The name of one bit code, or nullptr for a code that is not one row.
const char* CommTypeName(std::uint32_t code);

// The rows whose bit is set in a driver's mask, in table order: what the
// configuration dialog offers for that driver.
std::vector<CommTypeNameRow> CommTypesOf(std::uint32_t mask);

// True for the three types that carry a settings sub-page in the
// configuration dialog: RS232 (port number), TCPIP (address), PARALLEL (port).
bool CommTypeHasSettings(std::uint32_t code);

// The code whose stored "CommType" text equals `text` ignoring case;
// kCommNone for any other text.
std::uint32_t CommTypeFromSetting(std::string_view text);

// A port text from a zero-based choice: "LPT" and 0 give "LPT1".
std::string PortText(std::string_view prefix, int choice);

}  // namespace romsmith
