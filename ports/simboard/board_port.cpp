#include "ports/simboard/board_port.h"

#include "simboard/board_jtag.h"

namespace simboard {

std::filesystem::path PortBoardFile(const char* environment,
                                    const std::filesystem::path& library_directory) {
  if (environment != nullptr && *environment != '\0') return std::filesystem::path(environment);
  return library_directory / "board.ini";
}

BoardPort::BoardPort(const std::filesystem::path& board_file, const Reporter& report) {
  std::string error;
  board_ = JtagBoard::Open(board_file, error);
  if (board_) return;
  // Board file errors name the section and key, some the file by its name
  // alone: the message names it by the path it was opened as.
  std::string file = board_file.string();
  std::string name = board_file.filename().string() + ": ";
  if (error.rfind(file + ": ", 0) != 0) {
    if (error.rfind(name, 0) == 0) error.erase(0, name.size());
    error = file + ": " + error;
  }
  if (report) report("virtual board port: " + error + " (the port reads as disconnected)\n");
}

BoardPort::~BoardPort() = default;

std::uint8_t BoardPort::Read(std::uint32_t port) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!board_) return 0xFF;
  return board_->port().Read(port);
}

void BoardPort::Write(std::uint32_t port, std::uint8_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (board_) board_->port().Write(port, value);
}

}  // namespace simboard
