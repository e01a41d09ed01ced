// The board file, the bus over its regions, time and counters.
#include <algorithm>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "simboard/board/board.h"
#include "simboard/tests/board_test_support.h"

namespace simboard {
namespace {

using testing::FreshDirectory;
using testing::TestBoard;

const char kBoardHeader[] = "[Board]\nCore=ARM7TDMI\n";

std::string ErrorOf(const std::string& text) {
  std::string error;
  auto board = ParseBoardText(text, "/boards/b.ini", error);
  EXPECT_FALSE(board) << "accepted:\n" << text;
  return error;
}

TEST(BoardFile, ReadsTheDocumentedKeysAndNumberForms) {
  std::string error;
  auto board = ParseBoardText(
      "[Board]\nCore=arm9tdmi\nEndian=Big ; comment\nIdCode=0x1F0F0F0F\nProbe=harrier\n"
      "PortBase=$278\nTiming=RealTime\nClockKHz=40000\nRunBudget=5000\n"
      "[Region1]\nKind=RAM\nBase=$0C000000\nSize=1M\n"
      "[Region2]\nKind=IO\nBase=0xFFE00000\nSize=$1000\n"
      "[Region3]\nKind=NOR\nBase=16777216\nCommandSet=intel\nManufacturerId=$89\nDeviceId=$16\n"
      "Width=8\nChips=2\nSectors=2*4K,8K,3*16K\nImage=f.bin\n"
      "[Faults]\nStuckBits=$01000010:$0F0F, $01000000:1\nNoErase=1\n",
      "/boards/b.ini", error);
  ASSERT_TRUE(board) << error;
  EXPECT_EQ(board->core, CoreKind::ARM9TDMI);
  EXPECT_TRUE(board->big_endian);
  EXPECT_EQ(board->id_code, 0x1F0F0F0Fu);
  EXPECT_EQ(board->probe, "harrier");
  EXPECT_EQ(board->port_base, 0x278u);
  EXPECT_EQ(board->timing, TimingMode::RealTime);
  EXPECT_EQ(board->clock_khz, 40000u);
  EXPECT_EQ(board->run_budget, 5000u);
  ASSERT_EQ(board->regions.size(), 3u);
  EXPECT_EQ(board->regions[0].size, 0x100000u);
  EXPECT_EQ(board->regions[1].kind, RegionKind::IO);
  EXPECT_EQ(board->regions[1].base, 0xFFE00000u);
  const auto& nor = board->regions[2];
  EXPECT_EQ(nor.base, 0x01000000u);
  EXPECT_EQ(nor.nor.command_set, CommandSet::Intel);
  EXPECT_EQ(nor.nor.sectors, (std::vector<std::uint32_t>{0x1000, 0x1000, 0x2000, 0x4000, 0x4000, 0x4000}));
  EXPECT_EQ(nor.size, 2u * 0x10000u);
  EXPECT_EQ(nor.nor.image, std::filesystem::path("/boards/f.bin"));
  ASSERT_EQ(board->faults.stuck_bits.size(), 2u);
  EXPECT_EQ(board->faults.stuck_bits[0].mask, 0x0F0Fu);
  EXPECT_TRUE(board->faults.no_erase);

  // Defaults.
  board = ParseBoardText("[Board]\n", "b.ini", error);
  ASSERT_TRUE(board) << error;
  EXPECT_EQ(board->core, CoreKind::ARM7TDMI);
  EXPECT_FALSE(board->big_endian);
  EXPECT_EQ(board->timing, TimingMode::Deterministic);
  EXPECT_EQ(board->clock_khz, 20000u);
  EXPECT_EQ(board->run_budget, 100000000u);
}

TEST(BoardFile, WrongFilesAreRefusedNamingTheKey) {
  std::string ram1 = "[Region1]\nKind=RAM\nBase=$0C000000\nSize=1M\n";
  EXPECT_EQ(ErrorOf(std::string(kBoardHeader) + ram1 + "[Region2]\nKind=RAM\nBase=$0C080000\nSize=1M\n"),
            "b.ini: [Region2] Base: the region overlaps [Region1]");
  EXPECT_EQ(ErrorOf(std::string(kBoardHeader) + "[Region1]\nKind=SDRAM\nBase=0\nSize=1M\n"),
            "b.ini: [Region1] Kind: \"SDRAM\" is not one of RAM, IO, NOR, LPC, SAM7, STR71x or NAND");
  std::string nor = "[Region1]\nKind=NOR\nBase=0\nCommandSet=AMD\nManufacturerId=1\nDeviceId=$2249\n";
  EXPECT_EQ(ErrorOf(std::string(kBoardHeader) + nor + "Sectors=16K,8K,8K,32K,30*64K\n"),
            "b.ini: [Region1] Sectors: the sectors add up to 0x1F0000 bytes, not a power of two as "
            "a chip's size");
  EXPECT_EQ(ErrorOf(std::string(kBoardHeader) + nor + "Sectors=4*64K\nSize=512K\n"),
            "b.ini: [Region1] Sectors: the sectors of 1 chip(s) make 0x40000 bytes, not the "
            "region's Size 512K");
  std::string zigzag;
  for (int i = 0; i < 128; ++i) zigzag += "1K,2K,";
  EXPECT_EQ(ErrorOf(std::string(kBoardHeader) + nor + "Sectors=" + zigzag + "4K\n"),
            "b.ini: [Region1] Sectors: more than 255 runs of equal sector sizes, which the query "
            "table cannot describe");
  EXPECT_EQ(ErrorOf(std::string(kBoardHeader) + nor + "Sectors=4*64K,x\n"),
            "b.ini: [Region1] Sectors: bad sector size \"x\"");
  EXPECT_EQ(ErrorOf(std::string(kBoardHeader) + nor + "Sectors=4*64K,2\nWidth=32\n"),
            "b.ini: [Region1] Sectors: sector size 0x2 is not a whole number of 32-bit words");
  EXPECT_EQ(ErrorOf(std::string(kBoardHeader) +
                    "[Region1]\nKind=NOR\nBase=$1002\nCommandSet=AMD\nManufacturerId=1\n"
                    "DeviceId=1\nWidth=16\nChips=2\nSectors=4*64K\n"),
            "b.ini: [Region1] Base: not aligned to the 32-bit bus of the chips");
  EXPECT_EQ(ErrorOf(std::string(kBoardHeader) + nor + "Sectors=4*64K\nWidth=12\n"),
            "b.ini: [Region1] Width: must be 8, 16 or 32");
  EXPECT_EQ(ErrorOf(std::string(kBoardHeader) + nor + "Sectors=4*64K\nChips=3\n"),
            "b.ini: [Region1] Chips: must be 1, 2 or 4");
  EXPECT_EQ(ErrorOf(std::string(kBoardHeader) + nor + "Sectors=4*64K\nWidth=32\nChips=2\n"),
            "b.ini: [Region1] Chips: 2 chips of 32 bits make a bus wider than 32 bits");
  EXPECT_EQ(ErrorOf(std::string(kBoardHeader) + "[Region1]\nKind=NOR\nBase=0\nCommandSet=AMD\n"
                                                "ManufacturerId=1\nSectors=64K\n"),
            "b.ini: [Region1] DeviceId: missing");
  EXPECT_EQ(ErrorOf(std::string(kBoardHeader) + "[Region1]\nKind=RAM\nBase=$XYZ\nSize=1M\n"),
            "b.ini: [Region1] Base: \"$XYZ\" is not a number");
  EXPECT_EQ(ErrorOf(std::string(kBoardHeader) + "[Region1]\nKind=RAM\nBase=$FFFF0000\nSize=1M\n"),
            "b.ini: [Region1] Size: the region runs past the end of the 4 GB address space");
  EXPECT_EQ(ErrorOf(std::string(kBoardHeader) + ram1 + "[Region3]\nKind=RAM\nBase=0\nSize=1K\n"),
            "b.ini: [Region3] Kind: regions must be numbered Region1, Region2, ... without gaps");
  EXPECT_EQ(ErrorOf(std::string(kBoardHeader) + "[Region1]\nKind=RAM\nBase=0\nSize=2048M\n"),
            "b.ini: [Region1] Size: more than 1 GB of RAM");
  EXPECT_EQ(ErrorOf("[Board]\nEndian=Middle\n"),
            "b.ini: [Board] Endian: \"Middle\" is not one of Little or Big");
  EXPECT_EQ(ErrorOf("[Board]\nClockKHz=0\n"),
            "b.ini: [Board] ClockKHz: \"0\" is out of range (1 to 10000000)");
  EXPECT_EQ(ErrorOf(std::string(kBoardHeader) + ram1 + "[Faults]\nStuckBits=$0C000000:1\n"),
            "b.ini: [Faults] StuckBits: 0xC000000 is not in a NOR region");
  EXPECT_EQ(ErrorOf(std::string(kBoardHeader) + nor + "Sectors=4*64K\n[Faults]\nStuckBits=$1:1\n"),
            "b.ini: [Faults] StuckBits: 0x1 is not aligned to the 16-bit bus of [Region1]");
  EXPECT_EQ(ErrorOf(std::string(kBoardHeader) + nor + "Sectors=4*64K\n[Faults]\nStuckBits=$2:$10000\n"),
            "b.ini: [Faults] StuckBits: mask 0x10000 is wider than the 16-bit bus of [Region1]");
  EXPECT_EQ(ErrorOf(std::string(kBoardHeader) + nor + "Sectors=4*64K\n[Faults]\nStuckBits=12\n"),
            "b.ini: [Faults] StuckBits: \"12\" is not ADDRESS:MASK");
  EXPECT_EQ(ErrorOf("Core=ARM7TDMI\n"), "b.ini: [Board] Core: the file has no [Board] section");
}

TEST(BoardFile, NumbersTakeHexDecimalAndSizeSuffixes) {
  EXPECT_EQ(ParseBoardNumber("$1F", false), 0x1Fu);
  EXPECT_EQ(ParseBoardNumber("0X1f", false), 0x1Fu);
  EXPECT_EQ(ParseBoardNumber("31", false), 31u);
  EXPECT_EQ(ParseBoardNumber("64K", true), 65536u);
  EXPECT_EQ(ParseBoardNumber("2m", true), 2u * 1024 * 1024);
  EXPECT_EQ(ParseBoardNumber("$10K", true), 16u * 1024);
  EXPECT_FALSE(ParseBoardNumber("64K", false));
  EXPECT_FALSE(ParseBoardNumber("", false));
  EXPECT_FALSE(ParseBoardNumber("$", false));
  EXPECT_FALSE(ParseBoardNumber("12 3", false));
  EXPECT_FALSE(ParseBoardNumber("-1", false));
  EXPECT_FALSE(ParseBoardNumber("99999999999999999999", false));
}

TEST(Bus, RegionsComposeValuesInTheBoardsByteOrder) {
  for (bool big : {false, true}) {
    auto dir = FreshDirectory();
    TestBoard tb(std::string("[Board]\nEndian=") + (big ? "Big" : "Little") +
                     "\n[Region1]\nKind=RAM\nBase=$1000\nSize=4K\n"
                     "[Region2]\nKind=IO\nBase=$E0000000\nSize=512M\n",
                 dir);
    ASSERT_TRUE(tb);
    const std::uint8_t bytes[4] = {0x11, 0x22, 0x33, 0x44};
    ASSERT_TRUE(tb.board().Poke(0x1000, 4, bytes));
    if (big) {
      EXPECT_EQ(tb.Read(0x1000, AccessSize::Word), 0x11223344u);
      EXPECT_EQ(tb.Read(0x1002, AccessSize::Half), 0x3344u);
    } else {
      EXPECT_EQ(tb.Read(0x1000, AccessSize::Word), 0x44332211u);
      EXPECT_EQ(tb.Read(0x1002, AccessSize::Half), 0x4433u);
    }
    EXPECT_EQ(tb.Read(0x1001, AccessSize::Byte), 0x22u);
    tb.Write(0x1010, 0xA1B2, AccessSize::Half);
    EXPECT_EQ(tb.Byte(0x1010), big ? 0xA1 : 0xB2);
    // The peripheral space keeps what is written (and reads 0 elsewhere).
    tb.Write(0xFFFFF020, 0xCAFEF00D, AccessSize::Word);
    EXPECT_EQ(tb.Read(0xFFFFF020, AccessSize::Word), 0xCAFEF00Du);
    EXPECT_EQ(tb.Read(0xFFFFF022, AccessSize::Half), big ? 0xF00Du : 0xCAFEu);
    EXPECT_EQ(tb.Read(0xE0000000, AccessSize::Word), 0u);
    // Outside every region, and across a region's end, nothing answers.
    std::uint32_t value = 0;
    EXPECT_FALSE(tb.board().bus().Read(0x2000, AccessSize::Word, AccessKind::DataRead, value));
    EXPECT_FALSE(tb.board().bus().Write(0x0FFC, AccessSize::Word, 0));
    EXPECT_FALSE(tb.board().bus().Read(0, AccessSize::Word, AccessKind::InstructionFetch, value));
    EXPECT_EQ(tb.board().bus().unmapped_accesses(), 3u);
    // A poke that runs off the end changes nothing.
    const std::uint8_t eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(tb.board().Poke(0x1FFC, 8, eight));
    EXPECT_EQ(tb.Byte(0x1FFC), 0x00);
  }
}

TEST(Board, RunsOnTheCoreAndCountsInstructions) {
  auto dir = FreshDirectory();
  TestBoard tb("[Board]\nRunBudget=1000\n[Region1]\nKind=RAM\nBase=0\nSize=4K\n", dir);
  ASSERT_TRUE(tb);
  // An ARM "b ." at the reset vector.
  const std::uint8_t loop[4] = {0xFE, 0xFF, 0xFF, 0xEA};
  ASSERT_TRUE(tb.board().Poke(0, 4, loop));
  tb.board().Reset();
  RunResult run = tb.board().Run();
  EXPECT_TRUE(run.limit_reached);
  EXPECT_EQ(run.instructions, 1000u);
  EXPECT_EQ(tb.board().counters().instructions, 1000u);
  EXPECT_GE(tb.board().clock().cycles, 1000u);
  EXPECT_EQ(tb.board().core().Pc(), 0u);
  EXPECT_EQ(tb.board().core().CurrentMode(), Mode::Supervisor);
  tb.board().ResetCounters();
  EXPECT_EQ(tb.board().counters().instructions, 0u);
}

TEST(Board, RealTimeRunsClockKHzInstructionsPerMillisecond) {
  auto dir = FreshDirectory();
  TestBoard tb("[Board]\nTiming=RealTime\nClockKHz=1000\n[Region1]\nKind=RAM\nBase=0\nSize=4K\n", dir);
  ASSERT_TRUE(tb);
  const std::uint8_t loop[4] = {0xFE, 0xFF, 0xFF, 0xEA};
  ASSERT_TRUE(tb.board().Poke(0, 4, loop));
  tb.board().Reset();
  tb.board().CatchUp();
  std::uint64_t start_cycles = tb.board().clock().cycles;
  tb.board().SetRunning(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  tb.board().CatchUp();
  std::uint64_t executed = tb.board().counters().instructions;
  // 30 ms at 1000 instructions a millisecond, with room for a slow host.
  EXPECT_GE(executed, 25000u);
  EXPECT_LE(executed, 1000u * 1000);
  // Halted, the core executes nothing more but time still passes.
  tb.board().SetRunning(false);
  executed = tb.board().counters().instructions;
  std::uint64_t cycles = tb.board().clock().cycles;
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  tb.board().CatchUp();
  EXPECT_EQ(tb.board().counters().instructions, executed);
  EXPECT_GE(tb.board().clock().cycles, cycles + 9000);
  EXPECT_GT(cycles, start_cycles);
}

// A clock far beyond the host: each catch-up still returns within its
// bound and the board falls behind real time rather than ever further behind.
TEST(Board, RealTimeClockTheHostCannotKeepUpWithStaysResponsive) {
  auto dir = FreshDirectory();
  TestBoard tb("[Board]\nTiming=RealTime\nClockKHz=4000000\n[Region1]\nKind=RAM\nBase=0\nSize=4K\n",
               dir);
  ASSERT_TRUE(tb);
  // ADD r1, r1, #1; B 0: a loop that costs host time per instruction (a
  // branch to itself would be repeated at once).
  const std::uint8_t loop[8] = {0x01, 0x10, 0x81, 0xE2, 0xFD, 0xFF, 0xFF, 0xEA};
  ASSERT_TRUE(tb.board().Poke(0, 8, loop));
  tb.board().Reset();
  tb.board().CatchUp();
  tb.board().SetRunning(true);
  EXPECT_EQ(tb.board().behind_real_time(), 0u);
  const auto start = std::chrono::steady_clock::now();
  std::chrono::microseconds longest{0};
  for (int call = 0; call < 20; ++call) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto before = std::chrono::steady_clock::now();
    tb.board().CatchUp();
    longest = std::max(longest, std::chrono::duration_cast<std::chrono::microseconds>(
                                    std::chrono::steady_clock::now() - before));
  }
  const auto total = std::chrono::steady_clock::now() - start;
  EXPECT_GT(tb.board().behind_real_time(), 0u);
  EXPECT_GT(tb.board().counters().instructions, 0u);
  // Each call may take the 5 ms the host spent outside it, and a slow
  // machine some more; never the seconds a full catch-up would need.
  EXPECT_LT(longest.count(), 50000) << "longest catch-up in microseconds";
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(total).count(), 1000);
}

TEST(Board, InfoListsRegionsAndChips) {
  auto dir = FreshDirectory();
  TestBoard tb(
      "[Board]\n[Region1]\nKind=RAM\nBase=$0C000000\nSize=1M\n"
      "[Region2]\nKind=NOR\nBase=0\nCommandSet=AMD\nManufacturerId=1\nDeviceId=$2249\nWidth=16\n"
      "Chips=2\nSectors=16K,8K,8K,32K,31*64K\nImage=flash0.bin\n",
      dir);
  ASSERT_TRUE(tb);
  std::string info = tb.board().Info();
  EXPECT_NE(info.find("Region1: RAM $0C000000-$0C0FFFFF (1M)\n"), std::string::npos) << info;
  EXPECT_NE(info.find("Region2: NOR $00000000-$003FFFFF (4M)\n"), std::string::npos) << info;
  EXPECT_NE(info.find("2 x AMD chips, 16 bits, 2M each, ManufacturerId=$01 DeviceId=$2249"),
            std::string::npos)
      << info;
  EXPECT_NE(info.find("Sectors=16K,2*8K,32K,31*64K (35 per chip)"), std::string::npos) << info;
  EXPECT_NE(info.find((dir / "flash0.bin").string()), std::string::npos) << info;
}

}  // namespace
}  // namespace simboard
