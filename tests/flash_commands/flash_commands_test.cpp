// Erase, program, protect and the target test end to end: romsmith-cli with
// osprey7 on virtual boards; each test reads the flash image back byte for byte.
#include "tests/flash_commands/flash_commands_fixture.h"

namespace flash_commands {
namespace {

// Program with auto erase and auto verify into sectors 3-5 of a flash whose
// every other byte holds data: the range gets the file, the rest stays.
struct ProgramCase {
  const char* name;
  bool big;
  bool hex;
  bool whole_sectors;  // "LoadSectData"
  unsigned chips;
};

class ProgramEndToEnd : public FlashCommands, public ::testing::WithParamInterface<ProgramCase> {};

TEST_P(ProgramEndToEnd, WritesTheFileIntoTheRangeAndNothingElse) {
  const ProgramCase& c = GetParam();
  Target t;
  t.big = c.big;
  t.chips = c.chips;
  t.width = c.chips == 2 ? 8 : 16;
  Prepare(t, Pattern(0x200000 * c.chips, 1));
  const Bytes data = Pattern(45000, 77);
  std::string file = (root_ / "data.bin").string();
  WriteBytes(file, data);
  if (c.hex) {
    // The Intel HEX form of the same bytes: 16-byte data records.
    std::string hex = (root_ / "data.hex").string();
    std::string text;
    char line[80];
    for (std::size_t at = 0; at < data.size(); at += 16) {
      if (at % 0x10000 == 0) {
        std::snprintf(line, sizeof line, ":02000004%04X%02X\n", unsigned(at >> 16),
                      unsigned((0x100 - ((2 + 4 + (at >> 24) + ((at >> 16) & 0xFF)) & 0xFF)) & 0xFF));
        text += line;
      }
      const std::size_t n = std::min<std::size_t>(16, data.size() - at);
      unsigned sum = unsigned(n) + ((at >> 8) & 0xFF) + (at & 0xFF);
      std::snprintf(line, sizeof line, ":%02X%04X00", unsigned(n), unsigned(at & 0xFFFF));
      text += line;
      for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(line, sizeof line, "%02X", data[at + i]);
        text += line;
        sum += data[at + i];
      }
      std::snprintf(line, sizeof line, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
      text += line;
    }
    text += ":00000001FF\n";
    WriteText(hex, text);
    file = hex + " --format hex";
  }
  const std::string set = c.whole_sectors ? " --set Option.LoadSectData=1" : "";
  const CliResult run = Cli("-f " + file + set + " -s 4-6 --auto-erase --auto-verify program");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(run.Has("Info: erase completed.")) << run.out << run.err;
  EXPECT_TRUE(run.Has("Info: program suceess.")) << run.out << run.err;
  // Sectors 4-6 (from 1) are sectors 3-5: the range is erased, then holds the file.
  EXPECT_TRUE(SameImage(Flash(), With(SectorOffset(3), SectorOffset(6), data)));
  if (c.hex) {
    EXPECT_FALSE(fs::exists(root_ / "data.hex.bin")) << "the converted copy stays behind";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgramEndToEnd,
    ::testing::Values(ProgramCase{"Little", false, false, false, 1},
                      ProgramCase{"BigWholeSectors", true, false, true, 1},
                      ProgramCase{"LittleIntelHex", false, true, false, 1},
                      ProgramCase{"BigTwoByteChips", true, false, false, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashCommands, EraseTakesTheWholeChipOrOnlyTheSectorsAsked) {
  Prepare(Target{}, Pattern(0x200000, 5));
  const CliResult some = Cli("-s 3-5 erase");
  EXPECT_EQ(some.status, 0) << some.out << some.err;
  EXPECT_TRUE(some.Has("Info: erase completed.")) << some.out << some.err;
  EXPECT_TRUE(SameImage(Flash(), With(SectorOffset(2), SectorOffset(5), {})));

  const CliResult all = Cli("-s 1-35 erase");
  EXPECT_EQ(all.status, 0) << all.out << all.err;
  EXPECT_FALSE(all.Has("Info: not support chip erase, use sector erase.")) << all.out << all.err;
  EXPECT_TRUE(SameImage(Flash(), Bytes(size_, 0xFF)));
}

TEST_F(FlashCommands, IntelChipsEraseSectorBySectorAndUnlockWhatProtectLocked) {
  Target t;
  t.flash = &k28F320C3B;
  t.big = true;
  Prepare(t, Pattern(0x400000, 9));
  const CliResult lock = Cli("-s 2-3 protect");
  EXPECT_EQ(lock.status, 0) << lock.out << lock.err;
  EXPECT_TRUE(lock.Has("Info: protect completed.")) << lock.out << lock.err;
  EXPECT_TRUE(SameImage(Flash(), image_)) << "protect changed data";

  const CliResult all = Cli("-s 1-71 erase");
  EXPECT_EQ(all.status, 0) << all.out << all.err;
  EXPECT_TRUE(all.Has("Info: not support chip erase, use sector erase.")) << all.out << all.err;
  EXPECT_TRUE(all.Has("Info: erase completed.")) << all.out << all.err;
  EXPECT_TRUE(SameImage(Flash(), Bytes(size_, 0xFF)));
}

TEST_F(FlashCommands, ProtectWithoutASequenceSaysSoAndWritesNothing) {
  Prepare(Target{}, Pattern(0x200000, 3));
  const CliResult run = Cli("-s 1-35 protect");
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_TRUE(run.Has("Info: the chip does not support protect function, protect end.")) << run.out << run.err;
  EXPECT_TRUE(SameImage(Flash(), image_));
}

TEST_F(FlashCommands, AFileLargerThanTheRangeIsRefusedBeforeAnythingIsWritten) {
  Prepare(Target{}, Pattern(0x200000, 4));
  WriteBytes(root_ / "big.bin", Pattern(0x4001, 0));
  const CliResult run = Cli("-f " + (root_ / "big.bin").string() + " -s 1-1 --no-auto-erase program");
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_TRUE(run.Has("Error: program file too large, program failed.")) << run.out << run.err;
  EXPECT_TRUE(SameImage(Flash(), image_));
}

TEST_F(FlashCommands, DebugModeWritesTheBlocksToFilesAndLeavesTheFlash) {
  Prepare(Target{});
  const Bytes data = Pattern(3000, 2);
  WriteBytes(root_ / "data.bin", data);
  const std::string prefix = (root_ / "chunk").string();
  const CliResult run = Cli("-f " + (root_ / "data.bin").string() + " -s 2-2 --no-auto-erase" +
                      " --set Tevrin.Debug=1 --set Tevrin.DebugFile=" + prefix +
                      " --set Tevrin.DebugCount=2 program");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(SameImage(Flash(), image_));
  for (int i = 0; i < 2; ++i) {
    const Bytes block = ReadBytes(prefix + std::to_string(i));
    ASSERT_EQ(block.size(), 1124u);
    EXPECT_EQ(block[0], 4);
    // The same chunk both times: its address word and the file's next bytes.
    EXPECT_EQ(Bytes(block.begin() + 12, block.begin() + 16), (Bytes{0x00, 0x40, 0x00, 0x00}));
    EXPECT_EQ(Bytes(block.begin() + 100, block.end()),
              Bytes(data.begin() + 1024 * i, data.begin() + 1024 * (i + 1)));
  }
  EXPECT_FALSE(fs::exists(prefix + "2"));
}

// The target test's last step reads the device code of every chip.
struct DeviceCase {
  const char* name;
  int status;  // a wrong code fails the command
  unsigned chips;
  unsigned width;
  const char* board_id;
  const char* line;
};

class TargetTestEndToEnd : public FlashCommands, public ::testing::WithParamInterface<DeviceCase> {};

TEST_P(TargetTestEndToEnd, ReportsTheDeviceCode) {
  const DeviceCase& c = GetParam();
  flash_commands::Flash flash = kAm29LV160DB;
  std::string board = flash.board;
  board.replace(board.find("$2249"), 5, c.board_id);
  flash.board = board.c_str();
  Target t;
  t.flash = &flash;
  t.chips = c.chips;
  t.width = c.width;
  Prepare(t);
  const CliResult run = Cli("target-test");
  EXPECT_EQ(run.status, c.status) << run.out << run.err;
  EXPECT_TRUE(run.Has("Info: RAM test success.")) << run.out << run.err;
  EXPECT_TRUE(run.Has(c.line)) << run.out << run.err;
  EXPECT_TRUE(SameImage(Flash(), image_));
  // The chips left identifier mode: a host read sees the erased array.
  char line[64];
  std::snprintf(line, sizeof line, "Info: checksum completed, it is 0x%04X.",
                unsigned(SectorOffset(1) * 0xFF) & 0xFFFF);
  const CliResult sum = Cli("-s 1-1 checksum");
  EXPECT_TRUE(sum.Has(line)) << sum.out << sum.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TargetTestEndToEnd,
    ::testing::Values(
        DeviceCase{"Right", 0, 1, 16, "$2249", "Info: device code is 0x2249, target test success."},
        DeviceCase{"Wrong", 1, 1, 16, "$22C4",
                   "Info: device code is 0x2249, read value is 0x22C4, target test failed."},
        DeviceCase{"TwoChips", 0, 2, 16, "$2249",
                   "Info: device code is 0x2249, read value is 0x22492249, target test success."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FlashCommands, AnEraseThatNeverEndsTimesOut) {
  Target t;
  t.faults = "NoErase=1";
  Prepare(t, Pattern(0x200000, 6));
  WriteText(root_ / "profile.ini", "[Option]\nTimeOut=1\nResetCount=1\nRegChkPop=0\n");
  const CliResult run = Cli("-s 2-2 erase");
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  EXPECT_TRUE(run.Has("Error: time out, erase failed.")) << run.out << run.err;
  EXPECT_TRUE(SameImage(Flash(), image_));
}

}  // namespace
}  // namespace flash_commands
