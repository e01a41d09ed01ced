// The SST command set, the Intel write buffer, suspend and lock bits, the
// AMD persistent protection bits, and what every command set shares: a
// programmed 0 only comes back to 1 through an erase.
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "simboard/description/board_file.h"
#include "simboard/tests/board_test_support.h"
#include "simboard/tests/nor_bank.h"

namespace simboard {
namespace {

using testing::FlashBoardText;
using testing::FreshDirectory;
using testing::TestBoard;

// One chip at 0, `unit` bytes wide, with the SST and AMD sequences.
struct Chip : testing::Bank {
  Chip(TestBoard& board, unsigned unit) : Bank{board, unit, unit * 8} {}

  void Sst(std::uint8_t command) {
    Cmd(0x5555, 0xAA);
    Cmd(0x2AAA, 0x55);
    Cmd(0x5555, command);
  }
  // The six-cycle erases: 0x30 sector, 0x50 block (at `at`), 0x10 chip.
  void SstErase(std::uint32_t at, std::uint8_t command) {
    Sst(0x80);
    Cmd(0x5555, 0xAA);
    Cmd(0x2AAA, 0x55);
    Cmd(at, command);
  }
  void Amd(std::uint8_t command) {
    Unlock();
    Cmd(0x555, command);
  }
};

const std::string kSst16 =
    "CommandSet=SST\nManufacturerId=$BF\nDeviceId=$2782\nWidth=16\nSectors=512*4K\n"
    "ProgramTimeUs=14\nSectorEraseTimeMs=18\nChipEraseTimeMs=40\n";

TEST(SstFlash, SectorAndBlockEraseCoverFourAndSixtyFourKilobytes) {
  auto dir = FreshDirectory();
  TestBoard tb(FlashBoardText(kSst16), dir);
  ASSERT_TRUE(tb);
  Chip chip{tb, 2};
  // Words at 0, 4 KiB, 60 KiB and 64 KiB programmed to 0.
  for (std::uint32_t at : {0u, 0x800u, 0x7800u, 0x8000u}) {
    chip.Sst(0xA0);
    chip.Cmd(at, 0x0000);
    tb.Wait(14);
  }
  chip.SstErase(0x800, 0x30);  // the 4 KiB sector at 4 KiB
  EXPECT_EQ(chip.Get(0x800) & 0x80, 0u);  // DQ7 0 while erasing
  tb.Wait(18000);
  EXPECT_EQ(chip.Get(0), 0u);
  EXPECT_EQ(chip.Get(0x800), 0xFFFFu);
  EXPECT_EQ(chip.Get(0x7800), 0u);
  chip.SstErase(0x1234, 0x50);  // the 64 KiB block holding word 0x1234
  tb.Wait(18000);
  EXPECT_EQ(chip.Get(0), 0xFFFFu);
  EXPECT_EQ(chip.Get(0x7800), 0xFFFFu);
  EXPECT_EQ(chip.Get(0x8000), 0u);
}

TEST(SstFlash, StatusHasDataPollingAndToggleButNoTimeOutBit) {
  auto dir = FreshDirectory();
  TestBoard tb(FlashBoardText(kSst16, "Little", "[Faults]\nNoErase=1\nStuckBits=$10:1\n"), dir);
  ASSERT_TRUE(tb);
  Chip chip{tb, 2};
  chip.Sst(0xA0);
  chip.Cmd(0x8, 0x0000);  // bit 0 of word 8 is stuck
  std::uint32_t first = chip.Get(0x8);
  std::uint32_t second = chip.Get(0x8);
  EXPECT_EQ(first & 0x80, 0x80u);  // complement of the data's DQ7
  EXPECT_NE(first & 0x40, second & 0x40);
  tb.Wait(14);
  // The program ends anyway, with the stuck bit left 1: no DQ5 to say so.
  EXPECT_EQ(chip.Get(0x8), 0x0001u);
  // An erase that cannot finish toggles for ever without DQ5.
  chip.SstErase(0, 0x30);
  tb.Wait(10000000);
  for (int i = 0; i < 4; ++i) {
    std::uint32_t a = chip.Get(0);
    std::uint32_t b = chip.Get(0);
    EXPECT_NE(a & 0x40, b & 0x40);
    EXPECT_EQ((a | b) & 0xA0, 0u);
  }
}

TEST(SstFlash, SoftwareIdAndQueryLeaveByEitherExit) {
  auto dir = FreshDirectory();
  TestBoard tb(FlashBoardText(kSst16), dir);
  ASSERT_TRUE(tb);
  Chip chip{tb, 2};
  chip.Sst(0x90);
  EXPECT_EQ(chip.Get(0), 0xBFu);
  EXPECT_EQ(chip.Get(1), 0x2782u);
  chip.Sst(0xF0);
  EXPECT_EQ(chip.Get(1), 0xFFFFu);
  chip.Sst(0x98);
  EXPECT_EQ(chip.Get(0x10), 'Q');
  EXPECT_EQ(chip.Get(0x13), 0x01u);  // primary command set 0x0701
  EXPECT_EQ(chip.Get(0x14), 0x07u);
  chip.Cmd(0, 0xF0);
  EXPECT_EQ(chip.Get(0x10), 0xFFFFu);
  // Word-mode AMD addresses are not SST unlock cycles.
  chip.Amd(0x90);
  EXPECT_EQ(chip.Get(0), 0xFFFFu);
}

const std::string kIntelJ3 =
    "CommandSet=Intel\nManufacturerId=$89\nDeviceId=$18\nWidth=16\nSectors=16*128K\n"
    "ProgramTimeUs=20\nSectorEraseTimeMs=5\n";

TEST(IntelFlash, BufferedWritesProgramOneWindowOrReportTheSequenceError) {
  struct Case {
    const char* what;
    std::uint32_t count;       // the N-1 cycle
    std::uint32_t second_at;   // address of the second data cycle
    std::uint8_t confirm;
    std::uint8_t status;       // after the sequence, once ready
    bool written;
  };
  const Case cases[] = {
      {"two words", 1, 0x101, 0xD0, 0x80, true},
      {"more than the 16-word buffer", 16, 0x101, 0xD0, 0xB0, false},
      {"a second word outside the window", 1, 0x110, 0xD0, 0xB0, false},
      {"a second word in another block", 1, 0x10100, 0xD0, 0xB0, false},
      {"no confirm", 1, 0x101, 0xFF, 0xB0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto dir = FreshDirectory();
    TestBoard tb(FlashBoardText(kIntelJ3), dir);
    ASSERT_TRUE(tb);
    Chip chip{tb, 2};
    chip.Cmd(0x100, 0xE8);
    EXPECT_EQ(chip.Get(0x100) & 0x80, 0x80u);  // buffer available
    chip.Cmd(0x100, c.count);
    chip.Cmd(0x100, 0x1111);
    chip.Cmd(c.second_at, 0x2222);
    chip.Cmd(0x100, c.confirm);
    tb.Wait(1000);
    EXPECT_EQ(chip.Get(0), c.status);
    chip.Cmd(0, 0x50);
    chip.Cmd(0, 0xFF);
    EXPECT_EQ(chip.Get(0x100), c.written ? 0x1111u : 0xFFFFu);
    EXPECT_EQ(chip.Get(c.second_at), c.written ? 0x2222u : 0xFFFFu);
  }
}

TEST(IntelFlash, LockedBlockRefusesBufferedWriteWithLockAndProgramBits) {
  auto dir = FreshDirectory();
  TestBoard tb(FlashBoardText(kIntelJ3 + "LockedAtReset=1\n"), dir);
  ASSERT_TRUE(tb);
  Chip chip{tb, 2};
  chip.Cmd(0x100, 0xE8);
  chip.Cmd(0x100, 0);
  chip.Cmd(0x100, 0x1234);
  chip.Cmd(0x100, 0xD0);
  EXPECT_EQ(chip.Get(0), 0x92u);  // ready, SR4 program error, SR1 locked
  chip.Cmd(0, 0x50);
  chip.Cmd(0x100, 0x60);
  chip.Cmd(0x100, 0xD0);
  chip.Cmd(0x100, 0xE8);
  chip.Cmd(0x100, 0);
  chip.Cmd(0x100, 0x1234);
  chip.Cmd(0x100, 0xD0);
  tb.Wait(100);
  EXPECT_EQ(chip.Get(0), 0x80u);
  chip.Cmd(0, 0xFF);
  EXPECT_EQ(chip.Get(0x100), 0x1234u);
}

TEST(IntelFlash, EraseSuspendLetsOtherBlocksBeReadAndProgrammedThenResumes) {
  auto dir = FreshDirectory();
  TestBoard tb(FlashBoardText(kIntelJ3), dir);
  ASSERT_TRUE(tb);
  Chip chip{tb, 2};
  chip.Cmd(0x10000, 0x20);
  chip.Cmd(0x10000, 0xD0);  // a 5 ms erase of block 1
  tb.Wait(1000);
  EXPECT_EQ(chip.Get(0x10000) & 0x80, 0u);
  chip.Cmd(0, 0xB0);
  EXPECT_EQ(chip.Get(0), 0xC0u);  // ready, erase suspended
  // Another erase is a sequence error while one is suspended.
  chip.Cmd(0x20000, 0x20);
  EXPECT_EQ(chip.Get(0) & 0x30, 0x30u);
  chip.Cmd(0, 0x50);
  chip.Cmd(0, 0xFF);
  EXPECT_EQ(chip.Get(0x20), 0xFFFFu);
  chip.Cmd(0x20, 0x40);
  chip.Cmd(0x20, 0x0F0F);
  tb.Wait(20);
  EXPECT_EQ(chip.Get(0), 0xC0u);
  chip.Cmd(0, 0xD0);  // resume: 4 ms remain
  tb.Wait(3900);
  EXPECT_EQ(chip.Get(0) & 0xC0, 0x00u);
  tb.Wait(200);
  EXPECT_EQ(chip.Get(0), 0x80u);
  chip.Cmd(0, 0xFF);
  EXPECT_EQ(chip.Get(0x20), 0x0F0Fu);
  EXPECT_EQ(chip.Get(0x10000), 0xFFFFu);
  // A suspend after the erase ended changes nothing.
  chip.Cmd(0, 0xB0);
  EXPECT_EQ(chip.Get(0), 0x80u);
}

const std::string kS29Gl =
    "CommandSet=AMD\nManufacturerId=$01\nDeviceId=$227E\nWidth=16\nSectors=128*128K\n"
    "Image=flash.bin\nPersistentProtection=1\nProtectionImage=flash.ppb\n";

TEST(AmdFlash, ProtectionBitsRefuseWorkAndSurviveTheBoard) {
  auto dir = FreshDirectory();
  {
    TestBoard tb(FlashBoardText(kS29Gl), dir);
    ASSERT_TRUE(tb);
    Chip chip{tb, 2};
    chip.Amd(0xC0);
    chip.Cmd(0x10000, 0xA0);  // sector 2
    chip.Cmd(0x10000, 0x00);
    EXPECT_NE(chip.Get(0x10000) & 0x40, chip.Get(0x10000) & 0x40);  // DQ6 toggles
    tb.Wait(10);
    EXPECT_EQ(chip.Get(0x10000), 0x00u);  // DQ0 0: protected
    EXPECT_EQ(chip.Get(0x20000), 0x01u);
    chip.Cmd(0, 0x90);
    chip.Cmd(0, 0x00);
    EXPECT_EQ(chip.Get(0x10000), 0xFFFFu);
    // The query table names the protection scheme.
    chip.Cmd(0x55, 0x98);
    std::uint32_t primary = chip.Get(0x15);
    EXPECT_EQ(chip.Get(primary + 7), 0x01u);
    EXPECT_EQ(chip.Get(primary + 9), 0x08u);
    chip.Cmd(0, 0xF0);
  }
  TestBoard tb(FlashBoardText(kS29Gl), dir);
  ASSERT_TRUE(tb);
  Chip chip{tb, 2};
  chip.Amd(0x90);
  EXPECT_EQ(chip.Get(0x10002), 0x01u);
  EXPECT_EQ(chip.Get(0x20002), 0x00u);
  chip.Cmd(0, 0xF0);
  chip.Amd(0xA0);
  chip.Cmd(0x10004, 0x1234);
  tb.Wait(5);
  EXPECT_EQ(chip.Get(0x10004), 0xFFFFu);
  chip.Amd(0xA0);
  chip.Cmd(0x20004, 0x1234);
  tb.Wait(10);
  // A chip erase skips the protected sector.
  chip.Amd(0x80);
  chip.Amd(0x10);
  tb.Wait(20000);
  EXPECT_EQ(chip.Get(0x20004), 0xFFFFu);
  // Erasing all the bits unprotects it; a reset does not leave the set.
  chip.Amd(0xC0);
  chip.Cmd(0, 0xF0);
  chip.Cmd(0, 0x80);
  chip.Cmd(0, 0x30);
  tb.Wait(5000);
  EXPECT_EQ(chip.Get(0x10000), 0x01u);
  chip.Cmd(0, 0x90);
  chip.Cmd(0, 0x00);
  chip.Amd(0xA0);
  chip.Cmd(0x10004, 0x1234);
  tb.Wait(10);
  EXPECT_EQ(chip.Get(0x10004), 0x1234u);
}

TEST(NorBoardFile, CommandSetKeysAreCheckedAgainstTheSet) {
  struct Case {
    std::string keys;
    std::string error;  // empty: accepted
  };
  const std::string amd = "CommandSet=AMD\nManufacturerId=1\nDeviceId=1\nSectors=4*64K\n";
  const std::string sst = "CommandSet=SST\nManufacturerId=$BF\nDeviceId=$D7\nWidth=8\nSectors=16*4K\n";
  const Case cases[] = {
      {sst, ""},
      {sst + "ByteMode=1\n", "[Region2] ByteMode: SST chips have no byte mode"},
      {sst + "BlockSize=3K\n", "[Region2] BlockSize: must be 0 or a power of two of whole 8-bit words"},
      {amd + "BlockSize=64K\n", "[Region2] BlockSize: only SST chips have it"},
      {amd + "WriteBufferBytes=32\n", "[Region2] WriteBufferBytes: only Intel chips have it"},
      {amd + "ProtectionImage=p.bin\n", "[Region2] ProtectionImage: needs PersistentProtection=1"},
      {sst + "PersistentProtection=1\n", "[Region2] PersistentProtection: only AMD chips have it"},
  };
  for (const auto& c : cases) {
    std::string error;
    auto board = ParseBoardText(FlashBoardText(c.keys), "b.ini", error);
    EXPECT_EQ(board.has_value(), c.error.empty()) << c.keys;
    if (!c.error.empty()) {
      EXPECT_EQ(error, "b.ini: " + c.error);
    }
  }
}

TEST(FlashImage, WrongSizedProtectionImageIsRefused) {
  auto dir = FreshDirectory();
  std::ofstream(dir / "flash.ppb") << "xyz";
  std::ofstream(dir / "board.ini") << FlashBoardText(kS29Gl);
  std::string error;
  EXPECT_EQ(Board::Open(dir / "board.ini", error), nullptr);
  EXPECT_NE(error.find("flash.ppb is 3 bytes, not the 128 of 1 chip(s) of 128 sectors"),
            std::string::npos)
      << error;
}

// Another process cutting or rewriting the image while the board runs (an
// upload saved onto the board's own image file) neither crashes the board
// nor changes what it holds; the file shows the board's flash again when the
// board closes.
TEST(FlashImage, SurvivesItsFileBeingCutOrReplacedWhileTheBoardRuns) {
  enum class Outside { Truncate, ReplaceByRename, RewriteInPlace };
  for (Outside outside : {Outside::Truncate, Outside::ReplaceByRename, Outside::RewriteInPlace}) {
    SCOPED_TRACE(static_cast<int>(outside));
    auto dir = FreshDirectory();
    const std::string text = FlashBoardText(
        "CommandSet=AMD\nManufacturerId=1\nDeviceId=1\nWidth=16\nSectors=4*64K\nImage=flash.bin\n");
    {
      TestBoard tb(text, dir);
      ASSERT_TRUE(tb);
      Chip chip{tb, 2};
      chip.Amd(0xA0);
      chip.Cmd(0x10, 0x1234);
      tb.Wait(20);
      switch (outside) {
        case Outside::Truncate:
          std::filesystem::resize_file(dir / "flash.bin", 0);
          break;
        case Outside::ReplaceByRename:
          std::ofstream(dir / "other.bin", std::ios::binary) << "partial";
          std::filesystem::rename(dir / "other.bin", dir / "flash.bin");
          break;
        case Outside::RewriteInPlace:
          std::ofstream(dir / "flash.bin", std::ios::binary | std::ios::trunc) << "xy";
          break;
      }
      EXPECT_EQ(chip.Get(0x10), 0x1234u);
      EXPECT_EQ(chip.Get(0x7FFF), 0xFFFFu);
      chip.Amd(0xA0);
      chip.Cmd(0x7FFF, 0x5678);
      tb.Wait(20);
      EXPECT_EQ(chip.Get(0x7FFF), 0x5678u);
    }
    std::ifstream in(dir / "flash.bin", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 0x40000u);
    EXPECT_EQ(bytes.substr(0x20, 2), "\x34\x12");
    EXPECT_EQ(bytes.substr(0xFFFE, 2), "\x78\x56");
    EXPECT_EQ(bytes[0], '\xFF');
    EXPECT_FALSE(std::filesystem::exists(dir / "flash.bin.new"));
  }
}

TEST(FlashImage, ImageOfAnotherSizeIsRefusedAndLeftAlone) {
  for (std::size_t size : {2u, 0x3FFFFu, 0x40001u}) {
    auto dir = FreshDirectory();
    std::ofstream(dir / "flash.bin", std::ios::binary) << std::string(size, 'A');
    std::ofstream(dir / "board.ini") << FlashBoardText(
        "CommandSet=AMD\nManufacturerId=1\nDeviceId=1\nWidth=16\nSectors=4*64K\nImage=flash.bin\n");
    std::string error;
    EXPECT_EQ(Board::Open(dir / "board.ini", error), nullptr);
    EXPECT_EQ(error, "board.ini: [Region2] Image: " + (dir / "flash.bin").string() + " is " +
                         std::to_string(size) + " bytes, not the 262144 bytes of the memory it holds");
    EXPECT_EQ(std::filesystem::file_size(dir / "flash.bin"), size);
  }
}

// Every command set and width: a cell programmed to 0 and then "programmed"
// to 1 keeps its 0; only the bits asked to clear change.
TEST(FlashCells, ProgrammingNeverTurnsAZeroBackToOne) {
  struct Case {
    const char* set;
    unsigned width;
    void (*program)(Chip&, std::uint32_t at, std::uint32_t value);
  };
  auto jedec = [](Chip& chip, std::uint32_t at, std::uint32_t value) {
    chip.Amd(0xA0);
    chip.Cmd(at, value);
  };
  auto sst = [](Chip& chip, std::uint32_t at, std::uint32_t value) {
    chip.Sst(0xA0);
    chip.Cmd(at, value);
  };
  auto intel = [](Chip& chip, std::uint32_t at, std::uint32_t value) {
    chip.Cmd(at, 0x40);
    chip.Cmd(at, value);
  };
  auto intel_buffer = [](Chip& chip, std::uint32_t at, std::uint32_t value) {
    chip.Cmd(at, 0xE8);
    chip.Cmd(at, 0);
    chip.Cmd(at, value);
    chip.Cmd(at, 0xD0);
  };
  const Case cases[] = {
      {"AMD\nByteMode=0", 8, jedec}, {"AMD", 16, jedec},   {"AMD", 32, jedec},
      {"SST", 8, sst},               {"SST", 16, sst},     {"Intel\nByteMode=0", 8, intel},
      {"Intel", 16, intel},          {"Intel", 32, intel}, {"Intel", 16, intel_buffer},
      {"Intel", 32, intel_buffer},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.set) + " x" + std::to_string(c.width));
    auto dir = FreshDirectory();
    TestBoard tb(FlashBoardText(std::string("CommandSet=") + c.set + "\nManufacturerId=1\nDeviceId=1\n" +
                                "Width=" + std::to_string(c.width) + "\nSectors=4*64K\n"),
                 dir);
    ASSERT_TRUE(tb);
    Chip chip{tb, c.width / 8};
    std::uint32_t ones = c.width == 32 ? 0xFFFFFFFFu : (1u << c.width) - 1;
    std::uint32_t low = 0x0F0F0F0Fu & ones;
    auto settle = [&] {
      tb.Wait(100);
      chip.Cmd(0, 0x50);  // Intel: clear status (AMD and SST ignore it)
      chip.Cmd(0, std::string(c.set).rfind("Intel", 0) == 0 ? 0xFF : 0xF0);
    };
    c.program(chip, 0x40, 0);
    settle();
    c.program(chip, 0x40, ones);
    settle();
    EXPECT_EQ(chip.Get(0x40), 0u);
    c.program(chip, 0x44, low);
    settle();
    c.program(chip, 0x44, ~low & ones);
    settle();
    EXPECT_EQ(chip.Get(0x44), 0u);
  }
}

}  // namespace
}  // namespace simboard
