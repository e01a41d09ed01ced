// ARM7TDMI debug access: EmbeddedICE over scan chain 2, instructions and
// data fed into the core's pipeline over the 33-bit scan chain 1, and the
// branch back that resumes the core where the register file says. The ARM9
// family (arm9_core.h) keeps these operations and replaces the chain-1 form,
// the register-store instructions and the run control its pipeline changes.
#pragma once

#include <cstdint>

#include "drivers/core/core_access.h"
#include "drivers/core/driver_state.h"
#include "drivers/core/module_profile.h"
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
  // ARM9 halt: the line when the registers cannot be read afterwards.
  const char* halt_registers_failed = nullptr;
};

inline Arm7Timing TimingOf(const ModuleProfile& profile) {
  return {profile.timing.reset_pulse_ms, profile.timing.reset_catch_ms, profile.timing.halt_polls,
          profile.scan_n_bits(), profile.halt_registers_failed};
}

inline constexpr const char* kStopFailed =
    "Debug: Unknown error occurred!!\n \tStop command execute failed!!\n";

// How a register read stores the core's registers and undoes the PC's run
// ahead of the halt address.
struct RegisterReadForm {
  std::uint32_t store_all;         // ARM state: R0-R15
  std::uint32_t store_thumb_high;  // after the THUMB prologue: R1-R14
  int arm_correction;              // halted by breakpoint or watchpoint
  int arm_request_correction;      // halted by debug request
  int thumb_correction;
  int thumb_request_correction;
};

class Arm7Core : public CoreAccess {
 public:
  Arm7Core(Jtag* jtag, DriverState* state, Arm7Timing timing);

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
  bool WriteComms(const std::uint32_t* words, std::uint32_t count, std::uint32_t check_every,
                  CommsProgress* out) override;

  // Chain selection: SCAN_N, the chain number, then INTEST.
  bool SelectChain(int chain);
  bool Intest();

 protected:
  Arm7Core(Jtag* jtag, DriverState* state, Arm7Timing timing, RegisterReadForm form);

  // One chain-1 access carrying an instruction (or, on ARM7, any word): the
  // system-speed bit, then the word from bit 31 down; returns the data bus as
  // captured (0 without capture).
  virtual std::uint32_t Chain1(std::uint32_t word, bool fast, bool capture, int* breakpt);
  // A word the core loads from the data bus.
  virtual void FeedData(std::uint32_t word) { Feed(word); }
  // What follows the address and data of a memory access: the access
  // instruction, with the system-speed flag where the pipeline wants it.
  virtual void SystemSpeedAccess(std::uint32_t instruction);

  void Feed(std::uint32_t word, bool plus = false) { Chain1(word, false, false, nullptr), Count(plus); }
  std::uint32_t FeedRead(std::uint32_t word, bool plus = false) {
    const std::uint32_t value = Chain1(word, false, true, nullptr);
    Count(plus);
    return value;
  }
  void FeedFast(std::uint32_t word, bool plus = false) { Chain1(word, true, false, nullptr), Count(plus); }
  void Count(bool plus) { state_->cycle_counter += plus ? 1 : 0; }
  // Chain 1 and INTEST for a resume, with its line when they fail.
  bool SelectForResume();
  // r0 := CPSR with the mode bits `set_mode` ORs in, written to the CPSR
  // (r0 holds the CPSR already).
  void FeedModeSwitch(std::uint32_t set_mode, bool plus);
  // DBGRQ and INTDIS, an idle clock, then polls until the status has the
  // bits of `until`; the halt's lines on the way.
  bool RequestDebug(std::uint32_t until, std::uint32_t* status);
  // A halted core: THUMB flag from `status`, interrupts kept off, registers
  // read (`registers_failed`: the line when they cannot be).
  bool TakeHalted(std::uint32_t status, const char* registers_failed);
  // Stepping needs a halted core.
  bool StepAllowed();
  // After the core was let go for one step: the messages, the halt when it
  // did not come back, and the register read when it did.
  bool FinishStep(bool halted, bool read_failed, int missed);
  // RESTART, the idle clock and the pause for the system-speed access.
  bool RestartForAccess();
  // The block load in groups of up to 14 words (the "FastRead" option).
  bool WideBlockLoad(std::uint32_t address, std::uint32_t* words, int count);
  bool CheckHalted(const char* refusal);
  // Polls for DBGACK up to `limit` times; `missed` counts polls without it.
  bool PollHalted(int limit, std::uint32_t* status, int* missed, bool* read_failed,
                  std::uint32_t until = kDebugAck);
  // One chain-2 scan from Update-DR or Run-Test/Idle, ending in Update-DR;
  // with `captured` the 32 data bits that leave (the register a read scan
  // named before).
  void Chain2Scan(int address, std::uint32_t value, bool write, std::uint32_t* captured);
  // The comms control register; a set W bit also brings the core's word.
  void CheckComms(CommsProgress* out);
  bool SaveUnits(int first_unit, int units, std::uint32_t saved[12]);
  void RestoreUnits(int first_unit, int units, const std::uint32_t saved[12]);

  Jtag* jtag_;
  DriverState* state_;
  Arm7Timing timing_;
  RegisterReadForm form_;
};

}  // namespace drivers
