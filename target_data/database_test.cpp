#include <gtest/gtest.h>

#include <algorithm>

#include "formats/data_file.h"
#include "formats/ini_document.h"
#include "target_data/cpu_database.h"
#include "target_data/flash_database.h"
#include "target_data/scratch_copy.h"
#include "target_data/test_support.h"

namespace romsmith {
namespace {

using test::MessageRecorder;
using test::TestDirectory;

const std::filesystem::path kFixtures = std::filesystem::path(ROMSMITH_SOURCE_DIR) / "target_data" / "testdata";

// A program directory holding the fixture databases scrambled, as shipped.
std::filesystem::path ProgramDirectoryWithFixtures() {
  const auto dir = TestDirectory() / "program";
  std::filesystem::create_directories(dir);
  EXPECT_TRUE(EncodeDataFile((kFixtures / "cpu.ini").string(), (dir / "proc.xdl").string()));
  EXPECT_TRUE(EncodeDataFile((kFixtures / "flash.ini").string(), (dir / "rom.xdl").string()));
  return dir;
}

TEST(CpuDatabase, ReadsVendorsCpusAndRegisterRows) {
  CpuDatabase db;
  ASSERT_TRUE(ReadCpuDatabase(kFixtures / "cpu.ini", db));
  // Key "3" of VENDORS is missing: the list ends there.
  EXPECT_EQ(db.vendors, (std::vector<std::string>{"Acme", "Brightchip"}));
  ASSERT_EQ(db.cpus.size(), 3u);
  EXPECT_EQ(db.cpus[0].name, "AC7100");
  EXPECT_EQ(db.cpus[1].name, "AC9200 (Nand)");
  EXPECT_EQ(db.cpus[2].name, "BC2000");
  EXPECT_EQ(db.cpus[2].vendor, "Brightchip");

  const CpuRecord& ac = db.cpus[0];
  EXPECT_EQ(ac.cpu_type, 1);
  EXPECT_EQ(ac.endian, "Little,Big");
  EXPECT_EQ(ac.default_endian, "Little");
  EXPECT_EQ(ac.loader_file_le, "parl.mdl");
  EXPECT_EQ(ac.loader_file_be, "parb.mdl");
  EXPECT_EQ(ac.download_size, 0x800);
  EXPECT_EQ(ac.start_register_mask, 0x10);
  EXPECT_EQ(ac.label, "AcmeInit");
  ASSERT_EQ(ac.register_count(), 3);
  CpuRegister wdt;
  wdt.name = "WDTCON";
  wdt.address = 0xFFFF0000;
  wdt.size = 32;
  wdt.label = "WatchdogOff";
  EXPECT_EQ(ac.registers[0], wdt);  // colons between the parts
  EXPECT_EQ(ac.registers[1].name, "PLLCFG");  // blanks between the parts
  EXPECT_EQ(ac.registers[1].address, 0xE01FC084u);
  EXPECT_EQ(ac.registers[1].size, 8u);
  EXPECT_EQ(ac.registers[1].default_value, 0x24u);
  EXPECT_EQ(ac.registers[1].value, 0u);
  EXPECT_EQ(ac.registers[2].label, "UserFlash");  // mixed separators

  EXPECT_EQ(db.cpus[1].register_count(), 0);  // no SimCount: no rows
  EXPECT_TRUE(db.cpus[1].IsNand());
  EXPECT_FALSE(ac.IsNand());
  // SimCount 2 with Sim2 missing: the second row stays empty.
  ASSERT_EQ(db.cpus[2].register_count(), 2);
  EXPECT_EQ(db.cpus[2].cpu_type, -1);
  EXPECT_EQ(db.cpus[2].registers[0].default_value, 0x37FFFF91u);
  EXPECT_EQ(db.cpus[2].registers[1], CpuRegister());
}

TEST(CpuDatabase, RegisterRowScanning) {
  const CpuRegister row = ParseCpuRegisterRow("BWSCON:$1C80000:32:$0:Bus");
  EXPECT_EQ(row.name, "BWSCON");
  EXPECT_EQ(row.address, 0x1C80000u);
  EXPECT_EQ(row.size, 32u);
  EXPECT_EQ(row.default_value, 0u);
  EXPECT_EQ(row.label, "Bus");
  // A row that stops early keeps zeros for the rest.
  const CpuRegister short_row = ParseCpuRegisterRow("ONLY:$10");
  EXPECT_EQ(short_row.name, "ONLY");
  EXPECT_EQ(short_row.address, 0x10u);
  EXPECT_EQ(short_row.size, 0u);
  EXPECT_EQ(short_row.label, "");
  // Names longer than 63 characters are cut, never overrun.
  const CpuRegister long_row = ParseCpuRegisterRow(std::string(80, 'R') + ":$10:8:$1:L");
  EXPECT_EQ(long_row.name.size(), kMaxRegisterNameLength);
}

TEST(CpuDatabase, LoaderFileByByteOrderAndPathRule) {
  CpuDatabase db;
  ASSERT_TRUE(ReadCpuDatabase(kFixtures / "cpu.ini", db));
  EXPECT_EQ(LoaderFilePath(db.cpus[0], "LITTLE", "/prog/"), "/prog/parl.mdl");
  EXPECT_EQ(LoaderFilePath(db.cpus[0], "little", "/prog/"), "/prog/parl.mdl");
  EXPECT_EQ(LoaderFilePath(db.cpus[0], "BIG", "/prog/"), "/prog/parb.mdl");
  EXPECT_EQ(LoaderFilePath(db.cpus[0], "", "/prog/"), "/prog/parb.mdl");
  EXPECT_EQ(LoaderFilePath(db.cpus[1], "Little", "/prog/"), "C:nan24l.mdl");  // drive form
  EXPECT_EQ(LoaderFilePath(db.cpus[1], "Big", "/prog/"), "/opt/loaders/nan24b.mdl");
}

TEST(CpuDatabase, LoadsTheScrambledFileAndLeavesNoCopy) {
  const auto program = ProgramDirectoryWithFixtures();
  MessageRecorder messages;
  const CpuDatabase db = LoadCpuDatabase(program);
  EXPECT_TRUE(messages.shown().empty());
  EXPECT_EQ(db.vendors.size(), 2u);
  ASSERT_NE(db.Find("BC2000"), nullptr);
  EXPECT_EQ(db.Find("BC2000")->registers[0].name, "SYSCFG");
  EXPECT_EQ(db.Find("nothing"), nullptr);
  EXPECT_FALSE(std::filesystem::exists(program / "proc.api"));
}

TEST(CpuDatabase, MissingFileShowsTheErrorAndGivesAnEmptyList) {
  const auto program = TestDirectory();
  MessageRecorder messages;
  const CpuDatabase db = LoadCpuDatabase(program);
  EXPECT_TRUE(db.vendors.empty());
  EXPECT_TRUE(db.cpus.empty());
  ASSERT_FALSE(messages.shown().empty());
  const auto& last = messages.shown().back();
  EXPECT_EQ(last.text, "Can't open CPU data file!");
  EXPECT_EQ(last.caption, "Error");
  EXPECT_EQ(last.icon, platform::MessageIcon::Error);
}

TEST(FlashDatabase, ReadsDevicesWithTheirSectorTables) {
  FlashDatabase db;
  ASSERT_TRUE(ReadFlashDatabase(kFixtures / "flash.ini", db));
  EXPECT_EQ(db.vendors, (std::vector<std::string>{"Acme", "Brightchip"}));  // "4" is past the gap
  ASSERT_EQ(db.devices.size(), 3u);

  const FlashDevice& boot = db.devices[0];
  EXPECT_EQ(boot.name, "AF160B");
  EXPECT_EQ(boot.vendor, "Acme");
  EXPECT_EQ(boot.manufacturer_code, 1);
  EXPECT_EQ(boot.device_code, 0xFFFF2249u);  // unsigned: all 32 bits
  EXPECT_EQ(boot.widths, (std::vector<std::int32_t>{8, 16}));
  EXPECT_EQ(boot.fail_mask, 0x20);
  // Sector 3 and 6 have no key: each takes the size of the sector before.
  EXPECT_EQ(boot.sector_sizes, (std::vector<std::int32_t>{16384, 8192, 8192, 32768, 65536, 65536}));
  EXPECT_EQ(boot.TotalSectorBytes(), static_cast<std::uint64_t>(boot.chip_size));
  EXPECT_EQ(boot.SectorOffset(3), 32768u);
  EXPECT_EQ(boot.command_type, "ACME_CMD");

  const FlashDevice& uniform = db.devices[1];
  EXPECT_EQ(uniform.manufacturer_code, 0xBF);
  // "SectorSize" wins: "SectorSize1" is not read.
  EXPECT_EQ(uniform.sector_sizes, std::vector<std::int32_t>(8, 65536));
  EXPECT_EQ(uniform.page_count, 0u);

  const FlashDevice& nand = db.devices[2];
  EXPECT_EQ(nand.vendor, "Brightchip");
  EXPECT_EQ(nand.sector_count(), 1024);
  EXPECT_EQ(nand.page_count, 32768u);
  EXPECT_EQ(nand.page_size, 512u);
  EXPECT_EQ(nand.page_spare, 16u);
  EXPECT_EQ(db.Find("BN128"), &db.devices[2]);
}

TEST(FlashDatabase, SectorTableTexts) {
  FlashDevice device;
  device.sector_sizes = {512, 65536, 8192, 1023, 1024};
  const auto rows = SectorTableRows(device, 0x20000000);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0], (SectorRow{"1", "512", "0x20000000"}));
  EXPECT_EQ(rows[1], (SectorRow{"2", "64K", "0x20000200"}));
  EXPECT_EQ(rows[2], (SectorRow{"3", "8K", "0x20010200"}));
  EXPECT_EQ(rows[3].size, "1023");
  EXPECT_EQ(rows[4].size, "1K");
  FlashDevice eight_k;
  eight_k.sector_sizes.assign(4, 8192);
  EXPECT_EQ(SectorTableRows(eight_k, 0)[2].starts, "0x00004000");
}

TEST(FlashDatabase, LoadsTheScrambledDeviceList) {
  const auto program = ProgramDirectoryWithFixtures();
  MessageRecorder messages;
  const FlashDatabase db = LoadFlashDatabase(program);
  EXPECT_TRUE(messages.shown().empty());
  EXPECT_EQ(db.devices.size(), 3u);
  EXPECT_FALSE(std::filesystem::exists(program / "rom.api"));

  std::filesystem::remove(program / "rom.xdl");
  const FlashDatabase none = LoadFlashDatabase(program);
  EXPECT_TRUE(none.devices.empty());
  ASSERT_FALSE(messages.shown().empty());
  EXPECT_EQ(messages.shown().back().text, "Can't open flash data file!");
  EXPECT_EQ(messages.shown().back().caption, "Error");
}

TEST(CommandSet, RowsEndAtTheirFirstMissingKey) {
  IniDocument document;
  ASSERT_TRUE(document.Load((kFixtures / "flash.ini").string()));
  CommandSet set;
  set.reset.data[1][1] = 0xDEAD;  // not in the file: must survive
  set.reset.addresses[2][0] = 0xBEEF;
  ReadCommandSet(document, "ACME_CMD", set);

  EXPECT_EQ(set.reset.count, 3u);
  // 8-bit row: three complete cycles.
  EXPECT_EQ(set.reset.addresses[0][0], 0xAAAu);
  EXPECT_EQ(set.reset.data[0][1], 0x55u);
  EXPECT_EQ(set.reset.data[0][2], 0xF0u);
  // 16-bit row: one cycle and the address of the second, then it stops.
  EXPECT_EQ(set.reset.addresses[1][0], 0u);
  EXPECT_EQ(set.reset.data[1][0], 0xF0u);
  EXPECT_EQ(set.reset.addresses[1][1], 0x555u);
  EXPECT_EQ(set.reset.data[1][1], 0xDEADu);
  EXPECT_EQ(set.reset.addresses[2][0], 0xBEEFu);

  EXPECT_EQ(set.read_manufacturer_code.data[0][0], 0x90u);
  EXPECT_EQ(set.read_device_code.addresses[1][0], 1u);
  EXPECT_EQ(set.read_mode.data[1][0], 0xF0u);
  EXPECT_EQ(set.chip_erase.count, 2u);
  EXPECT_EQ(set.chip_erase.addresses[1][1], 0x2AAu);
  EXPECT_EQ(set.sector_erase_wait_time, 50);
  EXPECT_EQ(set.sector_erase.addresses[3][0], 0xFFFFFFFFu);  // 32-bit row, all bits
  EXPECT_EQ(set.program_mode, 2);
  EXPECT_EQ(set.program.data[2][0], 0xA0u);  // 24-bit row
  EXPECT_EQ(set.protection_mask, 1);
  EXPECT_EQ(set.protection_value, 1);
  EXPECT_EQ(set.read_protection.count, 2u);
  EXPECT_EQ(set.read_protection.data[1][0], 0x90u);
  // Sector protect takes its count from the read-protection key.
  EXPECT_EQ(set.sector_protect.count, 2u);
  EXPECT_EQ(set.sector_protect.data[1][0], 0x60u);
  EXPECT_EQ(set.sector_protect.addresses[1][1], 1u);
  EXPECT_EQ(set.sector_protect.data[1][1], 0x40u);

  // A command type the file lacks changes nothing.
  const CommandSet before = set;
  ReadCommandSet(document, "NAND_CMD", set);
  EXPECT_TRUE(set == before);
}

TEST(CommandSet, LoadsFromTheScrambledFileAndKeepsValuesOnFailure) {
  const auto program = ProgramDirectoryWithFixtures();
  CommandSet set;
  MessageRecorder messages;
  ASSERT_TRUE(LoadCommandSet(program, "ACME_CMD", set));
  EXPECT_TRUE(messages.shown().empty());
  EXPECT_EQ(set.program_mode, 2);
  EXPECT_EQ(set.chip_erase.count, 2u);
  EXPECT_FALSE(std::filesystem::exists(program / "rom.api"));

  std::filesystem::remove(program / "rom.xdl");
  const CommandSet before = set;
  EXPECT_FALSE(LoadCommandSet(program, "ACME_CMD", set));
  EXPECT_TRUE(set == before);
  ASSERT_FALSE(messages.shown().empty());
  EXPECT_EQ(messages.shown().back().text, "Can't open flash data file!");
  EXPECT_FALSE(std::filesystem::exists(program / "rom.api"));
}

TEST(ScratchCopy, LivesInAPrivateDirectoryThatGoesWithIt) {
  std::filesystem::path path;
  {
    ScratchCopy first("proc.api", "/nonexistent");
    ScratchCopy second("proc.api", "/nonexistent");
    path = first.path();
    EXPECT_EQ(path.filename(), "proc.api");
    EXPECT_NE(first.path(), second.path());
    test::WriteText(path, "x");
    EXPECT_TRUE(IsReadableFile(path));
  }
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(std::filesystem::exists(path.parent_path()));
}

}  // namespace
}  // namespace romsmith
