// A board built from a board-file text in a fresh temporary directory, with
// bus accesses as the processor makes them, for the memory and flash tests.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "simboard/board/board.h"

namespace simboard::testing {

// Where a board's core stands after a run: registers, the CPSR, the abort
// mode's SPSR and R14, the run's and the board's counts, and board time.
inline std::vector<std::uint64_t> RunOutcome(Board& board, const RunResult& run) {
  std::vector<std::uint64_t> o;
  ArmCore& core = board.core();
  for (unsigned n = 0; n < 16; ++n) o.push_back(core.Register(n));
  o.push_back(core.Cpsr());
  o.push_back(core.Spsr(Mode::Abort));
  o.push_back(core.BankedRegister(Mode::Abort, 14));
  const Counters c = board.counters();
  o.insert(o.end(), {run.instructions, run.limit_reached ? 1u : 0u, c.instructions,
                     core.CycleCount(), board.clock().cycles, c.flash_reads, c.flash_writes});
  return o;
}

// Runs `whole` for `instructions` in one call and `single` as many times one
// instruction at a time, from the same state; the outcome of each.
inline std::pair<std::vector<std::uint64_t>, std::vector<std::uint64_t>> RunWholeAndSingly(
    Board& whole, Board& single, std::uint64_t instructions) {
  const RunResult run = whole.Run(instructions);
  RunResult one_by_one;
  for (std::uint64_t i = 0; i < instructions; ++i) {
    const RunResult step = single.Run(1);
    one_by_one.instructions += step.instructions;
    one_by_one.limit_reached = step.limit_reached;
  }
  return {RunOutcome(whole, run), RunOutcome(single, one_by_one)};
}

inline std::filesystem::path FreshDirectory() {
  static int serial = 0;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "test";
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  auto dir = std::filesystem::temp_directory_path() /
             ("simboard-" + std::to_string(getpid()) + "-" + std::to_string(serial++) + "-" + name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

class TestBoard {
 public:
  // `text` is a whole board file; it is written to board.ini in `dir`.
  TestBoard(const std::string& text, const std::filesystem::path& dir) : dir_(dir) {
    {
      std::ofstream out(dir / "board.ini");
      out << text;
    }
    std::string error;
    board_ = Board::Open(dir / "board.ini", error);
    EXPECT_TRUE(board_) << error;
  }

  Board& board() { return *board_; }
  explicit operator bool() const { return board_ != nullptr; }
  const std::filesystem::path& dir() const { return dir_; }

  std::uint32_t Read(std::uint32_t address, AccessSize size = AccessSize::Half) {
    std::uint32_t value = 0xDEADBEEF;
    EXPECT_TRUE(board_->bus().Read(address, size, AccessKind::DataRead, value))
        << "read at 0x" << std::hex << address;
    return value;
  }
  void Write(std::uint32_t address, std::uint32_t value, AccessSize size = AccessSize::Half) {
    EXPECT_TRUE(board_->bus().Write(address, size, value)) << "write at 0x" << std::hex << address;
  }
  // Time passing in microseconds of board time.
  void Wait(std::uint64_t microseconds) {
    board_->AdvanceTime(microseconds * board_->description().clock_khz / 1000);
  }
  std::uint8_t Byte(std::uint32_t address) {
    std::uint8_t b = 0;
    EXPECT_TRUE(board_->Peek(address, 1, &b));
    return b;
  }

 private:
  std::filesystem::path dir_;
  std::unique_ptr<Board> board_;
};

// A board header with RAM at 0x0C000000; `nor` holds the keys of a NOR
// region at 0 (Region2) without its section line.
inline std::string FlashBoardText(const std::string& nor, const std::string& endian = "Little",
                                  const std::string& extra = "") {
  return "[Board]\nCore=ARM7TDMI\nEndian=" + endian +
         "\nClockKHz=20000\n\n[Region1]\nKind=RAM\nBase=$0C000000\nSize=64K\n\n"
         "[Region2]\nKind=NOR\nBase=0\n" +
         nor + "\n" + extra;
}

}  // namespace simboard::testing
