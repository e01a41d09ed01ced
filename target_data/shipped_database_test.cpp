// The databases the build stages into the program directory, read as the
// program reads them and checked against their plain sources, read here
// with the other INI engine.
#include <gtest/gtest.h>

#include <set>

#include "formats/ini_document.h"
#include "target_data/cpu_database.h"
#include "target_data/flash_database.h"
#include "target_data/target_document.h"
#include "target_data/test_support.h"

namespace romsmith {
namespace {

const std::filesystem::path kStage = ROMSMITH_STAGE_DIR;
const std::filesystem::path kData = std::filesystem::path(ROMSMITH_SOURCE_DIR) / "data";

// The numbered list of a section, up to its first missing or empty key.
std::vector<std::string> NumberedList(const IniDocument& source, const std::string& section) {
  std::vector<std::string> names;
  std::string name;
  for (int i = 1; source.GetString(section, std::to_string(i), name) && !name.empty(); ++i)
    names.push_back(name);
  return names;
}

TEST(ShippedDatabases, EveryCpuOfTheSourceIsLoaded) {
  ASSERT_TRUE(std::filesystem::exists(kStage / "proc.xdl"));
  IniDocument source;
  ASSERT_TRUE(source.Load((kData / "cpu.ini").string()));
  test::MessageRecorder messages;
  const CpuDatabase db = LoadCpuDatabase(kStage);
  EXPECT_TRUE(messages.shown().empty());

  EXPECT_EQ(db.vendors, NumberedList(source, "VENDORS"));
  std::vector<std::string> expected;
  for (const std::string& vendor : db.vendors)
    for (const std::string& name : NumberedList(source, vendor)) expected.push_back(name);
  std::vector<std::string> loaded;
  for (const CpuRecord& cpu : db.cpus) loaded.push_back(cpu.name);
  EXPECT_EQ(loaded, expected);
  EXPECT_GE(db.cpus.size(), 14u);

  for (const CpuRecord& cpu : db.cpus) {
    SCOPED_TRACE(cpu.name);
    std::int32_t count = -1;
    ASSERT_TRUE(source.GetInt(cpu.name, "SimCount", count));
    EXPECT_EQ(cpu.register_count(), count);
    EXPECT_FALSE(cpu.loader_file_le.empty());
    for (const CpuRegister& reg : cpu.registers) {
      EXPECT_FALSE(reg.name.empty());
      EXPECT_TRUE(reg.size == 8 || reg.size == 16 || reg.size == 32) << reg.name;
    }
  }
}

TEST(ShippedDatabases, EveryDeviceIsLoadedWithWholeSectorTables) {
  ASSERT_TRUE(std::filesystem::exists(kStage / "rom.xdl"));
  IniDocument source;
  ASSERT_TRUE(source.Load((kData / "flash.ini").string()));
  test::MessageRecorder messages;
  const FlashDatabase db = LoadFlashDatabase(kStage);
  EXPECT_TRUE(messages.shown().empty());

  EXPECT_EQ(db.vendors, NumberedList(source, "VENDORS"));
  std::vector<std::string> expected;
  for (const std::string& vendor : db.vendors)
    for (const std::string& name : NumberedList(source, vendor)) expected.push_back(name);
  std::vector<std::string> loaded;
  for (const FlashDevice& device : db.devices) loaded.push_back(device.name);
  EXPECT_EQ(loaded, expected);
  EXPECT_GE(db.devices.size(), 30u);

  std::set<std::string> command_types;
  for (const FlashDevice& device : db.devices) {
    SCOPED_TRACE(device.name);
    EXPECT_GT(device.sector_count(), 0);
    EXPECT_EQ(device.TotalSectorBytes(), static_cast<std::uint64_t>(device.chip_size));
    EXPECT_FALSE(device.widths.empty());
    EXPECT_GE(source.FindSection(device.command_type), 0) << device.command_type;
    command_types.insert(device.command_type);
  }
  // Every command type reads through the scrambled file as well (from a copy,
  // so no other test running on the program directory sees the plain one).
  const auto program = test::TestDirectory();
  std::filesystem::copy_file(kStage / "rom.xdl", program / "rom.xdl");
  for (const std::string& type : command_types) {
    SCOPED_TRACE(type);
    CommandSet set;
    set.program_mode = -1;
    ASSERT_TRUE(LoadCommandSet(program, type, set));
    EXPECT_NE(set.program_mode, -1);
  }
  EXPECT_FALSE(std::filesystem::exists(program / "rom.api"));
}

TEST(ShippedDatabases, ExampleConfigurationsFitTheDatabases) {
  TargetPages pages;
  pages.cpu.database = LoadCpuDatabase(kStage);
  pages.flash.database = LoadFlashDatabase(kStage);
  int examples = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kData / "examples")) {
    if (entry.path().extension() != ".cfg") continue;
    SCOPED_TRACE(entry.path().filename().string());
    ++examples;
    TargetDocument doc(pages);
    test::MessageRecorder messages;
    ASSERT_TRUE(doc.Open(entry.path().string()));
    EXPECT_TRUE(messages.shown().empty());
    EXPECT_NE(pages.cpu.database.Find(doc.config().cpu_chip), nullptr);
    EXPECT_NE(pages.flash.database.Find(doc.config().flash_chip), nullptr);
    // The stored register rows are rows of that CPU, so the pages give the
    // same configuration back.
    EXPECT_FALSE(doc.IsModified());
    std::vector<std::string> errors;
    EXPECT_TRUE(doc.Validate([&](const std::string& line) { errors.push_back(line); }));
    EXPECT_TRUE(errors.empty()) << (errors.empty() ? "" : errors.front());
  }
  EXPECT_GT(examples, 0);
}

}  // namespace
}  // namespace romsmith
