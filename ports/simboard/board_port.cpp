#include "ports/simboard/board_port.h"

#include <optional>

#include "simboard/board.h"
#include "simboard/jtag_side.h"

namespace simboard {

namespace {

// A switch or count of [Faults]; absent keys are 0.
bool FaultNumber(const BoardDescription& board, const char* key, std::uint64_t max,
                 std::uint64_t& value, std::string& error) {
  value = 0;
  const std::string* text = board.ini.Find("Faults", key);
  if (text == nullptr) return true;
  std::optional<std::uint64_t> parsed = ParseBoardNumber(*text, false);
  if (!parsed || *parsed > max) {
    error = board.file.string() + ": [Faults] " + key + ": \"" + *text +
            "\" is not a number from 0 to " + std::to_string(max);
    return false;
  }
  value = *parsed;
  return true;
}

std::optional<JtagSettings> SettingsOf(const BoardDescription& board, std::string& error) {
  if (board.core != CoreKind::ARM7TDMI) {
    error = board.file.string() + ": [Board] Core: the JTAG side models the ARM7TDMI only";
    return std::nullopt;
  }
  JtagSettings settings;
  settings.id_code = board.id_code;
  settings.port_base = board.port_base;
  std::optional<ProbeKind> probe = ParseProbeKind(board.probe);
  if (!probe) {
    error = board.file.string() + ": [Board] Probe: \"" + board.probe + "\" is no probe";
    return std::nullopt;
  }
  settings.probe = *probe;
  settings.debug.real_time = board.timing == TimingMode::RealTime;
  settings.debug.clock_khz = board.clock_khz;
  settings.debug.run_budget = board.run_budget;
  std::uint64_t value = 0;
  if (!FaultNumber(board, "TdoStuck", 1, value, error)) return std::nullopt;
  settings.tdo_stuck = value != 0;
  if (!FaultNumber(board, "NeverHalt", 1, value, error)) return std::nullopt;
  settings.debug.never_halt = value != 0;
  if (!FaultNumber(board, "DeadAfterPortAccesses", UINT64_MAX, value, error))
    return std::nullopt;
  settings.dead_after_port_accesses = value;
  return settings;
}

}  // namespace

std::filesystem::path PortBoardFile(const char* environment,
                                    const std::filesystem::path& library_directory) {
  if (environment != nullptr && *environment != '\0') return std::filesystem::path(environment);
  return library_directory / "board.ini";
}

BoardPort::BoardPort(const std::filesystem::path& board_file, const Reporter& report) {
  std::string error;
  std::unique_ptr<Board> board = Board::Open(board_file, error);
  std::optional<JtagSettings> settings;
  if (board) settings = SettingsOf(board->description(), error);
  if (!settings) {
    // Board file errors name the section and key; make sure the file is named too.
    std::string file = board_file.string();
    if (error.find(file) == std::string::npos) error = file + ": " + error;
    if (report)
      report("virtual board port: cannot open the board " + error +
             "; the port reads as disconnected\n");
    return;
  }
  board_ = std::move(board);
  Board& b = *board_;
  jtag_ = std::make_unique<JtagSide>(b.core(), b.bus(), *settings, [&b](bool asserted) {
    if (asserted) b.ResetMemories();
  });
  // Power on: the core comes out of reset and runs from the reset vector.
  jtag_->SetSystemReset(true);
  jtag_->SetSystemReset(false);
}

BoardPort::~BoardPort() {
  jtag_.reset();
  if (board_) board_->Settle();
}

std::uint8_t BoardPort::Read(std::uint32_t port) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!jtag_) return 0xFF;
  return jtag_->Port().Read(port);
}

void BoardPort::Write(std::uint32_t port, std::uint8_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (jtag_) jtag_->Port().Write(port, value);
}

}  // namespace simboard
