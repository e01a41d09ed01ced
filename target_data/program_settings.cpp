#include "target_data/program_settings.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <system_error>
#include <utility>

#include "platform/message_box.h"
#include "platform/paths.h"
#include "target_data/settings_schema.h"

namespace romsmith {
namespace {

constexpr char kRemoteSection[] = "Remote";

// Where a row's text comes from at a load: the override, else its file.
class RowSource {
 public:
  RowSource(const IniDocument& settings, const ProfileStore& profile)
      : settings_(settings), profile_(profile) {}
  bool Find(const SettingRow& row, std::string& text) const {
    if (row.store == SettingStore::kSettingsFile)
      return settings_.GetString(row.section, row.key, text);
    return profile_.Find(row.section, row.key, text);
  }

 private:
  const IniDocument& settings_;
  const ProfileStore& profile_;
};

std::string RefusedLine(const SettingRow& row, const std::string& text) {
  const std::string where = row.store == SettingStore::kProfile
                                ? "in the profile"
                                : std::string("in ") + kSettingsFileName;
  return "Warning: " + std::string(row.key) + "=" + text + " " + where + " (section \"" +
         row.section + "\") is not an integer between " + std::to_string(row.low) + " and " +
         std::to_string(row.high) + "; the default " + std::to_string(row.default_number) +
         " is used.\n";
}

}  // namespace

SettingsStore::SettingsStore() : SettingsStore(platform::ProgramDirectory(), platform::ProfilePath()) {}

SettingsStore::SettingsStore(std::filesystem::path program_directory,
                             std::filesystem::path profile_path)
    : program_directory_(std::move(program_directory)),
      settings_path_(program_directory_ / kSettingsFileName),
      profile_path_(std::move(profile_path)) {}

std::string SettingsStore::DirectoryText(const std::string& value) const {
  const std::string base = platform::WithTrailingSeparator(program_directory_.string());
  if (value.empty()) return base;
  if (platform::IsAbsoluteName(value)) return platform::WithTrailingSeparator(value);
  return platform::WithTrailingSeparator(base + value);
}

void SettingsStore::SetOverride(const std::string& section, const std::string& key,
                                const std::string& value) {
  overrides_.push_back({section, key, value});
}

bool SettingsStore::Load() {
  // Read into a fresh document so that a failed read leaves the one loaded
  // before (and the values taken from it) untouched.
  IniDocument document;
  if (!document.Load(settings_path_.string())) {
    platform::ShowMessage("Can't open romsmith.ini file!", "Error", platform::MessageIcon::Error);
    return false;
  }
  document_ = std::move(document);
  loaded_ = true;

  // The values are read from copies with the overrides in them; document_
  // stays as the file is, so that saving the "Remote" keys writes no
  // override back.
  IniDocument settings = document_;
  ProfileStore profile(profile_path_);
  for (const Override& o : overrides_) {
    settings.SetString(o.section, o.key, o.value);
    profile.SetText(o.section, o.key, o.value);
  }

  // Every row is set, from its text or to its default, so a key that left
  // the file since the last load reads as the default again. A number that
  // is not one of the row's values never reaches a command: the default
  // stands in and a warning says so.
  const RowSource source(settings, profile);
  warnings_.clear();
  for (const SettingRow& row : SettingRows()) {
    std::string text;
    const bool found = source.Find(row, text);
    switch (row.kind) {
      case SettingKind::kText:
        TextMember(row, values_) = found ? text : row.default_text;
        break;
      case SettingKind::kDirectory:
        TextMember(row, values_) = DirectoryText(found ? text : row.default_text);
        break;
      default: {
        std::int64_t number = row.default_number;
        if (found) {
          if (const std::optional<std::int64_t> parsed = ParseSettingNumber(row, text))
            number = *parsed;
          else
            warnings_.push_back(RefusedLine(row, text));
        }
        SetStoredNumber(row, number, values_);
        break;
      }
    }
  }
  return true;
}

std::vector<std::string> SettingsStore::TakeWarnings() {
  std::vector<std::string> fresh;
  for (const std::string& line : warnings_) {
    if (std::find(reported_.begin(), reported_.end(), line) != reported_.end()) continue;
    reported_.push_back(line);
    fresh.push_back(line);
  }
  return fresh;
}

// Writes the rows of `section` of `store`, in row order, with `write`.
template <typename Write>
static void WriteRows(SettingStore store, std::string_view section, const ProgramSettings& values,
                      Write write) {
  for (const SettingRow& row : SettingRows()) {
    if (row.store != store || section != row.section) continue;
    if (IsNumberSetting(row)) {
      // An unsigned value is written as the signed pattern a 32-bit
      // writer leaves; the reading takes both forms.
      std::int64_t number = StoredNumber(row, values);
      if (row.kind == SettingKind::kUnsigned)
        number = static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
      write(row, std::optional<std::int32_t>(static_cast<std::int32_t>(number)), std::string());
    } else {
      write(row, std::optional<std::int32_t>(), TextMember(row, values));
    }
  }
}

bool SettingsStore::SaveRemoteSettings() {
  std::error_code error;
  if (!loaded_ && std::filesystem::exists(settings_path_, error)) {
    // The file is there but was never read: writing the document now would
    // replace it with the "Remote" section alone.
    platform::ShowMessage("Can't open romsmith.ini file!", "Error", platform::MessageIcon::Error);
    return false;
  }
  WriteRows(
      SettingStore::kSettingsFile, kRemoteSection, values_,
      [this](const SettingRow& row, std::optional<std::int32_t> number, const std::string& text) {
        if (number)
          document_.SetInt(row.section, row.key, *number);
        else
          document_.SetString(row.section, row.key, text);
      });
  return document_.SaveAs(settings_path_.string());
}

bool SettingsStore::SaveOptions() {
  ProfileStore profile(profile_path_);
  WriteRows(SettingStore::kProfile, kOptionSection, values_,
            [&profile](const SettingRow& row, std::optional<std::int32_t> number,
                       const std::string& text) {
              if (number)
                profile.SetInt(row.section, row.key, *number);
              else
                profile.SetText(row.section, row.key, text);
            });
  return profile.Save();
}

}  // namespace romsmith
