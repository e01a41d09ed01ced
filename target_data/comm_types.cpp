#include "target_data/comm_types.h"

#include "platform/text.h"

namespace romsmith {

const CommTypeNameRow* CommTypeRow(std::uint32_t code) {
  for (const CommTypeNameRow& row : kCommTypeNames)
    if (row.code == code) return &row;
  return nullptr;
}

const char* CommTypeName(std::uint32_t code) {
  const CommTypeNameRow* row = CommTypeRow(code);
  return row ? row->name : nullptr;
}

std::vector<CommTypeNameRow> CommTypesOf(std::uint32_t mask) {
  std::vector<CommTypeNameRow> rows;
  for (const CommTypeNameRow& row : kCommTypeNames)
    if (mask & row.code) rows.push_back(row);
  return rows;
}

bool CommTypeHasSettings(std::uint32_t code) {
  const CommTypeNameRow* row = CommTypeRow(code);
  return row && row->has_settings;
}

std::uint32_t CommTypeFromSetting(std::string_view text) {
  for (const CommTypeNameRow& row : kCommTypeNames)
    if (row.setting && EqualsIgnoringCase(text, row.setting)) return row.code;
  return kCommNone;
}

std::string PortText(std::string_view prefix, int choice) {
  return std::string(prefix) + std::to_string(1 + choice);
}

}  // namespace romsmith
