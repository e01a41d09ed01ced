#include "target_data/settings_schema.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "target_data/test_support.h"

namespace romsmith {
namespace {

using test::MessageRecorder;
using test::TestDirectory;
using test::WriteText;

// A value of the row other than its default, as the file holds it.
std::string SampleText(const SettingRow& row) {
  switch (row.kind) {
    case SettingKind::kText:
      return std::string(row.key) + "-sample";
    case SettingKind::kDirectory:
      return "/opt/" + std::string(row.key) + "/";
    case SettingKind::kSwitch:
      return row.default_number == 0 ? "1" : "0";
    default:
      return std::to_string(row.high == row.default_number ? row.low : row.high);
  }
}

TEST(SettingsSchema, EveryRowRoundTripsThroughItsFile) {
  const auto dir = TestDirectory();
  const auto program = dir / "program";
  const auto profile = dir / "profile.ini";
  std::map<std::string, std::string> file_sections;
  std::map<std::string, std::string> profile_sections;
  for (const SettingRow& row : SettingRows()) {
    auto& sections = row.store == SettingStore::kSettingsFile ? file_sections : profile_sections;
    sections[row.section] += std::string(row.key) + "=" + SampleText(row) + "\r\n";
  }
  const auto write = [](const std::filesystem::path& path, const auto& sections) {
    std::string text;
    for (const auto& [section, keys] : sections) text += "[" + section + "]\r\n" + keys;
    WriteText(path, text);
  };
  write(program / "romsmith.ini", file_sections);
  write(profile, profile_sections);

  SettingsStore store(program, profile);
  ASSERT_TRUE(store.Load());
  EXPECT_TRUE(store.TakeWarnings().empty());
  for (const SettingRow& row : SettingRows()) {
    SCOPED_TRACE(std::string(row.section) + "." + row.key);
    const ProgramSettings& v = store.values();
    if (IsNumberSetting(row)) {
      EXPECT_EQ(std::to_string(StoredNumber(row, v)), SampleText(row));
    } else {
      EXPECT_EQ(TextMember(row, v), SampleText(row));
    }
  }

  // What the program writes back (the "Remote" keys, the profile's options)
  // is what a fresh store reads.
  ASSERT_TRUE(store.SaveRemoteSettings());
  ASSERT_TRUE(store.SaveOptions());
  SettingsStore again(program, profile);
  ASSERT_TRUE(again.Load());
  EXPECT_EQ(again.values(), store.values());

  // Defaults when every key is missing; written and read back they stay.
  WriteText(program / "romsmith.ini", "");
  std::filesystem::remove(profile);
  ASSERT_TRUE(again.Load());
  for (const SettingRow& row : SettingRows()) {
    if (IsNumberSetting(row)) {
      EXPECT_EQ(StoredNumber(row, again.values()), row.default_number) << row.key;
    }
  }
  ASSERT_TRUE(again.SaveOptions());
  SettingsStore defaults(program, profile);
  ASSERT_TRUE(defaults.Load());
  EXPECT_EQ(defaults.values(), again.values());
}

TEST(SettingsSchema, RowsAreUniqueAndTheirDefaultsInRange) {
  std::set<std::string> keys;
  std::set<std::string> names;
  for (const SettingRow& row : SettingRows()) {
    EXPECT_TRUE(keys.insert(std::string(row.section) + "." + row.key + "@" +
                            std::to_string(static_cast<int>(row.store)))
                    .second)
        << row.key;
    EXPECT_NE(std::string(row.description), "") << row.key;
    if (IsNumberSetting(row)) {
      EXPECT_LE(row.low, row.default_number) << row.key;
      EXPECT_GE(row.high, row.default_number) << row.key;
      EXPECT_GE(row.scale, 1) << row.key;
    }
    if (row.field != SettingField::kNone) {
      EXPECT_NE(row.label, nullptr) << row.key;
      ASSERT_NE(row.object_name, nullptr) << row.key;
      EXPECT_TRUE(names.insert(row.object_name).second) << row.object_name;
    }
  }
  // The user options the window must offer.
  for (const char* key :
       {"FastRead", "TargetVerify", "TimeOut", "LpcVectorChecksum", "SkipUnchanged"}) {
    const SettingRow* row = FindSetting("Option", key);
    ASSERT_NE(row, nullptr) << key;
    EXPECT_EQ(row->field, SettingField::kEditable) << key;
  }
}

TEST(SettingsSchema, OneCheckForEveryFrontEnd) {
  const SettingRow& time_out = *FindSetting("Option", "TimeOut");
  const SettingRow& frequency = *FindSetting("Option", "LpcFreq");
  const SettingRow& fast = *FindSetting("Option", "FastRead");
  const SettingRow& device = *FindSetting("Remote", "Device");
  struct Case {
    const SettingRow& row;
    const char* text;
    std::optional<std::int64_t> number;
  };
  const Case cases[] = {
      {time_out, "1", 1},
      {time_out, "360", 360},
      {time_out, " 12 ", 12},
      {time_out, "$10", 16},
      {time_out, "0x20", 32},
      {time_out, "0", {}},
      {time_out, "361", {}},
      {time_out, "-5", {}},
      {time_out, "abc", {}},
      {time_out, "12abc", {}},
      {time_out, "", {}},
      {time_out, "99999999999", {}},
      {time_out, "-", {}},
      {time_out, "$", {}},
      {fast, "2", {}},
      {fast, "1", 1},
      {frequency, "4294967295", 4294967295LL},
      {frequency, "-1", 4294967295LL},  // the pattern a 32-bit writer leaves
      {frequency, "4294967296", {}},
      {frequency, "0", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.row.key) + "=" + c.text);
    EXPECT_EQ(ParseSettingNumber(c.row, c.text), c.number);
    EXPECT_EQ(SettingValueError(c.row, c.text).empty(), c.number.has_value());
  }
  EXPECT_EQ(SettingValueError(time_out, "x"), "Please enter an integer between 1 and 360.");
  EXPECT_EQ(SettingValueError(device, "anything at all"), "");
  EXPECT_EQ(FindSetting("Option", "timeout"), nullptr);
}

TEST(SettingsSchema, ARefusedValueFallsBackToTheDefaultWithOneWarning) {
  const auto dir = TestDirectory();
  WriteText(dir / "program" / "romsmith.ini", "[Remote]\r\nSpeed=fast\r\n");
  WriteText(dir / "profile.ini", "[Option]\r\nTimeOut=99999999999\r\nTestRamSize=8\r\n");
  SettingsStore store(dir / "program", dir / "profile.ini");
  MessageRecorder boxes;
  ASSERT_TRUE(store.Load());
  EXPECT_EQ(store.values().time_out_polls, 120);  // 12 s, never "for ever"
  EXPECT_EQ(store.values().test_ram_bytes, 8192);
  EXPECT_EQ(store.values().remote.speed, 0);
  const std::vector<std::string> warnings = store.TakeWarnings();
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[0],
            "Warning: Speed=fast in romsmith.ini (section \"Remote\") is not an integer between "
            "-2147483648 and 2147483647; the default 0 is used.\n");
  EXPECT_EQ(warnings[1],
            "Warning: TimeOut=99999999999 in the profile (section \"Option\") is not an integer "
            "between 1 and 360; the default 12 is used.\n");
  // Every load replaces it again, the user hears of it once.
  ASSERT_TRUE(store.Load());
  EXPECT_EQ(store.values().time_out_polls, 120);
  EXPECT_TRUE(store.TakeWarnings().empty());
  // An override that is not a value is refused the same way.
  store.SetOverride("Option", "ResetCount", "9");
  ASSERT_TRUE(store.Load());
  EXPECT_EQ(store.values().reset_count, 1);
  EXPECT_EQ(store.TakeWarnings().size(), 1u);
  EXPECT_TRUE(boxes.shown().empty());
}

}  // namespace
}  // namespace romsmith
