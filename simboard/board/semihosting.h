// The ARM semihosting calls a test program on the board may make: an SWI with
// comment 0x123456 (ARM state) or 0xAB (THUMB state), the operation in R0 and
// its argument in R1. Served here: SYS_WRITEC (0x03, R1 points at one
// character), SYS_WRITE0 (0x04, R1 points at a zero-terminated text) and
// SYS_EXIT (0x18), which stops the core. Other SWIs are left to the program.
#pragma once

#include <cstdint>
#include <ostream>

#include "simboard/board/board.h"

namespace simboard {

inline constexpr std::uint32_t kSemihostingArm = 0x123456;
inline constexpr std::uint32_t kSemihostingThumb = 0xAB;
inline constexpr std::uint32_t kSysWriteC = 0x03;
inline constexpr std::uint32_t kSysWrite0 = 0x04;
inline constexpr std::uint32_t kSysExit = 0x18;

class Semihosting {
 public:
  // Installs itself as the core's SWI hook until destroyed.
  Semihosting(Board& board, std::ostream& out);
  ~Semihosting();
  Semihosting(const Semihosting&) = delete;
  Semihosting& operator=(const Semihosting&) = delete;

  bool exited() const { return exited_; }
  std::uint32_t exit_reason() const { return exit_reason_; }  // R1 of SYS_EXIT

 private:
  SwiAction Handle(std::uint32_t comment, bool thumb);

  Board& board_;
  std::ostream& out_;
  bool exited_ = false;
  std::uint32_t exit_reason_ = 0;
};

}  // namespace simboard
