#include "driver_host/driver_tables.h"

#include "platform/text.h"

namespace romsmith {

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
