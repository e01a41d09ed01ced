#include "driver_host/driver_tables.h"

#include "target_data/text.h"

namespace romsmith {

const char* CommTypeName(std::uint32_t code) {
  for (const CommTypeNameRow& row : kCommTypeNames) {
    if (row.code == code) return row.name;
  }
  return nullptr;
}

std::vector<CommTypeNameRow> CommTypesOf(std::uint32_t mask) {
  std::vector<CommTypeNameRow> rows;
  for (const CommTypeNameRow& row : kCommTypeNames) {
    if (mask & row.code) rows.push_back(row);
  }
  return rows;
}

bool CommTypeHasSettings(std::uint32_t code) {
  return code == 0x0001 || code == 0x0008 || code == kCommParallel;
}

std::string PortText(std::string_view prefix, int choice) {
  return std::string(prefix) + std::to_string(1 + choice);
}

int RegisterKey(std::string_view name) {
  int key = -1;
  for (const RegisterNameRow& row : kRegisterNameTable) {
    if (EqualsIgnoringCase(row.name, name)) key = static_cast<int>(row.key);
  }
  return key;
}

bool HasEverySlotTheProgramCalls(const DriverTable& table) {
  // The table is 58 function pointers of one size in slot order (gdi.h
  // checks the layout), so a slot is found by its number.
  const auto* slots = reinterpret_cast<const GdiNoArgumentSlot*>(&table);
  for (int slot : kSlotsTheProgramCalls)
    if (slots[slot] == nullptr) return false;
  return true;
}

}  // namespace romsmith
