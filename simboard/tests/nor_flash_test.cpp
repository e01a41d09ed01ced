// The flash chips driven by the command sequences of their data sheets, as a
// loader or a debugger drives them over the bus.
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <vector>

#include <gtest/gtest.h>

#include "simboard/nor/nor_flash.h"
#include "simboard/tests/board_test_support.h"
#include "simboard/tests/nor_bank.h"

namespace simboard {
namespace {

using testing::Bank;
using testing::FlashBoardText;
using testing::FreshDirectory;
using testing::TestBoard;

// A 16-bit bottom-boot part: 16K, 2 x 8K, 32K, 31 x 64K.
const std::string kAmd16 =
    "CommandSet=AMD\nManufacturerId=$01\nDeviceId=$2249\nWidth=16\nChips=1\n"
    "Sectors=16K,8K,8K,32K,31*64K\nImage=flash.bin\nProgramTimeUs=10\n"
    "SectorEraseTimeMs=2\nChipEraseTimeMs=20\n";

const std::string kIntel16 =
    "CommandSet=Intel\nManufacturerId=$89\nDeviceId=$8896\nWidth=16\nChips=1\n"
    "Sectors=8*8K,63*64K\nImage=flash.bin\nProgramTimeUs=20\nSectorEraseTimeMs=5\n";

TEST(AmdFlash, AutoselectShowsCodesAndResetReturnsToArray) {
  auto dir = FreshDirectory();
  TestBoard tb(FlashBoardText(kAmd16), dir);
  ASSERT_TRUE(tb);
  Bank bank{tb, 2, 16};
  EXPECT_EQ(bank.Get(0), 0xFFFFu);
  bank.Unlock();
  bank.Cmd(0x555, 0x90);
  EXPECT_EQ(bank.Get(0x00), 0x0001u);
  EXPECT_EQ(bank.Get(0x01), 0x2249u);
  EXPECT_EQ(bank.Get(0x4000 + 0x02), 0x0000u);  // sector 1 not protected
  // The codes repeat through the chip (upper address lines not decoded).
  EXPECT_EQ(bank.Get(0x8000 + 0x01), 0x2249u);
  bank.Cmd(0, 0xF0);
  EXPECT_EQ(bank.Get(1), 0xFFFFu);
  // A wrong second unlock cycle leaves the chip reading the array.
  bank.Cmd(0x555, 0xAA);
  bank.Cmd(0x2AB, 0x55);
  bank.Cmd(0x555, 0x90);
  EXPECT_EQ(bank.Get(0), 0xFFFFu);
}

TEST(AmdFlash, ByteModeUsesByteAddressesForUnlockCodesAndQuery) {
  auto dir = FreshDirectory();
  std::string nor = kAmd16;
  nor.replace(nor.find("Width=16"), 8, "Width=8");
  TestBoard tb(FlashBoardText(nor), dir);
  ASSERT_TRUE(tb);
  // Word-mode addresses do nothing on the byte bus.
  tb.Write(0x555, 0xAA, AccessSize::Byte);
  tb.Write(0x2AA, 0x55, AccessSize::Byte);
  tb.Write(0x555, 0x90, AccessSize::Byte);
  EXPECT_EQ(tb.Read(0x02, AccessSize::Byte), 0xFFu);
  tb.Write(0xAAA, 0xAA, AccessSize::Byte);
  tb.Write(0x555, 0x55, AccessSize::Byte);
  tb.Write(0xAAA, 0x90, AccessSize::Byte);
  EXPECT_EQ(tb.Read(0x00, AccessSize::Byte), 0x01u);
  EXPECT_EQ(tb.Read(0x02, AccessSize::Byte), 0x49u);  // low byte of the device code
  tb.Write(0, 0xF0, AccessSize::Byte);
  tb.Write(0xAA, 0x98, AccessSize::Byte);
  EXPECT_EQ(tb.Read(0x20, AccessSize::Byte), 'Q');
  EXPECT_EQ(tb.Read(0x22, AccessSize::Byte), 'R');
  EXPECT_EQ(tb.Read(0x24, AccessSize::Byte), 'Y');
  EXPECT_EQ(tb.Read(0x50, AccessSize::Byte), 0x02u);  // interface: x8/x16
  // A plain x8 part takes 0x555/0x2AA on the byte bus.
  auto dir2 = FreshDirectory();
  TestBoard plain(FlashBoardText(nor + "ByteMode=0\n"), dir2);
  ASSERT_TRUE(plain);
  Bank bank{plain, 1, 8};
  bank.Unlock();
  bank.Cmd(0x555, 0x90);
  EXPECT_EQ(bank.Get(1), 0x49u);
  bank.Cmd(0, 0xF0);
  bank.Cmd(0x55, 0x98);
  EXPECT_EQ(bank.Get(0x10), 'Q');
  EXPECT_EQ(bank.Get(0x28), 0x00u);  // interface: x8 only
}

TEST(AmdFlash, ProgramPollsUntilDoneAndOnlyClearsBits) {
  auto dir = FreshDirectory();
  TestBoard tb(FlashBoardText(kAmd16), dir);
  ASSERT_TRUE(tb);
  Bank bank{tb, 2, 16};
  bank.Unlock();
  bank.Cmd(0x555, 0xA0);
  bank.Cmd(0x100, 0x1234);
  // Busy: DQ7 is the complement of the data's bit 7, DQ6 toggles, DQ5 low.
  std::uint32_t s1 = bank.Get(0x100), s2 = bank.Get(0x100);
  EXPECT_EQ(s1 & 0x80, 0x80u);  // 0x34 has bit 7 clear
  EXPECT_NE(s1 & 0x40, s2 & 0x40);
  EXPECT_EQ(s1 & 0x20, 0u);
  tb.Wait(9);
  EXPECT_NE(bank.Get(0x100), 0x1234u);
  tb.Wait(2);
  EXPECT_EQ(bank.Get(0x100), 0x1234u);
  EXPECT_EQ(tb.Byte(0x200), 0x34);
  EXPECT_EQ(tb.Byte(0x201), 0x12);
  EXPECT_EQ(tb.board().counters().bytes_programmed, 2u);

  // Programming a 1 over a 0 cannot succeed: DQ5 rises once the time is up,
  // the cell keeps its zeros, and only a reset returns to the array.
  bank.Unlock();
  bank.Cmd(0x555, 0xA0);
  bank.Cmd(0x100, 0x00FF);
  tb.Wait(20);
  std::uint32_t failed = bank.Get(0x100);
  EXPECT_EQ(failed & 0x20, 0x20u);
  EXPECT_EQ(failed & 0x80, 0x00u);  // still the complement of bit 7 of 0xFF
  bank.Cmd(0, 0xF0);
  EXPECT_EQ(bank.Get(0x100), 0x0034u);

  // Unlock bypass: two-cycle programming until the exit sequence.
  bank.Unlock();
  bank.Cmd(0x555, 0x20);
  for (std::uint32_t i = 0; i < 4; ++i) {
    bank.Cmd(0, 0xA0);
    bank.Cmd(0x200 + i, 0xA500 + i);
    tb.Wait(10);
  }
  bank.Cmd(0, 0x90);
  bank.Cmd(0, 0x00);
  for (std::uint32_t i = 0; i < 4; ++i) EXPECT_EQ(bank.Get(0x200 + i), 0xA500 + i);
}

TEST(AmdFlash, SectorEraseCollectsSectorsAndShowsEraseStatus) {
  auto dir = FreshDirectory();
  TestBoard tb(FlashBoardText(kAmd16), dir);
  ASSERT_TRUE(tb);
  Bank bank{tb, 2, 16};
  std::vector<std::uint8_t> zeros(0x30000, 0x00);
  ASSERT_TRUE(tb.board().Poke(0, static_cast<std::uint32_t>(zeros.size()), zeros.data()));
  // Erase sector 1 (8K at 0x4000) and sector 4 (64K at 0x10000).
  bank.Unlock();
  bank.Cmd(0x555, 0x80);
  bank.Unlock();
  bank.Cmd(0x4000 / 2, 0x30);
  bank.Cmd(0x10000 / 2, 0x30);  // within the 50 us window: added
  std::uint32_t in_window = bank.Get(0x4000 / 2);
  EXPECT_EQ(in_window & 0x88, 0x00u);  // DQ7 0 while erasing, DQ3 0: more sectors may come
  tb.Wait(60);
  std::uint32_t a = bank.Get(0x4000 / 2), b = bank.Get(0x4000 / 2);
  EXPECT_EQ(a & 0x08, 0x08u);  // DQ3: the erase has begun
  EXPECT_NE(a & 0x04, b & 0x04);  // DQ2 toggles in an erasing sector
  std::uint32_t c = bank.Get(0), d = bank.Get(0);
  EXPECT_EQ(c & 0x04, d & 0x04);  // and not elsewhere
  EXPECT_NE(c & 0x40, d & 0x40);  // DQ6 toggles everywhere
  tb.Wait(3900);  // two sectors take 4 ms
  EXPECT_EQ(bank.Get(0x4000 / 2) & 0x80, 0u);
  tb.Wait(100);
  EXPECT_EQ(bank.Get(0x4000 / 2), 0xFFFFu);
  EXPECT_EQ(tb.Byte(0x3FFF), 0x00);  // sector 0 untouched
  EXPECT_EQ(tb.Byte(0x4000), 0xFF);
  EXPECT_EQ(tb.Byte(0x5FFF), 0xFF);
  EXPECT_EQ(tb.Byte(0x6000), 0x00);  // sector 2 untouched
  EXPECT_EQ(tb.Byte(0x10000), 0xFF);
  EXPECT_EQ(tb.Byte(0x1FFFF), 0xFF);
  EXPECT_EQ(tb.Byte(0x20000), 0x00);
  EXPECT_EQ(tb.board().counters().sectors_erased, 2u);

  // A command other than another sector within the window abandons the erase.
  bank.Unlock();
  bank.Cmd(0x555, 0x80);
  bank.Unlock();
  bank.Cmd(0, 0x30);
  bank.Cmd(0, 0xF0);
  tb.Wait(5000);
  EXPECT_EQ(bank.Get(0), 0x0000u);
}

TEST(AmdFlash, ChipEraseTakesItsTimeAndErasesEverything) {
  auto dir = FreshDirectory();
  TestBoard tb(FlashBoardText(kAmd16), dir);
  ASSERT_TRUE(tb);
  Bank bank{tb, 2, 16};
  std::uint8_t zero[2] = {0, 0};
  ASSERT_TRUE(tb.board().Poke(0x1FFFFE, 2, zero));
  bank.Unlock();
  bank.Cmd(0x555, 0x80);
  bank.Unlock();
  bank.Cmd(0x555, 0x10);
  tb.Wait(19000);
  EXPECT_EQ(bank.Get(0) & 0x80, 0u);
  tb.Wait(1001);
  EXPECT_EQ(bank.Get(0xFFFFF), 0xFFFFu);
  EXPECT_EQ(tb.board().counters().sectors_erased, 35u);
}

TEST(AmdFlash, CfiTableDescribesTheChip) {
  auto dir = FreshDirectory();
  TestBoard tb(FlashBoardText(kAmd16), dir);
  ASSERT_TRUE(tb);
  Bank bank{tb, 2, 16};
  bank.Cmd(0x55, 0x98);
  EXPECT_EQ(bank.Get(0x10), 'Q');
  EXPECT_EQ(bank.Get(0x11), 'R');
  EXPECT_EQ(bank.Get(0x12), 'Y');
  EXPECT_EQ(bank.Get(0x13) | bank.Get(0x14) << 8, 0x0002u);  // AMD command set
  std::uint32_t p = bank.Get(0x15) | bank.Get(0x16) << 8;
  EXPECT_EQ(bank.Get(0x1F), 4u);   // 10 us program: 2^4 typical
  EXPECT_EQ(bank.Get(0x21), 1u);   // 2 ms sector erase
  EXPECT_EQ(bank.Get(0x22), 5u);   // 20 ms chip erase: 2^5
  EXPECT_EQ(bank.Get(0x27), 21u);  // 2 MB
  EXPECT_EQ(bank.Get(0x28), 2u);   // x8/x16
  ASSERT_EQ(bank.Get(0x2C), 4u);
  const std::uint32_t regions[4][2] = {{1, 0x40}, {2, 0x20}, {1, 0x80}, {31, 0x100}};
  for (unsigned i = 0; i < 4; ++i) {
    std::uint32_t base = 0x2D + 4 * i;
    EXPECT_EQ((bank.Get(base) | bank.Get(base + 1) << 8) + 1, regions[i][0]) << i;
    EXPECT_EQ(bank.Get(base + 2) | bank.Get(base + 3) << 8, regions[i][1]) << i;
  }
  EXPECT_EQ(bank.Get(p), 'P');
  EXPECT_EQ(bank.Get(p + 1), 'R');
  EXPECT_EQ(bank.Get(p + 2), 'I');
  EXPECT_EQ(bank.Get(p + 15), 0x02u);  // bottom boot
  bank.Cmd(0, 0xF0);
  EXPECT_EQ(bank.Get(0x10), 0xFFFFu);

  // Entered from autoselect, the query returns to autoselect on reset.
  bank.Unlock();
  bank.Cmd(0x555, 0x90);
  bank.Cmd(0x55, 0x98);
  EXPECT_EQ(bank.Get(0x10), 'Q');
  bank.Cmd(0, 0xF0);
  EXPECT_EQ(bank.Get(0x01), 0x2249u);
}

TEST(AmdFlash, TopBootTableListsRegionsFromTheBootSectorsUp) {
  NorDescription chip;
  chip.command_set = CommandSet::AMD;
  chip.sectors.assign(31, 0x10000);
  chip.sectors.insert(chip.sectors.end(), {0x8000, 0x2000, 0x2000, 0x4000});
  auto t = BuildCfiTable(chip);
  EXPECT_EQ(t[0x2C], 4);
  EXPECT_EQ(t[0x2F] | t[0x30] << 8, 0x40);   // 16K first
  EXPECT_EQ(t[0x3B] | t[0x3C] << 8, 0x100);  // 64K last
  EXPECT_EQ(t[0x39], 30);                    // 31 of them
  EXPECT_EQ(t[0x40 + 15], 0x03);             // top boot
  chip.command_set = CommandSet::Intel;
  t = BuildCfiTable(chip);
  EXPECT_EQ(t[0x13], 0x01);
  EXPECT_EQ(t[0x2F] | t[0x30] << 8, 0x100);  // Intel lists in address order
  std::size_t p = t[0x15];
  EXPECT_EQ(p, 0x3Du);
  EXPECT_EQ(t[p], 'P');
}

TEST(IntelFlash, IdentifierStatusProgramAndErase) {
  auto dir = FreshDirectory();
  TestBoard tb(FlashBoardText(kIntel16), dir);
  ASSERT_TRUE(tb);
  Bank bank{tb, 2, 16};
  bank.Cmd(0, 0x90);
  EXPECT_EQ(bank.Get(0), 0x0089u);
  EXPECT_EQ(bank.Get(1), 0x8896u);
  EXPECT_EQ(bank.Get(0x1000 + 2), 0x0000u);  // block 1 unlocked
  bank.Cmd(0, 0xFF);
  EXPECT_EQ(bank.Get(0), 0xFFFFu);

  bank.Cmd(0x10, 0x40);
  bank.Cmd(0x10, 0x5AA5);
  EXPECT_EQ(bank.Get(0x10) & 0x80, 0u);  // SR7: busy
  tb.Wait(20);
  EXPECT_EQ(bank.Get(0x10), 0x0080u);  // ready, no errors
  bank.Cmd(0, 0xFF);
  EXPECT_EQ(bank.Get(0x10), 0x5AA5u);

  // Block erase of block 0 (8K); block 1 keeps its data.
  std::uint8_t zero[2] = {0, 0};
  ASSERT_TRUE(tb.board().Poke(0x2000, 2, zero));
  bank.Cmd(0x10, 0x20);
  bank.Cmd(0x10, 0xD0);
  tb.Wait(4990);
  EXPECT_EQ(bank.Get(0) & 0x80, 0u);
  tb.Wait(20);
  EXPECT_EQ(bank.Get(0), 0x0080u);
  bank.Cmd(0, 0xFF);
  EXPECT_EQ(bank.Get(0x10), 0xFFFFu);
  EXPECT_EQ(bank.Get(0x1000), 0x0000u);

  // A bad erase confirm is a command sequence error (SR4 and SR5), cleared
  // by clear status.
  bank.Cmd(0, 0x20);
  bank.Cmd(0, 0xFF);
  EXPECT_EQ(bank.Get(0), 0x00B0u);
  bank.Cmd(0, 0x50);
  EXPECT_EQ(bank.Get(0), 0x0080u);
  bank.Cmd(0, 0xFF);

  // Query.
  bank.Cmd(0x55, 0x98);
  EXPECT_EQ(bank.Get(0x10), 'Q');
  EXPECT_EQ(bank.Get(0x13), 0x01u);
  EXPECT_EQ(bank.Get(0x27), 22u);  // 4 MB
  EXPECT_EQ(bank.Get(0x2C), 2u);
  EXPECT_EQ(bank.Get(0x2D) + 1, 8u);
  EXPECT_EQ(bank.Get(0x2F), 0x20u);
  EXPECT_EQ(bank.Get(0x31), 62u);
}

TEST(IntelFlash, LockedBlocksRefuseProgramAndErase) {
  auto dir = FreshDirectory();
  TestBoard tb(FlashBoardText(kIntel16 + "LockedAtReset=1\n"), dir);
  ASSERT_TRUE(tb);
  Bank bank{tb, 2, 16};
  bank.Cmd(0, 0x90);
  EXPECT_EQ(bank.Get(2), 0x0001u);
  bank.Cmd(0, 0x40);
  bank.Cmd(0, 0x1234);
  EXPECT_EQ(bank.Get(0), 0x0092u);  // SR7, SR4 program error, SR1 locked
  bank.Cmd(0, 0x50);
  bank.Cmd(0, 0x20);
  bank.Cmd(0, 0xD0);
  EXPECT_EQ(bank.Get(0), 0x00A2u);  // SR5 erase error, SR1
  bank.Cmd(0, 0x50);
  // Unlock block 0 only; block 1 stays locked.
  bank.Cmd(0, 0x60);
  bank.Cmd(0, 0xD0);
  bank.Cmd(0, 0x90);
  EXPECT_EQ(bank.Get(2), 0x0000u);
  EXPECT_EQ(bank.Get(0x1000 + 2), 0x0001u);
  bank.Cmd(0, 0x40);
  bank.Cmd(0, 0x1234);
  tb.Wait(20);
  EXPECT_EQ(bank.Get(0), 0x0080u);
  bank.Cmd(0, 0xFF);
  EXPECT_EQ(bank.Get(0), 0x1234u);
  // Lock-down: unlock no longer works.
  bank.Cmd(0, 0x60);
  bank.Cmd(0, 0x2F);
  bank.Cmd(0, 0x60);
  bank.Cmd(0, 0xD0);
  bank.Cmd(0, 0x90);
  EXPECT_EQ(bank.Get(2), 0x0003u);
  // The reset line relocks everything (volatile locks).
  tb.board().Reset();
  bank.Cmd(0, 0x90);
  EXPECT_EQ(bank.Get(0x1000 + 2), 0x0001u);

  // A part whose unlock clears every block at once.
  auto dir2 = FreshDirectory();
  TestBoard all(FlashBoardText(kIntel16 + "LockedAtReset=1\nUnlockClearsAll=1\n"), dir2);
  ASSERT_TRUE(all);
  Bank b2{all, 2, 16};
  b2.Cmd(0, 0x60);
  b2.Cmd(0, 0xD0);
  b2.Cmd(0, 0x90);
  EXPECT_EQ(b2.Get(0x1000 + 2), 0x0000u);
  EXPECT_EQ(b2.Get(0x20000 + 2), 0x0000u);
}

TEST(FlashBank, TwoChipsSideBySideEachKeepTheirOwnState) {
  auto dir = FreshDirectory();
  std::string nor = kAmd16;
  nor.replace(nor.find("Chips=1"), 7, "Chips=2");
  TestBoard tb(FlashBoardText(nor), dir);
  ASSERT_TRUE(tb);
  EXPECT_EQ(tb.board().RegionAt(0)->size(), 0x400000u);
  Bank bank{tb, 4, 16};
  bank.Unlock();
  bank.Cmd(0x555, 0x90);
  EXPECT_EQ(bank.Get(0), 0x00010001u);
  EXPECT_EQ(bank.Get(1), 0x22492249u);
  bank.Cmd(0, 0xF0);
  // Program both chips in one bus cycle; the data reach each on its lanes.
  bank.Unlock();
  bank.Cmd(0x555, 0xA0);
  tb.Write(0x40, 0x11223344, AccessSize::Word);
  tb.Wait(10);
  EXPECT_EQ(tb.Read(0x40, AccessSize::Word), 0x11223344u);
  // Commands to the low chip only: the high chip still reads its array.
  tb.Write(0x555 * 4, 0xAA, AccessSize::Half);
  tb.Write(0x2AA * 4, 0x55, AccessSize::Half);
  tb.Write(0x555 * 4, 0x90, AccessSize::Half);
  EXPECT_EQ(tb.Read(0x4, AccessSize::Word), 0xFFFF2249u);
  bank.Cmd(0, 0xF0);
  // Sector erase in chip 1 only: status on its lanes, data on the others.
  std::uint8_t zeros[8] = {};
  ASSERT_TRUE(tb.board().Poke(0x8000, 8, zeros));  // chip sector 1 starts at 0x4000 in each chip
  tb.Write(0x555 * 4 + 2, 0xAA, AccessSize::Half);
  tb.Write(0x2AA * 4 + 2, 0x55, AccessSize::Half);
  tb.Write(0x555 * 4 + 2, 0x80, AccessSize::Half);
  tb.Write(0x555 * 4 + 2, 0xAA, AccessSize::Half);
  tb.Write(0x2AA * 4 + 2, 0x55, AccessSize::Half);
  tb.Write(0x8000 + 2, 0x30, AccessSize::Half);
  std::uint32_t mixed = tb.Read(0x8000, AccessSize::Word);
  EXPECT_EQ(mixed & 0xFFFF, 0x0000u);          // chip 0: its (zero) data
  EXPECT_EQ(mixed >> 16 & 0x80, 0x00u);        // chip 1: DQ7 low while erasing
  tb.Wait(2100);
  EXPECT_EQ(tb.Read(0x8000, AccessSize::Word), 0xFFFF0000u);
}

TEST(FlashBank, FourByteChipsOnABigEndianBus) {
  auto dir = FreshDirectory();
  std::string nor =
      "CommandSet=AMD\nManufacturerId=$01\nDeviceId=$A4\nWidth=8\nByteMode=0\nChips=4\n"
      "Sectors=8*64K\nImage=flash.bin\nProgramTimeUs=10\n";
  TestBoard tb(FlashBoardText(nor, "Big"), dir);
  ASSERT_TRUE(tb);
  Bank bank{tb, 4, 8};
  bank.Unlock();
  bank.Cmd(0x555, 0x90);
  EXPECT_EQ(bank.Get(0), 0x01010101u);
  EXPECT_EQ(bank.Get(1), 0xA4A4A4A4u);
  bank.Cmd(0, 0xF0);
  bank.Unlock();
  bank.Cmd(0x555, 0xA0);
  tb.Write(0x100, 0x11223344, AccessSize::Word);
  tb.Wait(10);
  EXPECT_EQ(tb.Read(0x100, AccessSize::Word), 0x11223344u);
  // Byte i of the image is the byte at Base + i: big-endian order.
  tb.board().Settle();
  std::ifstream image(dir / "flash.bin", std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(image)), std::istreambuf_iterator<char>());
  ASSERT_EQ(bytes.size(), 0x200000u);
  EXPECT_EQ(static_cast<std::uint8_t>(bytes[0x100]), 0x11);
  EXPECT_EQ(static_cast<std::uint8_t>(bytes[0x103]), 0x44);
  EXPECT_EQ(tb.Read(0x100, AccessSize::Half), 0x1122u);
  EXPECT_EQ(tb.Read(0x103, AccessSize::Byte), 0x44u);
}

TEST(FlashBank, ThirtyTwoBitIntelChipTakesWordCycles) {
  auto dir = FreshDirectory();
  std::string nor = kIntel16;
  nor.replace(nor.find("Width=16"), 8, "Width=32");
  nor.replace(nor.find("DeviceId=$8896"), 14, "DeviceId=$00188896");
  TestBoard tb(FlashBoardText(nor), dir);
  ASSERT_TRUE(tb);
  EXPECT_EQ(tb.board().RegionAt(0)->size(), 0x400000u);
  Bank bank{tb, 4, 32};
  bank.Cmd(0, 0x90);
  EXPECT_EQ(bank.Get(1), 0x00188896u);
  bank.Cmd(0, 0x98);
  EXPECT_EQ(bank.Get(0x28), 0x03u);  // x32 only
  bank.Cmd(0, 0x40);
  bank.Cmd(0x20, 0xDEADBEEF);
  tb.Wait(20);
  bank.Cmd(0, 0xFF);
  EXPECT_EQ(bank.Get(0x20), 0xDEADBEEFu);
  // A halfword write drives half the chip's lines; the rest float high.
  bank.Cmd(0, 0x40);
  tb.Write(0x84, 0x1234, AccessSize::Half);
  tb.Wait(20);
  bank.Cmd(0, 0xFF);
  EXPECT_EQ(bank.Get(0x21), 0xFFFF1234u);
}

TEST(FlashBank, BigEndianSixteenBitChipTakesCommandsOnItsLowLanes) {
  auto dir = FreshDirectory();
  TestBoard tb(FlashBoardText(kAmd16, "Big"), dir);
  ASSERT_TRUE(tb);
  Bank bank{tb, 2, 16};
  bank.Unlock();
  bank.Cmd(0x555, 0xA0);
  bank.Cmd(0x10, 0xA1B2);
  tb.Wait(10);
  EXPECT_EQ(tb.Byte(0x20), 0xA1);
  EXPECT_EQ(tb.Byte(0x21), 0xB2);
  EXPECT_EQ(tb.Read(0x20, AccessSize::Byte), 0xA1u);
}

TEST(FlashImage, WrittenThroughAndSeenByASecondBoard) {
  auto dir = FreshDirectory();
  std::string text = FlashBoardText(kAmd16);
  // An empty image is a new one: it starts erased.
  std::ofstream(dir / "flash.bin", std::ios::binary).close();
  TestBoard first(text, dir);
  ASSERT_TRUE(first);
  EXPECT_EQ(std::filesystem::file_size(dir / "flash.bin"), 0x200000u);
  EXPECT_EQ(first.Read(0), 0xFFFFu);
  Bank bank{first, 2, 16};
  bank.Unlock();
  bank.Cmd(0x555, 0xA0);
  bank.Cmd(0x800, 0xBEEF);
  first.Wait(10);
  // Once settled, a second board on the same image sees the data while the
  // first lives.
  first.board().Settle();
  TestBoard second(text, dir);
  ASSERT_TRUE(second);
  EXPECT_EQ(second.Read(0x1000), 0xBEEFu);
  // A plain read of the file sees it too.
  std::ifstream image(dir / "flash.bin", std::ios::binary);
  image.seekg(0x1000);
  char b[2];
  image.read(b, 2);
  EXPECT_EQ(static_cast<std::uint8_t>(b[0]), 0xEF);
  EXPECT_EQ(static_cast<std::uint8_t>(b[1]), 0xBE);
}

TEST(FlashFaults, StuckBitsFailProgrammingAndNoEraseNeverCompletes) {
  auto dir = FreshDirectory();
  TestBoard tb(FlashBoardText(kAmd16, "Little", "[Faults]\nStuckBits=$100:$0101\nNoErase=1\n"), dir);
  ASSERT_TRUE(tb);
  Bank bank{tb, 2, 16};
  bank.Unlock();
  bank.Cmd(0x555, 0xA0);
  bank.Cmd(0x80, 0x0000);
  tb.Wait(20);
  EXPECT_EQ(bank.Get(0x80) & 0x20, 0x20u);  // DQ5: the program did not verify
  bank.Cmd(0, 0xF0);
  EXPECT_EQ(bank.Get(0x80), 0x0101u);
  // A neighbour programs normally.
  bank.Unlock();
  bank.Cmd(0x555, 0xA0);
  bank.Cmd(0x81, 0x0000);
  tb.Wait(20);
  EXPECT_EQ(bank.Get(0x81), 0x0000u);
  // The erase runs out of time: DQ5 high, DQ7 still low, contents kept.
  bank.Unlock();
  bank.Cmd(0x555, 0x80);
  bank.Unlock();
  bank.Cmd(0, 0x30);
  tb.Wait(10000);
  std::uint32_t status = bank.Get(0);
  EXPECT_EQ(status & 0xA0, 0x20u);
  bank.Cmd(0, 0xF0);
  EXPECT_EQ(bank.Get(0x81), 0x0000u);

  // A chip that never finishes: still busy long after, with no time-out bit,
  // for a sector and for the whole chip.
  for (const std::uint32_t last : {0x30u, 0x10u}) {
    auto hung_dir = FreshDirectory();
    TestBoard hung(FlashBoardText(kAmd16, "Little", "[Faults]\nEraseNeverEnds=1\n"), hung_dir);
    ASSERT_TRUE(hung);
    Bank hb{hung, 2, 16};
    hb.Unlock();
    hb.Cmd(0x555, 0x80);
    hb.Unlock();
    hb.Cmd(last == 0x30 ? 0 : 0x555, last);
    hung.Wait(100000);
    const std::uint32_t first = hb.Get(0);
    EXPECT_EQ(first & 0xA0, 0x00u) << "DQ7 low, DQ5 clear";
    EXPECT_NE(hb.Get(0) & 0x40, first & 0x40) << "DQ6 still toggles";
  }

  auto dir2 = FreshDirectory();
  TestBoard intel(FlashBoardText(kIntel16, "Little", "[Faults]\nNoErase=1\nStuckBits=$10:$8000\n"), dir2);
  ASSERT_TRUE(intel);
  Bank ib{intel, 2, 16};
  // The state machine reports the bit it could not clear as a program error.
  ib.Cmd(8, 0x40);
  ib.Cmd(8, 0x7FFF);
  intel.Wait(20);
  EXPECT_EQ(ib.Get(8), 0x0090u);
  ib.Cmd(0, 0x50);
  ib.Cmd(0, 0xFF);
  EXPECT_EQ(ib.Get(8), 0xFFFFu);
  // Clearing other bits of that word works.
  ib.Cmd(8, 0x40);
  ib.Cmd(8, 0x80FF);
  intel.Wait(20);
  EXPECT_EQ(ib.Get(8), 0x0080u);
  ib.Cmd(0, 0xFF);
  EXPECT_EQ(ib.Get(8), 0x80FFu);
  ib.Cmd(0, 0x20);
  ib.Cmd(0, 0xD0);
  intel.Wait(1000000);
  EXPECT_EQ(ib.Get(0) & 0x80, 0u);  // SR7 never comes
}

TEST(FlashTiming, BusyTimesCountInCoreCyclesAtTheBoardClock) {
  auto dir = FreshDirectory();
  std::string text = FlashBoardText(kAmd16);
  text.replace(text.find("ClockKHz=20000"), 14, "ClockKHz=1000");
  TestBoard tb(text, dir);
  ASSERT_TRUE(tb);
  Bank bank{tb, 2, 16};
  bank.Unlock();
  bank.Cmd(0x555, 0xA0);
  bank.Cmd(0, 0x0000);
  // 10 us at 1 MHz is 10 cycles.
  tb.board().AdvanceTime(9);
  EXPECT_NE(bank.Get(0), 0x0000u);
  tb.board().AdvanceTime(1);
  EXPECT_EQ(bank.Get(0), 0x0000u);
  Counters counters = tb.board().counters();
  EXPECT_EQ(counters.flash_writes, 4u);
  EXPECT_EQ(counters.flash_reads, 2u);
}

}  // namespace
}  // namespace simboard
