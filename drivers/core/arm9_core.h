// ARM9TDMI debug access (ARM920T cores included): the operations of the
// ARM7 family over the 67-bit scan chain 1 and the five-stage pipeline.
//
// Chain 1, position 0 nearest TDO: 0-31 the data bus (bit 0 first), 32 a 0,
// 33 a 1, 34 the system-speed bit (captured: the watchpoint indicator),
// 35-66 the instruction bus, bit 31 first. An instruction alone goes in with
// the last 35 positions only; a word the core loads goes in with all 67,
// paired with a NOP.
#pragma once

#include "drivers/core/arm7_core.h"

namespace drivers {

class Arm9Core final : public Arm7Core {
 public:
  Arm9Core(Jtag* jtag, DriverState* state, Arm7Timing timing);

  bool LoadBank(int index) override;
  bool Resume() override;
  // No watchpoint unit: a debug request, then polls until the core is in
  // debug state with its last system-speed access complete.
  int Halt() override;
  // The core's own single-step bit in the debug control register.
  bool SingleStep() override;

 protected:
  std::uint32_t Chain1(std::uint32_t word, bool fast, bool capture, int* breakpt) override;
  void FeedData(std::uint32_t word) override;
  void SystemSpeedAccess(std::uint32_t instruction) override;

 private:
  std::uint32_t Scan(std::uint32_t data, bool with_data, std::uint32_t instruction, bool fast,
                     bool capture, int* breakpt);
  void FeedThumbData(std::uint32_t word);
  void Nops(int count) {
    for (int k = 0; k < count; ++k) Feed(kArmNop);
  }
};

// Debug status bit 3: the last system-speed access has completed.
inline constexpr std::uint32_t kDebugSystemDone = 0x08;
// Debug control value for one step: INTDIS and the single-step bit.
inline constexpr std::uint32_t kDebugSingleStep = 12;

}  // namespace drivers
