#include "simboard/board/semihosting.h"

namespace simboard {

Semihosting::Semihosting(Board& board, std::ostream& out) : board_(board), out_(out) {
  board_.core().SetSwiHook([this](std::uint32_t comment, bool thumb) { return Handle(comment, thumb); });
}

Semihosting::~Semihosting() { board_.core().SetSwiHook(nullptr); }

SwiAction Semihosting::Handle(std::uint32_t comment, bool thumb) {
  if (comment != (thumb ? kSemihostingThumb : kSemihostingArm)) return SwiAction::TakeException;
  ArmCore& core = board_.core();
  std::uint32_t operation = core.Register(0);
  std::uint32_t argument = core.Register(1);
  switch (operation) {
    case kSysWriteC: {
      std::uint8_t c;
      if (board_.Peek(argument, 1, &c)) out_.put(static_cast<char>(c));
      out_.flush();
      return SwiAction::Resume;
    }
    case kSysWrite0: {
      // Bounded so a missing terminator cannot run through all of memory.
      for (std::uint32_t n = 0; n < (1u << 20); ++n) {
        std::uint8_t c;
        if (!board_.Peek(argument + n, 1, &c) || c == 0) break;
        out_.put(static_cast<char>(c));
      }
      out_.flush();
      return SwiAction::Resume;
    }
    case kSysExit:
      exited_ = true;
      exit_reason_ = argument;
      return SwiAction::Halt;
    default:
      // An operation we do not serve returns -1 in R0, as the interface says
      // for a failed call.
      core.SetRegister(0, 0xFFFFFFFF);
      return SwiAction::Resume;
  }
}

}  // namespace simboard
