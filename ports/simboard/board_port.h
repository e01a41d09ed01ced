// The virtual board behind the port library: one board opened from its board
// file, with the parallel port registers at the board's port base routed to
// the probe the board file names. Accesses to any other port read 0xFF and
// are ignored; a board that could not be opened answers like a disconnected
// port (every read 0xFF).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "ports/simboard/client_gate.h"
#include "simboard/debug/probe.h"

namespace simboard {

class JtagBoard;

// The board file the port library serves: `environment` (the value of
// ROMSMITH_BOARD) when it is set and not empty, else board.ini in
// `library_directory`.
std::filesystem::path PortBoardFile(const char* environment,
                                    const std::filesystem::path& library_directory);

class BoardPort {
 public:
  using Reporter = std::function<void(const std::string& line)>;

  // Opens the board now; when it cannot, `report` hears one line naming the
  // file and the key at fault, and the port stays disconnected. When
  // `counters_file` is not empty, the board's counter report (one
  // "name=value" line per counter: port reads and writes, TCK cycles, scans,
  // core instructions, flash cycles) is written there when the port closes.
  BoardPort(const std::filesystem::path& board_file, const Reporter& report,
            std::filesystem::path counters_file = {});
  ~BoardPort();
  BoardPort(const BoardPort&) = delete;
  BoardPort& operator=(const BoardPort&) = delete;

  // Thread-safe: a module may reach the port from its worker thread. One
  // thread at a time passes without locking (see ClientGate).
  std::uint8_t Read(std::uint32_t port) {
    if (port_ == nullptr) return 0xFF;
    return gate_.Pass([&] { return port_->Read(port); });
  }
  void Write(std::uint32_t port, std::uint8_t value) {
    if (port_ == nullptr) return;
    gate_.Pass([&] {
      port_->Write(port, value);
      if (real_time_ && !behind_reported_) CheckBehind();
    });
  }

  bool Connected() const { return board_ != nullptr; }
  // The board with its JTAG side; null when disconnected.
  JtagBoard* board() { return board_.get(); }

 private:
  // Reports, once, a real-time board that could not keep up with the host.
  void CheckBehind();

  ClientGate gate_;
  std::unique_ptr<JtagBoard> board_;
  // The board's port, looked up once for every access; null: disconnected.
  ParallelPort* port_ = nullptr;
  Reporter report_;
  std::filesystem::path counters_file_;
  bool real_time_ = false;  // only a real-time board can fall behind the host
  bool behind_reported_ = false;
};

}  // namespace simboard
