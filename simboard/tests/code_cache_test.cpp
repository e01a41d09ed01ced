// The core keeps the instructions it decoded from RAM; every way the RAM can
// change under it (its own stores, the bus writes the debugger's system-speed
// accesses make, pokes of the host) must make it decode afresh. And a run
// between two actions of the debugger ends after a bounded stretch of host
// time, whatever the run budget, so a core that never halts cannot hold up
// a debugger waiting on it.
#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "simboard/debug/arm_debug.h"
#include "simboard/board/board.h"
#include "simboard/board/board_jtag.h"
#include "simboard/debug/jtag_side.h"
#include "simboard/tests/board_test_support.h"

namespace simboard {
namespace {

using testing::FreshDirectory;
using testing::TestBoard;

constexpr std::uint32_t kRam = 0x0C000000;

std::string RamBoard(const std::string& endian, const std::string& extra = "") {
  return "[Board]\nCore=ARM7TDMI\nEndian=" + endian + "\n" + extra +
         "[Region1]\nKind=RAM\nBase=$0C000000\nSize=64K\n";
}

void PokeWord(Board& board, std::uint32_t address, std::uint32_t word) {
  std::uint8_t bytes[4];
  SplitValue(word, 4, board.description().big_endian, bytes);
  ASSERT_TRUE(board.Poke(address, 4, bytes));
}

// MOV r0, #imm8
std::uint32_t MovR0(std::uint32_t value) { return 0xE3A00000u | (value & 0xFF); }

struct ChangeCase {
  const char* name;
  // Replaces the word at `address` with `word` while the core is stopped.
  std::function<void(Board&, std::uint32_t address, std::uint32_t word)> change;
};

// The word at kRam + 4 runs, is replaced, and runs again: the second run
// must execute the new word.
TEST(CodeCache, EveryWriteToRamDropsTheDecodedInstruction) {
  const std::vector<ChangeCase> cases = {
      {"poke", [](Board& b, std::uint32_t a, std::uint32_t w) { PokeWord(b, a, w); }},
      {"bus word write",
       [](Board& b, std::uint32_t a, std::uint32_t w) {
         ASSERT_TRUE(b.bus().Write(a, AccessSize::Word, w));
       }},
      {"bus byte writes",
       [](Board& b, std::uint32_t a, std::uint32_t w) {
         std::uint8_t bytes[4];
         SplitValue(w, 4, b.description().big_endian, bytes);
         for (unsigned i = 0; i < 4; ++i)
           ASSERT_TRUE(b.bus().Write(a + i, AccessSize::Byte, bytes[i]));
       }},
      {"bus halfword write at the top",
       [](Board& b, std::uint32_t a, std::uint32_t w) {
         const std::uint32_t top = b.description().big_endian ? a : a + 2;
         ASSERT_TRUE(b.bus().Write(top, AccessSize::Half, w >> 16));
       }},
  };
  for (const char* endian : {"Little", "Big"}) {
    for (const ChangeCase& c : cases) {
      SCOPED_TRACE(std::string(endian) + ", " + c.name);
      auto dir = FreshDirectory();
      TestBoard tb(RamBoard(endian), dir);
      ASSERT_TRUE(tb);
      Board& board = tb.board();
      PokeWord(board, kRam, 0xE1A00000);      // NOP (MOV r0, r0)
      PokeWord(board, kRam + 4, MovR0(0x11));  // the word that changes
      PokeWord(board, kRam + 8, 0xEAFFFFFC);   // B kRam
      board.core().SetPc(kRam);
      board.Run(3);
      ASSERT_EQ(board.core().Register(0), 0x11u);
      // The halfword case changes only the top half: MOV r0, #0x11 becomes
      // MVN r0, #0x11 (0xE3E00011).
      const bool top_only = std::string(c.name).find("halfword") != std::string::npos;
      const std::uint32_t replacement = top_only ? 0xE3E00011u : MovR0(0x22);
      c.change(board, kRam + 4, replacement);
      board.core().SetPc(kRam);
      board.Run(3);
      EXPECT_EQ(board.core().Register(0), top_only ? ~0x11u : 0x22u);
      std::filesystem::remove_all(dir);
    }
  }
}

// The core overwrites the instruction it ran a moment ago, in ARM and THUMB
// state, with a word, halfword and byte store.
TEST(CodeCache, TheCoresOwnStoresDropWhatTheyOverwrite) {
  struct StoreCase {
    const char* name;
    std::uint32_t store;  // STR/STRH/STRB r1, [r2]
    std::uint32_t value;  // r1
    std::uint32_t at;     // r2: the address stored to
    std::uint32_t expect;
  };
  // kRam + 0x10 holds MOV r0, #0x11 (little-endian bytes 11 00 A0 E3).
  const std::vector<StoreCase> cases = {
      {"word", 0xE5821000, MovR0(0x33), kRam + 0x10, 0x33},
      {"halfword", 0xE1C210B0, 0x0044, kRam + 0x10, 0x44},
      {"byte", 0xE5C21000, 0x55, kRam + 0x10, 0x55},
  };
  for (const StoreCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto dir = FreshDirectory();
    TestBoard tb(RamBoard("Little"), dir);
    ASSERT_TRUE(tb);
    Board& board = tb.board();
    PokeWord(board, kRam + 0x00, 0xEA000002);  // B +0x10
    PokeWord(board, kRam + 0x04, c.store);
    PokeWord(board, kRam + 0x08, 0xEA000000);  // B +0x10
    PokeWord(board, kRam + 0x10, MovR0(0x11));
    PokeWord(board, kRam + 0x14, 0xE12FFF1E);  // BX lr
    board.core().SetRegister(1, c.value);
    board.core().SetRegister(2, c.at);
    board.core().SetRegister(14, kRam + 0x04);
    board.core().SetPc(kRam);
    board.Run(3);  // B, MOV (decoded), BX back to the store
    ASSERT_EQ(board.core().Register(0), 0x11u);
    board.core().SetRegister(14, kRam + 0x40);
    board.Run(3);  // the store, B, the changed MOV
    EXPECT_EQ(board.core().Register(0), c.expect);
    std::filesystem::remove_all(dir);
  }

  // THUMB: MOVS r0, #0x11 at kRam + 0x22 rewritten by STRH to MOVS r0, #0x66.
  auto dir = FreshDirectory();
  TestBoard tb(RamBoard("Little"), dir);
  ASSERT_TRUE(tb);
  Board& board = tb.board();
  const std::uint16_t thumb[] = {0x2011, 0x8011, 0x2011, 0xE7FE};  // movs; strh r1,[r2]; movs; b .
  for (unsigned i = 0; i < 4; ++i) {
    std::uint8_t bytes[2] = {static_cast<std::uint8_t>(thumb[i]),
                             static_cast<std::uint8_t>(thumb[i] >> 8)};
    ASSERT_TRUE(board.Poke(kRam + 0x20 + 2 * i, 2, bytes));
  }
  board.core().SetThumb(true);
  board.core().SetRegister(1, 0x2066);
  board.core().SetRegister(2, kRam + 0x24);
  board.core().SetPc(kRam + 0x24);
  board.Run(1);  // the MOVS to be changed, decoded
  ASSERT_EQ(board.core().Register(0), 0x11u);
  board.core().SetPc(kRam + 0x20);
  board.Run(3);
  EXPECT_EQ(board.core().Register(0), 0x66u);
  std::filesystem::remove_all(dir);
}

// A store right after another one to the same RAM (the fast path for
// accesses near the last) overwrites an instruction already decoded, in
// either byte order: the new one runs, with its bytes in the board's order.
TEST(CodeCache, AStoreAfterAStoreDropsWhatItOverwrites) {
  for (const char* endian : {"Little", "Big"}) {
    SCOPED_TRACE(endian);
    auto dir = FreshDirectory();
    TestBoard tb(RamBoard(endian), dir);
    ASSERT_TRUE(tb);
    Board& board = tb.board();
    PokeWord(board, kRam + 0x00, 0xEA000001);  // B +0x0C
    PokeWord(board, kRam + 0x04, 0xE5821000);  // STR r1, [r2]   (data)
    PokeWord(board, kRam + 0x08, 0xE5843000);  // STR r3, [r4]   (over +0x0C)
    PokeWord(board, kRam + 0x0C, MovR0(0x11));
    PokeWord(board, kRam + 0x10, 0xE12FFF1E);  // BX lr
    board.core().SetRegister(1, 0x12345678);
    board.core().SetRegister(2, kRam + 0x100);
    board.core().SetRegister(3, MovR0(0x77));
    board.core().SetRegister(4, kRam + 0x0C);
    board.core().SetRegister(14, kRam + 0x04);
    board.core().SetPc(kRam);
    board.Run(3);  // B, MOV (decoded), BX back to the stores
    ASSERT_EQ(board.core().Register(0), 0x11u);
    board.core().SetRegister(14, kRam + 0x40);
    board.Run(3);  // both stores, the new MOV
    EXPECT_EQ(board.core().Register(0), 0x77u);
    std::uint32_t stored = 0;
    ASSERT_TRUE(board.PeekValue(kRam + 0x100, AccessSize::Word, stored));
    EXPECT_EQ(stored, 0x12345678u);
    std::filesystem::remove_all(dir);
  }
}

// A two-instruction loop that never halts, a run budget of two thousand
// million instructions (tens of seconds of host time): leaving reset and each
// read of the debug status come back within a bounded host time, and the
// core goes on counting where it stopped.
TEST(HostTimeBound, ARunThatNeverHaltsEndsWithinItsHostTime) {
  auto dir = FreshDirectory();
  {
    std::ofstream(dir / "board.ini")
        << "[Board]\nCore=ARM7TDMI\nRunBudget=2000000000\n"
           "[Region1]\nKind=RAM\nBase=0\nSize=16K\n";
  }
  std::string error;
  auto board = Board::Open(dir / "board.ini", error);
  ASSERT_TRUE(board) << error;
  PokeWord(*board, 0x0, 0xE3A00000);  // MOV r0, #0
  PokeWord(*board, 0x4, 0xE2800001);  // ADD r0, r0, #1
  PokeWord(*board, 0x8, 0xEAFFFFFD);  // B 4
  auto jtag_board = JtagBoard::Create(std::move(board), error);
  ASSERT_TRUE(jtag_board) << error;
  JtagSide& jtag = jtag_board->jtag();
  ArmCore& core = jtag_board->board().core();
  using Clock = std::chrono::steady_clock;
  auto seconds_of = [](auto&& action) {
    const auto start = Clock::now();
    action();
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  jtag.SetSystemReset(true);
  const std::uint64_t before = jtag.Debug().Counters().run_instructions;
  const double released = seconds_of([&] { jtag.SetSystemReset(false); });
  const std::uint64_t ran = jtag.Debug().Counters().run_instructions - before;
  EXPECT_LT(released, 2.0);
  EXPECT_GT(ran, 0u);
  EXPECT_LT(ran, 2000000000u);
  EXPECT_FALSE(jtag.Debug().InDebugState());
  const std::uint32_t counted = core.Register(0);
  EXPECT_GT(counted, 0u);
  // A poll of the debug status lets the core go on from where it was.
  const double polled = seconds_of([&] {
    jtag.Debug().ReadIceRegister(static_cast<unsigned>(IceRegister::DebugStatus));
  });
  EXPECT_LT(polled, 2.0);
  EXPECT_GT(core.Register(0), counted);
  jtag_board.reset();
  std::filesystem::remove_all(dir);
}

// The debugger waited before its poll: the core may run as long as it
// waited (at most the longest bound), and does, as it never halts.
TEST(HostTimeBound, APollAfterAWaitRunsAboutAsLongAsTheDebuggerWaited) {
  auto dir = FreshDirectory();
  std::ofstream(dir / "board.ini") << "[Board]\nCore=ARM7TDMI\nRunBudget=2000000000\n"
                                      "[Region1]\nKind=RAM\nBase=0\nSize=16K\n";
  std::string error;
  auto board = Board::Open(dir / "board.ini", error);
  ASSERT_TRUE(board) << error;
  PokeWord(*board, 0x0, 0xE2800001);  // ADD r0, r0, #1
  PokeWord(*board, 0x4, 0xEAFFFFFD);  // B 0
  auto jtag_board = JtagBoard::Create(std::move(board), error);
  ASSERT_TRUE(jtag_board) << error;
  JtagSide& jtag = jtag_board->jtag();
  jtag.SetSystemReset(true);
  jtag.SetSystemReset(false);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  const auto start = std::chrono::steady_clock::now();
  jtag.Debug().ReadIceRegister(static_cast<unsigned>(IceRegister::DebugStatus));
  const double polled =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(polled, 0.1);  // the longest bound, under the 150 ms waited
  EXPECT_LT(polled, 2.0);
  jtag_board.reset();
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace simboard

namespace simboard {
namespace {

// An observer that names what it watches is asked about those accesses
// only, and its answers still stop the core where they say.
TEST(CodeCache, AnObserverIsAskedOnlyWhereItsComparatorsCanMatch) {
  struct PatternWatcher : DebugObserver {
    std::uint32_t pattern = 0xE3A00077;  // MOV r0, #0x77 stands for a breakpoint
    std::uint32_t watched_store = kRam + 0x100;
    unsigned asked_fetches = 0, asked_data = 0;
    bool BeforeInstruction(std::uint32_t, std::uint32_t opcode, bool) override {
      ++asked_fetches;
      return opcode == pattern;
    }
    bool AfterDataAccess(std::uint32_t address, AccessSize, std::uint32_t, bool write) override {
      ++asked_data;
      return write && address == watched_store;
    }
    bool WatchesInstructions() const override { return true; }
    bool WatchesData() const override { return true; }
    unsigned WatchedInstructions(WatchMatch* matches) const override {
      matches[0] = WatchMatch{0, 0xFFFFFFFFu, pattern, 0};
      return 1;
    }
    unsigned WatchedData(WatchMatch* matches) const override {
      matches[0] = WatchMatch{watched_store, 0, 0, 0xFFFFFFFFu};
      return 1;
    }
  } watcher;
  auto dir = FreshDirectory();
  TestBoard tb(RamBoard("Little"), dir);
  ASSERT_TRUE(tb);
  Board& board = tb.board();
  // r1 counts up; a store to kRam + 0x200 (not watched), one to kRam + 0x100
  // (watched) after 20 rounds, then the pattern.
  const std::vector<std::uint32_t> program = {
      0xE2811001,  // 00 loop: add r1, r1, #1
      0xE5821000,  // 04 str r1, [r2]          (r2 = kRam + 0x200)
      0xE3510014,  // 08 cmp r1, #20
      0x1AFFFFFB,  // 0C bne loop
      0xE5831000,  // 10 str r1, [r3]          (r3 = kRam + 0x100): watchpoint
      0xE1A00000,  // 14 nop
      0xE3A00077,  // 18 the pattern: breakpoint before it
      0xEAFFFFFE,  // 1C b .
  };
  for (std::size_t i = 0; i < program.size(); ++i) PokeWord(board, kRam + 4 * i, program[i]);
  board.core().SetRegister(1, 0);
  board.core().SetRegister(2, kRam + 0x200);
  board.core().SetRegister(3, kRam + 0x100);
  board.core().SetPc(kRam);
  board.core().SetDebugObserver(&watcher);
  RunResult run = board.Run(1000);
  EXPECT_EQ(run.last.halt, HaltReason::Watchpoint);
  EXPECT_EQ(board.core().Pc(), kRam + 0x14);
  EXPECT_EQ(watcher.asked_data, 1u);
  EXPECT_EQ(watcher.asked_fetches, 0u);
  run = board.Run(1000);
  EXPECT_EQ(run.last.halt, HaltReason::Breakpoint);
  EXPECT_EQ(board.core().Pc(), kRam + 0x18);
  EXPECT_EQ(board.core().Register(0), 0u);  // stopped before it
  EXPECT_EQ(watcher.asked_fetches, 1u);
  board.core().SetDebugObserver(nullptr);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace simboard
