// The JTAG test access port of an ARM7TDMI- or ARM9TDMI-class core, seen
// from its pins: the 16-state TAP controller (IEEE 1149.1), the 4-bit
// instruction register, the bypass and IDCODE registers and the scan chain
// select register (4 bits on the ARM7TDMI, 5 on the ARM9TDMI). The
// scan chains behind INTEST and EXTEST belong to the core's debug logic and
// are reached through the ScanChains interface.
//
// Edges: the controller moves and shifts on the rising edge of TCK; TDO
// changes on the falling edge, so a probe that reads TDO with TCK low sees
// the bit that the next rising edge shifts out.
#pragma once

#include <cstdint>

namespace simboard {

enum class TapState : std::uint8_t {
  TestLogicReset, RunTestIdle,
  SelectDrScan, CaptureDr, ShiftDr, Exit1Dr, PauseDr, Exit2Dr, UpdateDr,
  SelectIrScan, CaptureIr, ShiftIr, Exit1Ir, PauseIr, Exit2Ir, UpdateIr,
};

TapState NextTapState(TapState state, bool tms);
const char* TapStateName(TapState state);

// TAP instructions of both cores (technical reference manuals, "Public JTAG
// instructions"). Codes not listed select the bypass register.
namespace tap_instruction {
inline constexpr unsigned kExtest = 0x0;
inline constexpr unsigned kScanN = 0x2;
inline constexpr unsigned kSamplePreload = 0x3;
inline constexpr unsigned kRestart = 0x4;
inline constexpr unsigned kClamp = 0x5;
inline constexpr unsigned kHighZ = 0x7;
inline constexpr unsigned kClampZ = 0x9;
inline constexpr unsigned kIntest = 0xC;
inline constexpr unsigned kIdCode = 0xE;
inline constexpr unsigned kBypass = 0xF;
}  // namespace tap_instruction

inline constexpr unsigned kIrLength = 4;
inline constexpr std::uint32_t kIrCaptureValue = 0b0001;      // loaded at Capture-IR
inline constexpr std::uint32_t kScanSelectCapture = 0b1000;  // loaded at Capture-DR under SCAN_N
inline constexpr unsigned kScanSelectResetChain = 3;          // selected after test-logic reset

// The scan chain select register: its length, what Capture-DR loads into it
// and the chain test-logic reset selects.
struct ScanSelectFormat {
  unsigned length;
  std::uint32_t capture;
  unsigned reset_chain;
};
inline constexpr ScanSelectFormat kArm7ScanSelect{4, 0b1000, 3};
inline constexpr ScanSelectFormat kArm9ScanSelect{5, 0b10000, 3};

// A data register's contents, bit 0 nearest TDO; wide enough for the
// ARM9TDMI's 67-bit scan chain 1.
__extension__ typedef unsigned __int128 ScanBits;
inline constexpr unsigned kMaxChainLength = 128;

// The scan chains that INTEST and EXTEST connect between TDI and TDO, and
// the debug logic's view of the TAP's states. Values are bit 0 = the bit
// nearest TDO (shifted out first).
class ScanChains {
 public:
  virtual ~ScanChains() = default;
  // Length in bits of `chain` (1..kMaxChainLength); 0 for a chain that does
  // not exist, which then behaves as a one-bit register capturing 0.
  virtual unsigned ChainLength(unsigned chain) const = 0;
  virtual ScanBits Capture(unsigned chain, bool intest) = 0;
  virtual void Update(unsigned chain, bool intest, ScanBits value) = 0;
  // The TAP entered Run-Test/Idle from another state with `instruction` in
  // the IR and `chain` selected (RESTART acts here, and the debug clock of a
  // core in debug state); further clocks in Run-Test/Idle do not call it.
  virtual void EnterRunTestIdle(unsigned instruction, unsigned chain) = 0;
  // Test-logic reset, by TMS or by nTRST.
  virtual void TestLogicReset() = 0;
};

struct TapCounters {
  std::uint64_t tck_cycles = 0;      // rising edges of TCK
  std::uint64_t ir_scans = 0;        // passes through Update-IR
  std::uint64_t dr_scans[32] = {};   // passes through Update-DR under INTEST/EXTEST, per chain
  std::uint64_t other_dr_scans = 0;  // passes through Update-DR under the other instructions
};

class TapController {
 public:
  TapController(std::uint32_t id_code, ScanChains* chains,
                ScanSelectFormat scan_select = kArm7ScanSelect);

  // The probe drives the pins; edges of TCK act as on silicon.
  void SetPins(bool tck, bool tms, bool tdi) {
    if (tck == tck_) return;
    tck_ = tck;
    if (!tck) {
      FallingEdge();
    } else if (state_ == TapState::ShiftDr && !tms && !trst_) {
      // Most edges of a scan: one more bit in, still in Shift-DR.
      ++counters_.tck_cycles;
      ShiftDrIn(tdi);
    } else {
      RisingEdge(tms, tdi);
    }
  }
  bool Tdo() const { return tdo_; }
  // nTRST: while asserted the controller stays in Test-Logic-Reset.
  void SetTestReset(bool asserted);

  // One full TCK period (low, then high, then low again): the return value is
  // TDO after the falling edge.
  bool Clock(bool tms, bool tdi);

  TapState State() const { return state_; }
  unsigned Instruction() const { return ir_; }
  unsigned SelectedChain() const { return scan_select_; }
  const TapCounters& Counters() const { return counters_; }
  void ResetCounters() { counters_ = {}; }

 private:
  void RisingEdge(bool tms, bool tdi);
  // The data register moves one bit towards TDO, `tdi` coming in on top.
  void ShiftDrIn(bool tdi) {
    dr_shift_ >>= 1;
    if (tdi) dr_shift_ |= ScanBits{1} << (dr_length_ - 1);
  }
  void FallingEdge() {
    if (state_ == TapState::ShiftDr)
      tdo_ = (dr_shift_ & 1) != 0;
    else if (state_ == TapState::ShiftIr)
      tdo_ = (ir_shift_ & 1) != 0;
    else
      tdo_ = true;
  }
  void Reset();
  void CaptureDataRegister();
  void UpdateDataRegister();
  // Which data register the current instruction puts between TDI and TDO.
  enum class Path : std::uint8_t { Bypass, IdCode, ScanSelect, Chain };
  Path CurrentPath() const;

  std::uint32_t id_code_;
  ScanChains* chains_;
  ScanSelectFormat scan_select_format_;
  TapState state_ = TapState::TestLogicReset;
  bool tck_ = false;
  bool tdo_ = true;  // not driven: pulled up
  bool trst_ = false;
  unsigned ir_ = tap_instruction::kIdCode;
  std::uint32_t ir_shift_ = 0;
  unsigned scan_select_;
  ScanBits dr_shift_ = 0;
  unsigned dr_length_ = 1;
  TapCounters counters_;
};

}  // namespace simboard
