#include "target_data/target_config.h"

#include <gtest/gtest.h>

#include "target_data/target_document.h"
#include "target_data/target_pages.h"
#include "target_data/test_support.h"

namespace romsmith {
namespace {

using platform::MessageAnswer;
using test::MessageRecorder;
using test::ReadText;
using test::TestDirectory;
using test::WriteText;

CpuRegister Reg(const std::string& name, std::uint32_t address, std::uint32_t size,
                std::uint32_t default_value) {
  CpuRegister reg;
  reg.name = name;
  reg.address = address;
  reg.size = size;
  reg.default_value = default_value;
  return reg;
}

// Two CPUs and two flash devices, enough for every page transfer.
TargetPages MakePages() {
  TargetPages pages;
  CpuRecord cpu;
  cpu.name = "AC7100";
  cpu.vendor = "Acme";
  cpu.registers = {Reg("WDTCON", 0xFFFF0000, 32, 0), Reg("PLLCFG", 0xE01FC084, 8, 0x24),
                   Reg("MEMMAP", 0xE01FC040, 32, 1)};
  CpuRecord nand;
  nand.name = "AC9200 (Nand)";
  nand.vendor = "Acme";
  pages.cpu.database.vendors = {"Acme"};
  pages.cpu.database.cpus = {cpu, nand};

  FlashDevice uniform;
  uniform.name = "AF040";
  uniform.vendor = "Acme";
  uniform.widths = {8, 16};
  uniform.sector_sizes.assign(8, 65536);
  FlashDevice boot;
  boot.name = "AF160B";
  boot.vendor = "Acme";
  boot.widths = {16};
  boot.sector_sizes = {16384, 8192, 8192, 32768, 65536};
  pages.flash.database.vendors = {"Acme"};
  pages.flash.database.devices = {uniform, boot};
  return pages;
}

// Fills every page field the way a user would.
void FillPages(TargetPages& pages) {
  ASSERT_TRUE(pages.cpu.SelectCpu("AC7100"));
  pages.cpu.little_endian = false;
  pages.cpu.SetRegisterValueText(1, "0x25");
  pages.cpu.memory_rows[0] = {"0xE002C000", "0x00000005", "32"};
  pages.cpu.memory_rows[2] = {"0x40000000", "255", "8"};  // a blank row in between
  ASSERT_TRUE(pages.flash.SelectDevice("AF040"));
  pages.flash.width_text = "16";
  pages.flash.chips_text = "2";
  pages.flash.start_address = "0x80000000";
  pages.flash.sector_from = 1;
  pages.flash.sector_to = 8;
  pages.flash.little_endian = true;
  pages.program.ram_start = "0x40000000";
  pages.program.ram_support = true;
  pages.program.auto_erase = true;
  pages.program.auto_verify = true;
  pages.program.program_file = "/work/app.hex";
  pages.program.format = "Intel Hex";
  pages.program.upload_file = "/work/up.bin";
}

TEST(TargetConfigFile, SavedFileListsKeysInReverseOrderOfSetting) {
  const auto dir = TestDirectory();
  TargetPages pages = MakePages();
  FillPages(pages);
  TargetDocument doc(pages);
  ASSERT_TRUE(doc.SaveAs((dir / "board.cfg").string()));
  EXPECT_EQ(ReadText(dir / "board.cfg"),
            "[SETUP]\r\n"
            "CpuVendor=Acme\r\n"
            "CpuChip=AC7100\r\n"
            "FlashVendor=Acme\r\n"
            "FlashChip=AF040\r\n"
            "RamAddress=$40000000\r\n"
            "RamSupport=1\r\n"
            "FlashAddress=$80000000\r\n"
            "FlashWidth=16\r\n"
            "FlashChipsPerSector=2\r\n"
            "LittleEndian=1\r\n"
            "SectStart=0\r\n"
            "SectEnd=7\r\n"
            "AutoErase=1\r\n"
            "AutoVerify=1\r\n"
            "CpuEndian=BIG\r\n"
            "SimCount=3\r\n"
            "MemoryCount=2\r\n"
            "ProgramFile=/work/app.hex\r\n"
            "UploadFile=/work/up.bin\r\n"
            "Format=Intel Hex\r\n"
            "Mem2=$40000000:$000000FF:8\r\n"
            "Mem1=$E002C000:$00000005:32\r\n"
            "Sim3=MEMMAP:$00000001\r\n"
            "Sim2=PLLCFG:$00000025\r\n"
            "Sim1=WDTCON:$00000000\r\n");
  EXPECT_EQ(doc.current_file(), (dir / "board.cfg").string());
  EXPECT_EQ(pages.program.target_caption, (dir / "board.cfg").string());
  EXPECT_FALSE(doc.IsModified());
}

TEST(TargetConfigFile, LoadGivesBackEveryFieldOnConfigurationAndPages) {
  const auto dir = TestDirectory();
  const std::string path = (dir / "board.cfg").string();
  TargetPages pages = MakePages();
  FillPages(pages);
  TargetDocument doc(pages);
  ASSERT_TRUE(doc.SaveAs(path));
  const TargetConfig saved = doc.config();

  TargetPages fresh = MakePages();
  TargetDocument reopened(fresh);
  MessageRecorder messages;
  ASSERT_TRUE(reopened.Open(path));
  EXPECT_TRUE(messages.shown().empty());
  // The file holds no register addresses and sizes; everything else is back.
  EXPECT_TRUE(SameTargetSettings(reopened.config(), saved));
  EXPECT_EQ(reopened.config().registers[1].name, "PLLCFG");
  EXPECT_EQ(reopened.current_file(), path);
  EXPECT_EQ(reopened.recent_files().entries(), std::vector<std::string>{path});

  // The pages show what the file holds: sectors from 1, addresses in hex.
  EXPECT_EQ(fresh.flash.sector_from, 1);
  EXPECT_EQ(fresh.flash.sector_to, 8);
  EXPECT_EQ(fresh.flash.start_address, "0x80000000");
  EXPECT_EQ(fresh.flash.width_text, "16");
  EXPECT_EQ(fresh.flash.chips_text, "2");
  EXPECT_EQ(fresh.flash.width_choices, (std::vector<std::string>{"8", "16"}));
  EXPECT_TRUE(fresh.flash.little_endian);
  EXPECT_EQ(fresh.program.ram_start, "0x40000000");
  EXPECT_EQ(fresh.program.format, "Intel Hex");
  EXPECT_TRUE(fresh.program.auto_erase && fresh.program.auto_verify && fresh.program.ram_support);
  EXPECT_EQ(fresh.program.cpu_type, "AC7100");
  EXPECT_EQ(fresh.program.cpu_endian, "Big");
  EXPECT_EQ(fresh.program.flash_start, "0x80000000");
  EXPECT_EQ(fresh.program.sector_to, 8);
  EXPECT_EQ(fresh.program.target_caption, path);
  EXPECT_FALSE(fresh.cpu.little_endian);
  ASSERT_EQ(fresh.cpu.current.registers.size(), 3u);
  EXPECT_EQ(fresh.cpu.current.registers[1].value, 0x25u);
  EXPECT_TRUE(fresh.cpu.RegisterRows()[1].changed);
  EXPECT_EQ(fresh.cpu.memory_rows.size(), kMemoryListRows);
  EXPECT_EQ(fresh.cpu.memory_rows[1].address, "0x40000000");
  EXPECT_EQ(fresh.cpu.memory_rows[1].value, "0x000000FF");
  EXPECT_EQ(fresh.cpu.memory_rows[1].size, "8");
  EXPECT_TRUE(fresh.cpu.memory_rows[2].IsBlank());

  // Taking the pages back gives the saved configuration itself, register
  // addresses and sizes from the CPU database included.
  EXPECT_FALSE(reopened.IsModified());
  EXPECT_TRUE(reopened.config() == saved);
  EXPECT_EQ(reopened.selected_flash().name, "AF040");
  EXPECT_EQ(reopened.selected_cpu().name, "AC7100");
}

TEST(TargetConfigFile, HandWrittenFilesWithFewerKeysLoad) {
  const auto dir = TestDirectory();
  WriteText(dir / "hand.cfg",
            "; written by hand\n[OTHER]\nCpuChip=nope\n[SETUP]\nCpuVendor=Acme\nCpuChip=AC7100\n"
            "SimCount=2\nSim1=PLLCFG $abcd\nSim2=WDTCON:$0000ffff\nMemoryCount=1\n"
            "Mem1=$10:$20:16\nRamAddress=0x40000000\nCpuChip=AC9200 (Nand)\n"
            "[SETUP]\nCpuVendor=Second\nFlashChip=second\n");
  TargetPages pages = MakePages();
  TargetDocument doc(pages);
  doc.config().flash_chip = "kept";
  doc.config().upload_file = "kept.bin";
  ASSERT_TRUE(doc.Load((dir / "hand.cfg").string()));
  const TargetConfig& c = doc.config();
  // The first "SETUP" section and the first key of a name win.
  EXPECT_EQ(c.cpu_vendor, "Acme");
  EXPECT_EQ(c.cpu_chip, "AC7100");
  EXPECT_EQ(c.flash_chip, "kept");
  EXPECT_EQ(c.upload_file, "kept.bin");
  EXPECT_EQ(c.ram_address, 0x40000000u);
  EXPECT_EQ(c.registers[0].name, "PLLCFG");
  EXPECT_EQ(c.registers[0].value, 0xABCDu);  // lower-case hex reads the same
  EXPECT_EQ(c.registers[1].value, 0xFFFFu);
  EXPECT_EQ(c.memory[0], (ConfigMemoryRow{0x10, 16, 0x20}));
  // Load does not make the file current: only Open does.
  EXPECT_EQ(doc.current_file(), "");
  // The stored values land on the rows of the same name.
  EXPECT_EQ(pages.cpu.current.registers[1].value, 0xABCDu);  // PLLCFG
  EXPECT_EQ(pages.cpu.current.registers[0].value, 0xFFFFu);  // WDTCON
  EXPECT_EQ(pages.cpu.current.registers[2].value, 1u);       // MEMMAP keeps its default
}

TEST(TargetConfigFile, ExtremeSectorNumbersSurviveTheRoundTripThroughThePages) {
  const auto dir = TestDirectory();
  WriteText(dir / "far.cfg", "[SETUP]\nSectStart=$7FFFFFFF\nSectEnd=2147483647\n");
  TargetPages pages = MakePages();
  TargetDocument doc(pages);
  ASSERT_TRUE(doc.Load((dir / "far.cfg").string()));
  EXPECT_EQ(pages.program.sector_from, pages.flash.sector_from);  // the summary shifts alike
  doc.TakeFromPages();
  EXPECT_EQ(doc.config().start_sector, 0x7FFFFFFF);
  EXPECT_EQ(doc.config().end_sector, 0x7FFFFFFF);
}

TEST(TargetConfigFile, UnreadableFileLeavesEverythingAsItWas) {
  const auto dir = TestDirectory();
  TargetPages pages = MakePages();
  TargetDocument doc(pages);
  doc.config().cpu_chip = "before";
  MessageRecorder messages;
  EXPECT_FALSE(doc.Open((dir / "missing.cfg").string()));
  ASSERT_EQ(messages.shown().size(), 1u);
  EXPECT_EQ(messages.shown()[0].text, "Can't open target config file!");
  EXPECT_EQ(messages.shown()[0].caption, "Error");
  EXPECT_EQ(messages.shown()[0].icon, platform::MessageIcon::Error);
  EXPECT_EQ(doc.config().cpu_chip, "before");
  EXPECT_EQ(doc.current_file(), "");
  EXPECT_TRUE(doc.recent_files().empty());
}

TEST(TargetConfigFile, RowCountsBeyondTheTablesAreCut) {
  const auto dir = TestDirectory();
  WriteText(dir / "big.cfg", "[SETUP]\r\nSimCount=300\r\nMemoryCount=-4\r\nSim256=LAST:$1\r\n");
  TargetConfig config;
  IniDocument document;
  ASSERT_TRUE(document.Load((dir / "big.cfg").string()));
  ReadTargetConfig(document, config);
  EXPECT_EQ(config.register_count, 256u);
  EXPECT_EQ(config.memory_count, 0u);
  EXPECT_EQ(config.registers[255].name, "LAST");
}

TEST(TargetConfigFile, UnknownCpuKeepsItsRowsThroughASave) {
  const auto dir = TestDirectory();
  WriteText(dir / "other.cfg",
            "[SETUP]\r\nCpuVendor=Elsewhere\r\nCpuChip=X1\r\nSimCount=2\r\nSim1=A:$1\r\nSim2=B:$2\r\n");
  TargetPages pages = MakePages();
  TargetDocument doc(pages);
  ASSERT_TRUE(doc.Open((dir / "other.cfg").string()));
  ASSERT_TRUE(doc.Save());
  const std::string text = ReadText(dir / "other.cfg");
  EXPECT_NE(text.find("Sim1=A:$00000001\r\n"), std::string::npos);
  EXPECT_NE(text.find("Sim2=B:$00000002\r\n"), std::string::npos);
  EXPECT_NE(text.find("CpuChip=X1\r\n"), std::string::npos);
}

TEST(TargetConfigFile, SaveAsWritesExactlyTheTypedNameAndSaveNeedsAFile) {
  const auto dir = TestDirectory();
  TargetPages pages = MakePages();
  FillPages(pages);
  TargetDocument doc(pages);
  EXPECT_FALSE(doc.Save());  // no current file: the front end asks for one
  EXPECT_FALSE(std::filesystem::exists(dir / "noext.cfg"));
  ASSERT_TRUE(doc.SaveAs((dir / "noext").string()));
  EXPECT_TRUE(std::filesystem::exists(dir / "noext"));
  EXPECT_FALSE(std::filesystem::exists(dir / "noext.cfg"));
  // A save into a directory that does not exist fails and is shown.
  MessageRecorder messages;
  EXPECT_FALSE(doc.SaveAs((dir / "no" / "such" / "dir.cfg").string()));
  EXPECT_EQ(messages.shown().size(), 1u);
  EXPECT_EQ(doc.recent_files().entries(), std::vector<std::string>{(dir / "noext").string()});
}

TEST(TargetConfigFile, ModifiedComparesTheFieldsThatMatter) {
  const auto dir = TestDirectory();
  TargetPages pages = MakePages();
  FillPages(pages);
  TargetDocument doc(pages);
  EXPECT_FALSE(doc.IsModified());  // no file yet
  ASSERT_TRUE(doc.SaveAs((dir / "m.cfg").string()));
  EXPECT_FALSE(doc.IsModified());

  pages.program.format = "INTEL HEX";  // texts compare ignoring case
  EXPECT_FALSE(doc.IsModified());
  pages.program.ram_start = "0x40000004";
  EXPECT_TRUE(doc.IsModified());
  pages.program.ram_start = "1073741824";  // the same number typed in decimal
  EXPECT_FALSE(doc.IsModified());
  pages.cpu.SetRegisterValueText(0, "7");
  EXPECT_TRUE(doc.IsModified());
  pages.cpu.SetRegisterValueText(0, "0");
  EXPECT_FALSE(doc.IsModified());
  pages.cpu.memory_rows[2].size = "16";
  EXPECT_TRUE(doc.IsModified());
  pages.cpu.memory_rows[2].size = "8";
  pages.flash.sector_to = 7;
  EXPECT_TRUE(doc.IsModified());
}

TEST(TargetConfigFile, OpeningOverUnsavedChangesAsksFirst) {
  const auto dir = TestDirectory();
  const std::string first = (dir / "first.cfg").string();
  const std::string second = (dir / "second.cfg").string();
  TargetPages pages = MakePages();
  FillPages(pages);
  TargetDocument doc(pages);
  ASSERT_TRUE(doc.SaveAs(second));
  ASSERT_TRUE(doc.SaveAs(first));
  pages.program.upload_file = "/changed.bin";

  {
    MessageRecorder cancel(MessageAnswer::Cancel);
    EXPECT_FALSE(doc.Open(second));
    ASSERT_EQ(cancel.shown().size(), 1u);
    EXPECT_EQ(cancel.shown()[0].text, "Save changed to target config file?");
    EXPECT_EQ(cancel.shown()[0].buttons, platform::MessageButtons::YesNoCancel);
    EXPECT_EQ(doc.current_file(), first);
    EXPECT_EQ(pages.program.upload_file, "/changed.bin");
    EXPECT_TRUE(doc.IsModified());
  }
  {
    MessageRecorder yes(MessageAnswer::Yes);
    ASSERT_TRUE(doc.Open(second));
    EXPECT_EQ(yes.shown().size(), 1u);
    EXPECT_NE(ReadText(first).find("UploadFile=/changed.bin\r\n"), std::string::npos);
    EXPECT_EQ(pages.program.upload_file, "/work/up.bin");
  }
  pages.program.upload_file = "/lost.bin";
  {
    MessageRecorder no(MessageAnswer::No);
    ASSERT_TRUE(doc.OpenRecent(1));  // first.cfg, now second in the list
    EXPECT_EQ(doc.current_file(), first);
    EXPECT_EQ(ReadText(second).find("/lost.bin"), std::string::npos);
    EXPECT_EQ(pages.program.upload_file, "/changed.bin");
  }
  EXPECT_EQ(doc.recent_files().entries(), (std::vector<std::string>{first, second}));
}

TEST(TargetConfigValidation, MessagesInOrderWordForWord) {
  TargetConfig c;
  std::vector<std::string> lines;
  auto log = [&](const std::string& line) { lines.push_back(line); };
  auto check = [&](std::int32_t sectors) {
    lines.clear();
    const bool ok = ValidateTargetConfig(c, sectors, log);
    EXPECT_EQ(ok, lines.empty());
    return lines.empty() ? std::string("ok") : lines.front();
  };
  EXPECT_EQ(check(8), "Error: you must select flash chip.\n");
  c.flash_vendor = "Acme";
  EXPECT_EQ(check(8), "Error: you must select flash chip.\n");
  c.flash_chip = "AF040";
  c.start_sector = 3;
  c.end_sector = 2;
  EXPECT_EQ(check(8), "Error: incorrect sector number .\n");
  c.start_sector = -1;
  EXPECT_EQ(check(8), "Error: incorrect sector number .\n");
  c.start_sector = 0;
  c.end_sector = 8;
  EXPECT_EQ(check(8), "Error: end sector number overflow.\n");
  c.end_sector = 7;
  EXPECT_EQ(check(8), "Error: you must select falsh width.\n");
  c.flash_width = 16;
  EXPECT_EQ(check(8), "Error: you must select CPU.\n");
  c.cpu_vendor = "Acme";
  EXPECT_EQ(check(8), "Error: you must select CPU.\n");
  c.cpu_chip = "AC7100";
  EXPECT_EQ(check(8), "Error: RAM address equal flash address.\n");  // both 0
  c.ram_address = 0x40000000;
  EXPECT_EQ(check(8), "Error: 0 flash chips side by side; the bus takes 1, 2 or 4.\n");
  c.chips_per_sector = 1;
  EXPECT_EQ(check(8), "ok");
  EXPECT_EQ(check(7), "Error: end sector number overflow.\n");
}

TEST(TargetConfigValidation, RefusesWidthsAndChipCountsNoBusHas) {
  TargetConfig c;
  c.flash_vendor = "Acme";
  c.flash_chip = "AF040";
  c.cpu_vendor = "Acme";
  c.cpu_chip = "AC7100";
  c.ram_address = 0x40000000;
  struct Case {
    std::int32_t width;
    std::int32_t chips;
    const char* line;  // nullptr: valid
  };
  for (const Case& k : {Case{8, 1, nullptr}, Case{16, 2, nullptr}, Case{32, 1, nullptr}, Case{8, 4, nullptr},
                        Case{7, 1, "Error: flash width 7 is not 8, 16 or 32 bits.\n"},
                        Case{-16, 1, "Error: flash width -16 is not 8, 16 or 32 bits.\n"},
                        Case{16, 0, "Error: 0 flash chips side by side; the bus takes 1, 2 or 4.\n"},
                        Case{16, 3, "Error: 3 flash chips side by side; the bus takes 1, 2 or 4.\n"},
                        Case{8, 100000, "Error: 100000 flash chips side by side; the bus takes 1, 2 or 4.\n"},
                        Case{32, 2, "Error: 2 chips of 32 bits make a 64-bit bus; the bus has 32 bits.\n"},
                        Case{16, 4, "Error: 4 chips of 16 bits make a 64-bit bus; the bus has 32 bits.\n"}}) {
    c.flash_width = k.width;
    c.chips_per_sector = k.chips;
    std::vector<std::string> lines;
    EXPECT_EQ(ValidateTargetConfig(c, 8, [&](const std::string& line) { lines.push_back(line); }), k.line == nullptr);
    EXPECT_EQ(lines, k.line ? std::vector<std::string>{k.line} : std::vector<std::string>{})
        << k.width << " x " << k.chips;
  }
}

TEST(TargetConfigValidation, UsesTheDeviceTakenFromThePages) {
  TargetPages pages = MakePages();
  FillPages(pages);
  TargetDocument doc(pages);
  doc.TakeFromPages();
  std::vector<std::string> lines;
  auto log = [&](const std::string& line) { lines.push_back(line); };
  EXPECT_TRUE(doc.Validate(log));
  ASSERT_TRUE(pages.flash.SelectDevice("AF160B"));  // five sectors
  pages.flash.sector_to = 6;
  doc.TakeFromPages();
  EXPECT_FALSE(doc.Validate(log));
  EXPECT_EQ(lines, std::vector<std::string>{"Error: end sector number overflow.\n"});
}

TEST(RecentFileList, MostRecentFirstFourAtMostAndKeptInTheProfile) {
  const auto dir = TestDirectory();
  RecentFileList list;
  for (const char* path : {"/a.cfg", "/b.cfg", "/c.cfg", "/d.cfg", "/e.cfg"}) list.Add(path);
  list.Add("/c.cfg");
  EXPECT_EQ(list.entries(), (std::vector<std::string>{"/c.cfg", "/e.cfg", "/d.cfg", "/b.cfg"}));
  ProfileStore profile(dir / "profile.ini");
  profile.SetText("Recent File List", "file4", "/stale.cfg");
  list.Remove(3);
  list.Write(profile);
  ASSERT_TRUE(profile.Save());
  EXPECT_EQ(ReadText(dir / "profile.ini"),
            "[Recent File List]\r\nfile1=/c.cfg\r\nfile2=/e.cfg\r\nfile3=/d.cfg\r\n");
  RecentFileList reread;
  reread.Read(ProfileStore(dir / "profile.ini"));
  EXPECT_EQ(reread.entries(), list.entries());
}

TEST(TargetPages, CpuSelectionAndRegisterEdits) {
  TargetPages pages = MakePages();
  CpuPage& cpu = pages.cpu;
  EXPECT_FALSE(cpu.SelectCpu("nothing"));
  ASSERT_TRUE(cpu.SelectCpu("AC7100"));
  auto rows = cpu.RegisterRows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1].name, "PLLCFG");
  EXPECT_EQ(rows[1].default_text, "0x00000024");
  EXPECT_EQ(rows[1].value_text, "0x00000024");
  EXPECT_EQ(rows[1].tooltip, "PLLCFG address: 0xE01FC084");
  EXPECT_FALSE(rows[1].changed);
  EXPECT_TRUE(cpu.SetRegisterValueText(1, "0x30"));
  EXPECT_TRUE(cpu.RegisterRows()[1].changed);
  EXPECT_FALSE(cpu.SetRegisterValueText(1, "36"));  // the default typed back
  EXPECT_FALSE(cpu.RegisterRows()[1].changed);
  cpu.SetRegisterValueText(1, "0x30");
  ASSERT_TRUE(cpu.SelectCpu("AC7100"));  // selecting again resets to defaults
  EXPECT_EQ(cpu.current.registers[1].value, 0x24u);
  EXPECT_TRUE(pages.cpu.database.cpus[1].IsNand());
}

TEST(TargetPages, FlashSelectionAndSectorList) {
  TargetPages pages = MakePages();
  FlashPage& flash = pages.flash;
  flash.width_text = "8";
  flash.chips_text = "4";
  ASSERT_TRUE(flash.SelectDevice("AF160B"));
  EXPECT_EQ(flash.width_choices, std::vector<std::string>{"16"});
  EXPECT_EQ(flash.sector_from, 1);
  EXPECT_EQ(flash.sector_to, 5);
  EXPECT_EQ(flash.width_text, "8");  // width and chip texts keep their values
  EXPECT_EQ(flash.chips_text, "4");
  flash.start_address = "0x01000000";
  const auto rows = flash.SectorRows();
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(rows[0], (SectorRow{"1", "16K", "0x01000000"}));
  EXPECT_EQ(rows[2], (SectorRow{"3", "8K", "0x01006000"}));
  EXPECT_EQ(rows[4], (SectorRow{"5", "64K", "0x01010000"}));
}

}  // namespace
}  // namespace romsmith

namespace romsmith {
namespace {

// A configuration naming a device or CPU the database does not hold is
// refused with the name, before the checks that would blame the sectors; a
// damaged name is shown cut and without control characters.
TEST(TargetConfigValidation, NamesWhatTheDatabasesDoNotHold) {
  struct Row {
    const char* name;
    std::string flash_chip;
    std::string cpu_chip;
    bool empty_databases;
    std::string line;
  };
  const std::string long_name(100000, 'Z');
  const std::vector<Row> rows = {
      {"known", "AF040", "AC7100", false, ""},
      {"unknown device", "AF999", "AC7100", false,
       "Error: flash device \"AF999\" is not in the flash device database; choose one from the "
       "flash list.\n"},
      {"unknown CPU", "AF040", "AC7199", false,
       "Error: CPU \"AC7199\" is not in the CPU database; choose one from the CPU list.\n"},
      {"UTF-8 name", "AF\xC3\xA9\x01", "AC7100", false,
       "Error: flash device \"AF\xC3\xA9?\" is not in the flash device database; choose one from "
       "the flash list.\n"},
      {"100 KB name", long_name, "AC7100", false,
       "Error: flash device \"" + std::string(64, 'Z') +
           "... (100000 bytes)\" is not in the flash device database; choose one from the flash "
           "list.\n"},
      {"databases not read", "AF040", "AC7100", true,
       "Error: the flash device database (rom.xdl) could not be read, so flash device \"AF040\" "
       "cannot be used.\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TargetPages pages = MakePages();
    FillPages(pages);
    pages.flash.chip = row.flash_chip;
    pages.cpu.chip = row.cpu_chip;
    if (row.empty_databases) {
      pages.flash.database = FlashDatabase();
      pages.cpu.database = CpuDatabase();
    }
    TargetDocument doc(pages);
    doc.TakeFromPages();
    std::vector<std::string> lines;
    EXPECT_EQ(doc.Validate([&](const std::string& line) { lines.push_back(line); }),
              row.line.empty());
    EXPECT_EQ(lines, row.line.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.line});
  }
}

TEST(TargetConfigFile, AByteOrderMarkBeforeTheFirstSectionIsSkipped) {
  const auto dir = TestDirectory();
  WriteText(dir / "bom.cfg", "\xEF\xBB\xBF[SETUP]\r\nCpuVendor=Acme\r\nCpuChip=AC7100\r\nFlashChip=AF040\r\n");
  TargetPages pages = MakePages();
  TargetDocument doc(pages);
  ASSERT_TRUE(doc.Load((dir / "bom.cfg").string()));
  EXPECT_EQ(doc.config().cpu_chip, "AC7100");
  EXPECT_EQ(doc.config().flash_chip, "AF040");
}

// Each "Format" value survives the file as written, and reads back as the
// format the commands test for.
TEST(TargetConfigFile, EveryFormatValueRoundTrips) {
  for (const char* format : {kFlatBinFormat, kIntelHexFormat, kImageFormat}) {
    TargetConfig written;
    written.format = format;
    IniDocument document;
    document.LoadFromText(WriteTargetConfig(written).Text());
    TargetConfig read;
    ReadTargetConfig(document, read);
    EXPECT_EQ(read.format, format);
    EXPECT_EQ(read.UsesAddressImage(), std::string(format) == kImageFormat);
  }
}

}  // namespace
}  // namespace romsmith
