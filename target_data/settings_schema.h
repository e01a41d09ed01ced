// Every setting the program reads, one row each: where it is stored, what
// kind of value it holds, the ProgramSettings member it fills, the unit
// conversion, the range a user may give, its default and what it is for.
// The settings store loads and saves by walking these rows, the Option
// dialog builds its fields from them, and the command line's --set accepts
// exactly their keys with the same range check. A new option is a new row.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "target_data/program_settings.h"

namespace romsmith {

enum class SettingStore {
  kSettingsFile,  // romsmith.ini of the program directory
  kProfile,       // the per-user profile
};

enum class SettingKind {
  kText,       // kept as written (trimmed)
  kDirectory,  // a directory text, made absolute and ending in the separator
  kInteger,    // a signed 32-bit number
  kUnsigned,   // an unsigned 32-bit number; a negative text is read as its bit pattern
  kSwitch,     // 0 (off) or 1 (on): a check box in the Option dialog
};

// The member a row fills; the remote ones live in ProgramSettings::remote.
using SettingMember = std::variant<std::string ProgramSettings::*, std::int32_t ProgramSettings::*,
                                   std::uint32_t ProgramSettings::*, std::string RemoteSettings::*,
                                   std::int32_t RemoteSettings::*>;

// How the Option dialog shows a row.
enum class SettingField {
  kNone,      // not in the dialog
  kEditable,  // a check box or a number field
  kShown,     // shown but not editable
};

struct SettingRow {
  const char* section;
  const char* key;
  SettingStore store;
  SettingKind kind;
  SettingMember member;
  // The member holds the stored number times this (seconds in 100 ms polls,
  // KiB in bytes).
  std::int32_t scale;
  // The stored number a user may give, both ends included.
  std::int64_t low;
  std::int64_t high;
  // The stored number, or the text, when the key is missing or refused.
  std::int64_t default_number;
  const char* default_text;
  const char* description;
  // The Option dialog: how it shows the row, the label (a check box's text),
  // the unit beside a number field and the widget's object name.
  SettingField field;
  const char* label;
  const char* unit;
  const char* object_name;
};

// Every row, in the order the files are written and the dialog shows them.
std::span<const SettingRow> SettingRows();

// The row of SECTION KEY (exact spelling), or nullptr.
const SettingRow* FindSetting(std::string_view section, std::string_view key);

inline bool IsNumberSetting(const SettingRow& row) {
  return row.kind == SettingKind::kInteger || row.kind == SettingKind::kUnsigned ||
         row.kind == SettingKind::kSwitch;
}

// The stored number a text gives for a number row: decimal with an optional
// sign, or hexadecimal after "$" or "0x"; blanks around it are ignored.
// Nothing for any other text, or for a number outside the row's range.
std::optional<std::int64_t> ParseSettingNumber(const SettingRow& row, std::string_view text);

// The one check of a value typed for a row: empty when the text is a
// value of the row, else the line to show ("Please enter an integer between
// 1 and 360."). Text and directory rows accept any text.
std::string SettingValueError(const SettingRow& row, std::string_view text);
std::string RangeMessage(std::int64_t low, std::int64_t high);

// The stored number of a number row as the settings hold it now, and the
// settings from a stored number (scaled without overflow).
std::int64_t StoredNumber(const SettingRow& row, const ProgramSettings& settings);
void SetStoredNumber(const SettingRow& row, std::int64_t number, ProgramSettings& settings);

// The text member of a text or directory row.
std::string& TextMember(const SettingRow& row, ProgramSettings& settings);
const std::string& TextMember(const SettingRow& row, const ProgramSettings& settings);

}  // namespace romsmith
