// romsmith-simboard --remote-bitbang: the board's JTAG connector served to
// OpenOCD's remote_bitbang adapter.
#pragma once

#include <cstdint>
#include <memory>

#include "simboard/board/board.h"

namespace simboard {

// Serves until a client quits or SIGINT/SIGTERM arrives, then prints the
// counters. Returns the exit status: 0 done, 1 the socket failed, 2 the
// board has no JTAG side that can be built.
int RunRemoteBitbang(std::unique_ptr<Board> board, std::uint16_t port);

}  // namespace simboard
