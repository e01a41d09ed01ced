// ARM7TDMI debug access: EmbeddedICE over scan chain 2, instructions and
// data fed into the core's pipeline over the 33-bit scan chain 1, and the
// branch back that resumes the core where the register file says.
#pragma once

#include <cstdint>

#include "drivers/core/core_access.h"
#include "drivers/core/driver_state.h"
#include "drivers/transport/jtag.h"

namespace drivers {

// JTAG instructions of the 4-bit IR.
enum JtagInstruction : std::uint32_t {
  kScanN = 2,
  kRestart = 4,
  kIntest = 12,
  kIdcode = 14,
};

inline constexpr std::uint32_t kArmNop = 0xE1A00000;    // MOV r0,r0
inline constexpr std::uint32_t kThumbNop = 0x46C046C0;  // MOV r8,r8, both halfwords

struct Arm7Timing {
  std::uint32_t reset_pulse_ms = 50;
  std::uint32_t reset_catch_ms = 250;
  int halt_polls = 255;
  int scan_n_bits = 4;
};

class Arm7Core final : public CoreAccess {
 public:
  Arm7Core(Jtag* jtag, DriverState* state, Arm7Timing timing)
      : jtag_(jtag), state_(state), timing_(timing) {}

  void set_jtag(Jtag* jtag) { jtag_ = jtag; }

  bool ReadDebugStatus(std::uint32_t* status) override;
  bool ReadIce(int address, std::uint32_t* value) override;
  bool WriteIce(int address, std::uint32_t value) override;
  std::uint32_t ReadIdcode() override;
  bool ReadRegisters() override;
  bool LoadBank(int index) override;
  bool Resume() override;
  int Halt() override;
  bool SingleStep() override;
  bool ResetAndCatch() override;
  bool Load(std::uint32_t address, int width, std::uint32_t* value,
            bool check_halted = true) override;
  bool Store(std::uint32_t address, int width, std::uint32_t value,
             bool check_halted = true) override;
  bool BlockLoad(std::uint32_t address, std::uint32_t* words, int count,
                 bool check_halted = true) override;
  bool BlockStore(std::uint32_t address, const std::uint32_t* words, int count,
                  bool check_halted = true) override;

  // Chain selection: SCAN_N, the chain number, then INTEST.
  bool SelectChain(int chain);
  bool Intest();

 private:
  // One chain-1 access: the system-speed bit, then the word from bit 31
  // down; returns the data bus as captured (0 without capture). `plus` counts
  // one pipeline advance.
  std::uint32_t Chain1(std::uint32_t word, bool fast, bool capture, int* breakpt);
  void Feed(std::uint32_t word, bool plus = false) { Chain1(word, false, false, nullptr), Count(plus); }
  std::uint32_t FeedRead(std::uint32_t word, bool plus = false) {
    const std::uint32_t value = Chain1(word, false, true, nullptr);
    Count(plus);
    return value;
  }
  void FeedFast(std::uint32_t word, bool plus = false) { Chain1(word, true, false, nullptr), Count(plus); }
  void Count(bool plus) { state_->cycle_counter += plus ? 1 : 0; }
  // RESTART, the idle clock and the pause for the system-speed access.
  bool RestartForAccess();
  bool CheckHalted(const char* refusal);
  // Polls for DBGACK up to `limit` times; `missed` counts polls without it.
  bool PollHalted(int limit, std::uint32_t* status, int* missed, bool* read_failed);
  bool SaveUnits(int first_unit, int units, std::uint32_t saved[12]);
  void RestoreUnits(int first_unit, int units, const std::uint32_t saved[12]);

  Jtag* jtag_;
  DriverState* state_;
  Arm7Timing timing_;
};

}  // namespace drivers
