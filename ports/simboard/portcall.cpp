// portcall.so for the virtual board: port_readb and port_writeb reach the
// parallel port of one board, opened at the first access from the board file
// that ROMSMITH_BOARD names, else board.ini beside this library. The board is
// closed (its flash images brought up to date) when the library unloads; if
// ROMSMITH_BOARD_COUNTERS names a file, the board's counter report is written
// there then.
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "ports/simboard/board_port.h"

namespace {

std::filesystem::path LibraryDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&LibraryDirectory), &info) == 0 || info.dli_fname == nullptr)
    return std::filesystem::current_path();
  std::error_code ignored;
  std::filesystem::path library = std::filesystem::absolute(info.dli_fname, ignored);
  return library.parent_path();
}

// The board, opened at the first access. Apart from the first, an access
// costs one load here; the opening itself is kept out of the way.
[[gnu::noinline]] simboard::BoardPort* OpenPort() {
  static simboard::BoardPort port(
      simboard::PortBoardFile(std::getenv("ROMSMITH_BOARD"), LibraryDirectory()),
      [](const std::string& line) { std::fputs(line.c_str(), stderr); },
      [] {
        const char* file = std::getenv("ROMSMITH_BOARD_COUNTERS");
        return file != nullptr ? std::filesystem::path(file) : std::filesystem::path();
      }());
  return &port;
}

std::atomic<simboard::BoardPort*> opened{nullptr};

simboard::BoardPort& Port() {
  simboard::BoardPort* port = opened.load(std::memory_order_acquire);
  if (port == nullptr) {
    port = OpenPort();
    opened.store(port, std::memory_order_release);
  }
  return *port;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) unsigned int port_readb(unsigned int port) {
  return Port().Read(port);
}

extern "C" __attribute__((visibility("default"))) void port_writeb(unsigned int port,
                                                                   unsigned int value) {
  Port().Write(port, static_cast<std::uint8_t>(value));
}
