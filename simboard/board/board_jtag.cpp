#include "simboard/board/board_jtag.h"

#include <cinttypes>
#include <cstdio>

namespace simboard {

namespace {

// A number key of `section`; `fallback` when absent.
bool NumberKey(const BoardDescription& board, const char* section, const char* key,
               std::uint64_t fallback, std::uint64_t max, std::uint64_t& value,
               std::string& error) {
  const std::string* text = board.ini.Find(section, key);
  if (text == nullptr) {
    value = fallback;
    return true;
  }
  auto parsed = ParseBoardNumber(*text, false);
  if (!parsed || *parsed > max) {
    error = board.file.string() + ": [" + section + "] " + key + ": \"" + *text +
            "\" is not a number from 0 to " + std::to_string(max);
    return false;
  }
  value = *parsed;
  return true;
}

}  // namespace

std::optional<JtagSettings> JtagSettingsFor(const BoardDescription& board, std::string& error) {
  JtagSettings settings;
  switch (board.core) {
    case CoreKind::ARM9TDMI: settings.core = DebugCore::ARM9TDMI; break;
    case CoreKind::ARM920T: settings.core = DebugCore::ARM920T; break;
    default: settings.core = DebugCore::ARM7TDMI; break;
  }
  settings.id_code = board.id_code;
  settings.port_base = board.port_base;
  auto probe = ParseProbeKind(board.probe);
  if (!probe) {
    error = board.file.string() + ": [Board] Probe: \"" + board.probe + "\" is no probe";
    return std::nullopt;
  }
  settings.probe = *probe;
  settings.debug.real_time = board.timing == TimingMode::RealTime;
  settings.debug.clock_khz = board.clock_khz;
  settings.debug.run_budget = board.run_budget;
  std::uint64_t value = 0;
  if (!NumberKey(board, "Faults", "TdoStuck", 0, 1, value, error)) return std::nullopt;
  settings.tdo_stuck = value != 0;
  if (!NumberKey(board, "Faults", "NeverHalt", 0, 1, value, error)) return std::nullopt;
  settings.debug.never_halt = value != 0;
  if (!NumberKey(board, "Faults", "DeadAfterPortAccesses", 0, UINT64_MAX, value, error))
    return std::nullopt;
  settings.dead_after_port_accesses = value;
  return settings;
}

// The board runs the core: its clock, flash timers and reset line.
class JtagBoard::Runner : public CoreRunner {
 public:
  explicit Runner(Board& board) : board_(board) {}
  RunResult Run(std::uint64_t max_instructions) override {
    return board_.Run(max_instructions == 0 ? 1 : max_instructions);
  }
  RunResult CatchUp() override { return board_.CatchUp(); }
  void SetRunning(bool running) override { board_.SetRunning(running); }
  void Reset() override { board_.Reset(); }
  void Idle(std::uint64_t cycles) override { board_.AdvanceTime(cycles); }
  std::uint64_t* IdleCounter() override { return &board_.clock().cycles; }

 private:
  Board& board_;
};

std::unique_ptr<JtagBoard> JtagBoard::Open(const std::filesystem::path& board_file,
                                           std::string& error) {
  std::unique_ptr<Board> board = Board::Open(board_file, error);
  if (!board) return nullptr;
  return Create(std::move(board), error);
}

std::unique_ptr<JtagBoard> JtagBoard::Create(std::unique_ptr<Board> board, std::string& error) {
  auto settings = JtagSettingsFor(board->description(), error);
  if (!settings) return nullptr;
  std::unique_ptr<JtagBoard> result(new JtagBoard());
  result->board_ = std::move(board);
  result->runner_ = std::make_unique<Runner>(*result->board_);
  result->jtag_ = std::make_unique<JtagSide>(result->board_->core(), result->board_->bus(),
                                             *settings, result->runner_.get());
  // Power on: the core comes out of reset and runs from the reset vector.
  result->jtag_->SetSystemReset(true);
  result->jtag_->SetSystemReset(false);
  return result;
}

JtagBoard::~JtagBoard() {
  jtag_.reset();
  if (board_) board_->Settle();
}

std::string JtagBoard::CounterReport() const {
  std::string text = jtag_->CounterReport();
  Counters counters = board_->counters();
  char line[160];
  std::snprintf(line, sizeof line,
                "instructions=%" PRIu64 "\nrepeated_instructions=%" PRIu64 "\nflash_cycles=%" PRIu64
                "\nbytes_programmed=%" PRIu64 "\n",
                counters.instructions, board_->core().RepeatedInstructions(),
                counters.FlashCycles(), counters.bytes_programmed);
  return text + line;
}

}  // namespace simboard
