// A board with its debugger's side: the Board of a board file, with the
// parallel port, the probe, the TAP and the debug logic on its core. This is
// what the port library and romsmith-simboard --remote-bitbang serve.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "simboard/board/board.h"
#include "simboard/debug/jtag_side.h"

namespace simboard {

// The JTAG side of a board file: [Board] IdCode, Probe, PortBase, Timing,
// ClockKHz, RunBudget and [Faults] TdoStuck, NeverHalt,
// DeadAfterPortAccesses. Nothing and `error` (naming the key) when a value
// is wrong.
std::optional<JtagSettings> JtagSettingsFor(const BoardDescription& board, std::string& error);

class JtagBoard {
 public:
  static std::unique_ptr<JtagBoard> Open(const std::filesystem::path& board_file,
                                         std::string& error);
  static std::unique_ptr<JtagBoard> Create(std::unique_ptr<Board> board, std::string& error);
  ~JtagBoard();
  JtagBoard(const JtagBoard&) = delete;
  JtagBoard& operator=(const JtagBoard&) = delete;

  Board& board() { return *board_; }
  JtagSide& jtag() { return *jtag_; }
  ParallelPort& port() { return jtag_->Port(); }

  // The JTAG side's counters and the board's.
  std::string CounterReport() const;

 private:
  class Runner;
  JtagBoard() = default;

  std::unique_ptr<Board> board_;
  std::unique_ptr<Runner> runner_;
  std::unique_ptr<JtagSide> jtag_;
};

}  // namespace simboard
