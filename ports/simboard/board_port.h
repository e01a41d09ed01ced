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
#include <mutex>
#include <string>

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
  // file and the key at fault, and the port stays disconnected.
  BoardPort(const std::filesystem::path& board_file, const Reporter& report);
  ~BoardPort();
  BoardPort(const BoardPort&) = delete;
  BoardPort& operator=(const BoardPort&) = delete;

  // Thread-safe: a module may reach the port from its worker thread.
  std::uint8_t Read(std::uint32_t port);
  void Write(std::uint32_t port, std::uint8_t value);

  bool Connected() const { return board_ != nullptr; }
  // The board with its JTAG side; null when disconnected.
  JtagBoard* board() { return board_.get(); }

 private:
  std::mutex mutex_;
  std::unique_ptr<JtagBoard> board_;
};

}  // namespace simboard
