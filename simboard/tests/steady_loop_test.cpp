// A run passes over the repeats of a loop polling a busy flash chip at once.
// Whatever the loop and the chip, the run must end exactly where the same
// instructions run one at a time end: registers, counts, cycles, board time,
// the reads the flash answered and the status bits that toggle with them.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "simboard/board/board.h"
#include "simboard/tests/board_test_support.h"

namespace simboard {
namespace {

using testing::FreshDirectory;
using testing::RunWholeAndSingly;
using testing::TestBoard;

constexpr std::uint32_t kRam = 0x0C000000;
constexpr std::uint32_t kTarget = 0x4000;  // the flash word programmed or erased

// 1 ms of programming is 20,000 cycles of the 20 MHz clock.
std::string FlashBoard(const std::string& endian, const std::string& chip) {
  return "[Board]\nCore=ARM7TDMI\nEndian=" + endian +
         "\nClockKHz=20000\n[Region1]\nKind=RAM\nBase=$0C000000\nSize=4K\n"
         "[Region2]\nKind=NOR\nBase=0\nWidth=16\nChips=1\nImage=flash.bin\n" +
         chip;
}
const std::string kAmd =
    "CommandSet=AMD\nManufacturerId=$01\nDeviceId=$2249\nSectors=16K,8K,8K,32K\n"
    "ProgramTimeUs=1000\nSectorEraseTimeMs=2\nChipEraseTimeMs=20\n";
const std::string kIntel =
    "CommandSet=Intel\nManufacturerId=$89\nDeviceId=$18\nSectors=4*16K\n"
    "ProgramTimeUs=700\nSectorEraseTimeMs=3\n";
const std::string kSst =
    "CommandSet=SST\nManufacturerId=$BF\nDeviceId=$2782\nSectors=16*4K\n"
    "ProgramTimeUs=900\nSectorEraseTimeMs=2\nChipEraseTimeMs=40\n";

// The polling routines, at kRam; each ends in a counting loop at `done`.
// clang-format off
const std::vector<std::uint32_t> kArmRoutines = {
    // 0x00 DQ7 polling of [r0] against r3 with a back-off
    0xE1D010B0, 0xE0212003, 0xE2122080, 0x0A000002, 0xE0257C96, 0xE0257C96, 0xEAFFFFF8,
    0xE2844001, 0xEAFFFFFD,
    // 0x24 toggle polling: two reads of [r0] agree on DQ6
    0xE1D010B0, 0xE1D020B0, 0xE0211002, 0xE2111040, 0x1AFFFFFA, 0xE2844001, 0xEAFFFFFD,
    // 0x40 Intel status polling: SR7 of [r0]
    0xE1D010B0, 0xE3110080, 0x0AFFFFFC, 0xE2844001, 0xEAFFFFFD,
    // 0x54 one read each of [r0] and [r0 + 2] per pass, for ever
    0xE1D010B0, 0xE1D020B2, 0xE0211002, 0xE2111040, 0x1AFFFFFA, 0xEAFFFFF9,
    // 0x6C a status read and a store to RAM per pass, for ever
    0xE1D010B0, 0xE5881000, 0xE2111040, 0xEAFFFFFB,
    // 0x7C THUMB: DQ7 polling of [r0] against r3
    0x40598801, 0xD2FB0A09, 0xE7FD3401,
    // 0x88 reads of [r0] counted down in r9 (a time-out), for ever
    0xE1D010B0, 0xE2599001, 0x1AFFFFFC, 0xE2844001, 0xEAFFFFFD,
};
enum Routine : std::uint32_t {
  kDataPolling = 0x00, kTogglePolling = 0x24, kStatusPolling = 0x40, kTwoAddresses = 0x54,
  kStorePolling = 0x6C, kThumbPolling = 0x7C, kCountedPolling = 0x88,
};
// clang-format on

void Command(Board& board, std::uint32_t word_index, std::uint32_t value) {
  ASSERT_TRUE(board.bus().Write(word_index * 2, AccessSize::Half, value));
}

void AmdProgram(Board& b) {
  Command(b, 0x555, 0xAA);
  Command(b, 0x2AA, 0x55);
  Command(b, 0x555, 0xA0);
  Command(b, kTarget / 2, 0x1234);
}
void AmdSectorErase(Board& b) {
  for (std::uint32_t value : {0xAAu, 0x55u, 0x80u, 0xAAu, 0x55u}) {
    Command(b, value == 0x55 ? 0x2AA : 0x555, value);
  }
  Command(b, kTarget / 2, 0x30);
}
void IntelProgram(Board& b) {
  Command(b, kTarget / 2, 0x40);
  Command(b, kTarget / 2, 0x1234);
}
void SstProgram(Board& b) {
  Command(b, 0x5555, 0xAA);
  Command(b, 0x2AAA, 0x55);
  Command(b, 0x5555, 0xA0);
  Command(b, kTarget / 2, 0x1234);
}

struct LoopCase {
  const char* name;
  std::string board_text;
  std::function<void(Board&)> start;  // puts the chip to work
  Routine routine;
  std::uint64_t instructions;
  bool skips;  // the run may pass over repeats
  std::uint32_t count = 0x100000;  // r9, the time-out count of kCountedPolling
};

// The next status read shows where the toggle bits stand.
std::uint32_t StatusRead(Board& board) {
  std::uint32_t status = 0;
  EXPECT_TRUE(board.bus().Read(kTarget, AccessSize::Half, AccessKind::DataRead, status));
  return status;
}

TEST(SteadyLoops, ARunPassingOverPollingEndsAsSingleInstructionsDo) {
  const std::vector<LoopCase> cases = {
      {"AMD program, DQ7 polling", FlashBoard("Little", kAmd), AmdProgram, kDataPolling, 40000,
       true},
      {"AMD program, DQ7 polling, big-endian", FlashBoard("Big", kAmd), AmdProgram, kDataPolling,
       40000, true},
      {"AMD program, cut off while busy", FlashBoard("Little", kAmd), AmdProgram, kDataPolling,
       3001, true},
      {"AMD sector erase through its window, toggle polling", FlashBoard("Little", kAmd),
       AmdSectorErase, kTogglePolling, 60000, true},
      {"AMD program, THUMB DQ7 polling", FlashBoard("Little", kAmd), AmdProgram, kThumbPolling,
       40000, true},
      {"AMD program, reads of two addresses", FlashBoard("Little", kAmd), AmdProgram, kTwoAddresses,
       30000, true},
      {"AMD program, a store in the loop", FlashBoard("Little", kAmd), AmdProgram, kStorePolling,
       20000, false},
      {"AMD program, a time-out count in the loop", FlashBoard("Little", kAmd), AmdProgram,
       kCountedPolling, 40000, true},
      {"AMD program, the time-out count runs out while busy", FlashBoard("Little", kAmd),
       AmdProgram, kCountedPolling, 40000, true, 1001},
      {"AMD program, a time-out count of one pass", FlashBoard("Little", kAmd), AmdProgram,
       kCountedPolling, 4000, false, 1},
      {"Intel program, status polling", FlashBoard("Little", kIntel), IntelProgram, kStatusPolling,
       40000, true},
      {"SST program, toggle polling", FlashBoard("Little", kSst), SstProgram, kTogglePolling, 40000,
       true},
      {"array reads, nothing busy", FlashBoard("Little", kAmd), nullptr, kTwoAddresses, 20000,
       true},
  };
  for (const LoopCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto dir_whole = FreshDirectory();
    auto dir_single = FreshDirectory();
    TestBoard whole(c.board_text, dir_whole);
    TestBoard single(c.board_text, dir_single);
    ASSERT_TRUE(whole && single);
    for (TestBoard* tb : {&whole, &single}) {
      Board& b = tb->board();
      b.Reset();
      for (std::size_t i = 0; i < kArmRoutines.size(); ++i) {
        std::uint8_t bytes[4];
        SplitValue(kArmRoutines[i], 4, b.description().big_endian, bytes);
        ASSERT_TRUE(b.Poke(kRam + 4 * static_cast<std::uint32_t>(i), 4, bytes));
      }
      if (c.start) c.start(b);
      ArmCore& core = b.core();
      core.SetRegister(0, kTarget);
      core.SetRegister(3, 0x1234);
      core.SetRegister(8, kRam + 0x800);
      core.SetRegister(9, c.count);
      core.SetRegister(12, 0x12345678);
      core.SetThumb(c.routine == kThumbPolling);
      core.SetPc(kRam + c.routine);
    }
    const auto [a, b] = RunWholeAndSingly(whole.board(), single.board(), c.instructions);
    EXPECT_EQ(a, b);
    EXPECT_EQ(StatusRead(whole.board()), StatusRead(single.board()));
    EXPECT_EQ(whole.board().core().RepeatedInstructions() > 0, c.skips);
    EXPECT_EQ(single.board().core().RepeatedInstructions(), 0u);
    std::filesystem::remove_all(dir_whole);
    std::filesystem::remove_all(dir_single);
  }
}

}  // namespace
}  // namespace simboard
