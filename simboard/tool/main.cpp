// romsmith-simboard: the virtual board as a program. Each verb builds the
// board from its board file and does one thing with it.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "simboard/board/board.h"
#include "simboard/board/semihosting.h"
#include "simboard/tool/tool_options.h"
#include "simboard/tool/remote_bitbang_verb.h"

namespace {

using simboard::Board;
using simboard::ToolOptions;

constexpr int kExitDone = 0;
constexpr int kExitStopped = 1;
constexpr int kExitUsage = 2;

const char* ExceptionName(simboard::Exception exception) {
  switch (exception) {
    case simboard::Exception::Reset: return "reset";
    case simboard::Exception::Undefined: return "undefined instruction";
    case simboard::Exception::Swi: return "SWI";
    case simboard::Exception::PrefetchAbort: return "prefetch abort";
    case simboard::Exception::DataAbort: return "data abort";
    case simboard::Exception::Irq: return "IRQ";
    case simboard::Exception::Fiq: return "FIQ";
  }
  return "exception";
}

void PrintRegisters(simboard::ArmCore& core) {
  for (unsigned n = 0; n < 16; ++n) std::printf("R%u=0x%08X\n", n, core.Register(n));
  std::printf("CPSR=0x%08X\n", core.Cpsr());
}

int RunExec(Board& board, const ToolOptions& options) {
  std::ifstream in(options.exec_image, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "romsmith-simboard: cannot read %s\n", options.exec_image.c_str());
    return kExitUsage;
  }
  std::vector<std::uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (image.size() > 0xFFFFFFFFu ||
      !board.Poke(options.exec_address, static_cast<std::uint32_t>(image.size()), image.data())) {
    std::fprintf(stderr, "romsmith-simboard: %s (%zu bytes) does not fit in the board's memory at 0x%08X\n",
                 options.exec_image.c_str(), image.size(), options.exec_address);
    return kExitUsage;
  }
  board.Reset();
  board.core().SetPc(options.exec_address);

  simboard::Semihosting semihosting(board, std::cout);
  using simboard::Exception;
  unsigned stop_on = 1u << static_cast<unsigned>(Exception::Undefined) |
                     1u << static_cast<unsigned>(Exception::Swi) |
                     1u << static_cast<unsigned>(Exception::PrefetchAbort) |
                     1u << static_cast<unsigned>(Exception::DataAbort);
  simboard::RunResult run = board.Run(options.max_instructions.value_or(0), stop_on);
  std::cout.flush();

  int status = kExitStopped;
  if (semihosting.exited()) {
    status = kExitDone;
  } else if (run.last.exception_taken) {
    std::fprintf(stderr, "romsmith-simboard: stopped by the %s of the instruction at 0x%08X\n",
                 ExceptionName(run.last.exception), run.last.address);
  } else if (run.limit_reached) {
    std::fprintf(stderr, "romsmith-simboard: stopped after %llu instructions\n",
                 static_cast<unsigned long long>(run.instructions));
  } else {
    std::fprintf(stderr, "romsmith-simboard: the core halted at 0x%08X\n", board.core().Pc());
  }
  PrintRegisters(board.core());
  return status;
}

int RunInfo(Board& board, const ToolOptions&) {
  std::fputs(board.Info().c_str(), stdout);
  return kExitDone;
}

struct Verb {
  simboard::ToolVerb verb;
  int (*run)(Board& board, const ToolOptions& options);
};

const Verb kVerbs[] = {
    {simboard::ToolVerb::Exec, RunExec},
    {simboard::ToolVerb::Info, RunInfo},
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  ToolOptions options;
  std::string error;
  if (!simboard::ParseToolOptions(arguments, options, error)) {
    std::fprintf(stderr, "romsmith-simboard: %s\n%s", error.c_str(), simboard::ToolUsage().c_str());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(simboard::ToolUsage().c_str(), stdout);
    return kExitDone;
  }
  std::unique_ptr<Board> board = Board::Open(options.board, error);
  if (!board) {
    std::fprintf(stderr, "romsmith-simboard: %s\n", error.c_str());
    return kExitUsage;
  }
  if (options.verb == simboard::ToolVerb::RemoteBitbang) {
    return simboard::RunRemoteBitbang(std::move(board), options.remote_bitbang_port);
  }
  for (const auto& verb : kVerbs) {
    if (verb.verb == options.verb) return verb.run(*board, options);
  }
  return kExitUsage;
}
