// A run of the board's core in one call ends in the same state, time and
// counts as the same number of instructions run one at a time, whatever the
// core meets on the way: erased flash, a flash chip answering status or
// identifier codes, zeroed RAM and programs of conditional instructions.
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

// 64 KiB of 16-bit AMD flash at 0 and 4 KiB of RAM at 0x0C000000; a 2 ms
// sector erase is 40,000 cycles of the 20 MHz clock.
std::string AmdBoard(const std::string& endian) {
  return "[Board]\nCore=ARM7TDMI\nEndian=" + endian +
         "\nClockKHz=20000\n[Region1]\nKind=RAM\nBase=$0C000000\nSize=4K\n"
         "[Region2]\nKind=NOR\nBase=0\nCommandSet=AMD\nManufacturerId=$01\nDeviceId=$2249\n"
         "Width=16\nChips=1\nSectors=16K,8K,8K,32K\nImage=flash.bin\nProgramTimeUs=10\n"
         "SectorEraseTimeMs=2\nChipEraseTimeMs=20\n";
}

const char kRamAtZero[] = "[Board]\nCore=ARM7TDMI\n[Region1]\nKind=RAM\nBase=0\nSize=16K\n";

void PokeWords(Board& board, std::uint32_t address, const std::vector<std::uint32_t>& words) {
  for (std::uint32_t word : words) {
    std::uint8_t bytes[4];
    SplitValue(word, 4, board.description().big_endian, bytes);
    ASSERT_TRUE(board.Poke(address, 4, bytes));
    address += 4;
  }
}

void Command(Board& board, std::uint32_t word_index, std::uint32_t value) {
  ASSERT_TRUE(board.bus().Write(word_index * 2, AccessSize::Half, value));
}

// A stretch of instructions that do not execute while only Z is set, then a
// count in r2 and a branch back to 0. The ADD's lower bytes hold condition
// nibbles that fail (NE, HI, CS): only its top byte says it executes.
std::vector<std::uint32_t> ConditionalLoop(std::size_t stretch) {
  std::vector<std::uint32_t> words(stretch, 0x13A01001);  // MOVNE r1, #1
  words.push_back(0xE2822010);                            // ADD r2, r2, #16
  std::int32_t back = -static_cast<std::int32_t>(words.size() + 2);
  words.push_back(0xEA000000 | (static_cast<std::uint32_t>(back) & 0x00FFFFFF));  // B 0
  return words;
}

struct RunCase {
  const char* name;
  std::string board_text;
  std::function<void(Board&)> prepare;  // after the reset, before running
  std::uint64_t instructions;
};

TEST(BoardRun, OneLongRunMatchesSingleInstructions) {
  const std::vector<RunCase> cases = {
      {"erased flash, past its end into aborts", AmdBoard("Little"), nullptr, 200000},
      {"erased flash, big-endian", AmdBoard("Big"), nullptr, 70000},
      {"flash in autoselect mode", AmdBoard("Little"),
       [](Board& b) {
         Command(b, 0x555, 0xAA);
         Command(b, 0x2AA, 0x55);
         Command(b, 0x555, 0x90);
       },
       50000},
      {"flash erasing a sector under the core, then reading its array", AmdBoard("Little"),
       [](Board& b) {
         Command(b, 0x555, 0xAA);
         Command(b, 0x2AA, 0x55);
         Command(b, 0x555, 0x80);
         Command(b, 0x555, 0xAA);
         Command(b, 0x2AA, 0x55);
         Command(b, 0x2000, 0x30);  // the 8K sector at 0x4000
       },
       120000},
      {"zeroed RAM with Z clear: ANDEQ does not execute", kRamAtZero,
       [](Board& b) { b.core().SetCpsr(b.core().Cpsr() & ~psr::kZ); }, 30000},
      {"zeroed RAM with Z set: ANDEQ executes", kRamAtZero,
       [](Board& b) { b.core().SetCpsr(b.core().Cpsr() | psr::kZ); }, 30000},
      {"conditional loop in RAM", kRamAtZero,
       [](Board& b) {
         b.core().SetCpsr((b.core().Cpsr() & 0x0FFFFFFF) | psr::kZ);
         PokeWords(b, 0, ConditionalLoop(37));
       },
       10000},
      {"conditional loop in flash, big-endian", AmdBoard("Big"),
       [](Board& b) {
         b.core().SetCpsr((b.core().Cpsr() & 0x0FFFFFFF) | psr::kZ);
         PokeWords(b, 0, ConditionalLoop(100));
       },
       10000},
      {"a branch to itself in flash", AmdBoard("Little"),
       [](Board& b) { PokeWords(b, 0, {0xE3A00005, 0xEAFFFFFE}); },  // MOV r0, #5; B .
       100000},
      {"THUMB branch to itself in RAM", kRamAtZero,
       [](Board& b) {
         const std::uint8_t code[] = {0xFE, 0xE7};  // B .
         b.Poke(0, 2, code);
         b.core().SetCpsr(b.core().Cpsr() | psr::kT);
       },
       20000},
      {"ARM BNE . with Z set falls through into zeroed RAM", kRamAtZero,
       [](Board& b) {
         b.core().SetCpsr((b.core().Cpsr() & 0x0FFFFFFF) | psr::kZ);
         PokeWords(b, 0, {0x1AFFFFFE});  // BNE .
       },
       20000},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto dir_whole = FreshDirectory();
    auto dir_single = FreshDirectory();
    TestBoard whole(c.board_text, dir_whole);
    TestBoard single(c.board_text, dir_single);
    ASSERT_TRUE(whole && single);
    for (TestBoard* tb : {&whole, &single}) {
      tb->board().Reset();
      if (c.prepare) c.prepare(tb->board());
    }
    const auto [a, b] = RunWholeAndSingly(whole.board(), single.board(), c.instructions);
    EXPECT_EQ(a, b);
    std::filesystem::remove_all(dir_whole);
    std::filesystem::remove_all(dir_single);
  }
}

// A debugger watching instructions sees every one, including those whose
// condition fails.
TEST(BoardRun, AWatchingObserverIsAskedAboutEveryInstruction) {
  struct Watcher : DebugObserver {
    std::uint64_t asked = 0;
    bool BeforeInstruction(std::uint32_t, std::uint32_t, bool) override {
      ++asked;
      return false;
    }
    bool AfterDataAccess(std::uint32_t, AccessSize, std::uint32_t, bool) override { return false; }
  } watcher;
  auto dir = FreshDirectory();
  TestBoard tb(AmdBoard("Little"), dir);
  ASSERT_TRUE(tb);
  tb.board().Reset();
  tb.board().core().SetDebugObserver(&watcher);
  RunResult run = tb.board().Run(5000);
  EXPECT_EQ(run.instructions, 5000u);
  EXPECT_EQ(watcher.asked, 5000u);
  tb.board().core().SetDebugObserver(nullptr);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace simboard
