// libFuzzer target: the board file, as the port library and the board tool
// read it: the description with every region and fault checked, then the
// keys of the probe and JTAG side.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "simboard/description/board_file.h"
#include "simboard/board/board_jtag.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto board = simboard::ParseBoardText(text, "/nonexistent/board.ini", error);
  if (!board) {
    if (error.empty()) std::abort();  // a refused file always says why
    return 0;
  }
  std::string jtag_error;
  simboard::JtagSettingsFor(*board, jtag_error);
  return 0;
}
