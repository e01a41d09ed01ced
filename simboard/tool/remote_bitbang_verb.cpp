#include "simboard/tool/remote_bitbang_verb.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "simboard/board/board_jtag.h"
#include "simboard/tool/remote_bitbang.h"

namespace simboard {

namespace {

std::atomic<bool> g_stop{false};

extern "C" void StopServing(int) { g_stop = true; }

}  // namespace

int RunRemoteBitbang(std::unique_ptr<Board> board, std::uint16_t port) {
  std::string error;
  std::unique_ptr<JtagBoard> jtag_board = JtagBoard::Create(std::move(board), error);
  if (!jtag_board) {
    std::fprintf(stderr, "romsmith-simboard: %s\n", error.c_str());
    return 2;
  }
  // ROMSMITH_JTAG_TRACE=1 lists what the core does in debug state on stderr.
  if (const char* trace = std::getenv("ROMSMITH_JTAG_TRACE"); trace && *trace && *trace != '0')
    jtag_board->jtag().Debug().SetTrace(
        [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
  RemoteBitbangServer server(jtag_board->jtag());
  if (!server.Listen(port, error)) {
    std::fprintf(stderr, "romsmith-simboard: %s\n", error.c_str());
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = StopServing;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  std::fprintf(stderr, "romsmith-simboard: serving remote_bitbang on 127.0.0.1:%u\n",
               static_cast<unsigned>(server.Port()));
  bool served = server.Serve(g_stop, error);
  if (!served) std::fprintf(stderr, "romsmith-simboard: %s\n", error.c_str());
  const BitbangCounters& bitbang = server.Protocol().Counters();
  std::printf("clients=%llu\nbitbang_commands=%llu\n",
              static_cast<unsigned long long>(bitbang.clients),
              static_cast<unsigned long long>(bitbang.commands));
  std::fputs(jtag_board->CounterReport().c_str(), stdout);
  std::fflush(stdout);
  return served ? 0 : 1;
}

}  // namespace simboard
