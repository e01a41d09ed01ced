#include "simboard/debug/jtag_tap.h"

namespace simboard {

namespace {

struct Transition {
  TapState on_zero;
  TapState on_one;
  const char* name;
};

// IEEE 1149.1 state diagram, indexed by TapState.
constexpr Transition kTransitions[] = {
    {TapState::RunTestIdle, TapState::TestLogicReset, "Test-Logic-Reset"},
    {TapState::RunTestIdle, TapState::SelectDrScan, "Run-Test/Idle"},
    {TapState::CaptureDr, TapState::SelectIrScan, "Select-DR-Scan"},
    {TapState::ShiftDr, TapState::Exit1Dr, "Capture-DR"},
    {TapState::ShiftDr, TapState::Exit1Dr, "Shift-DR"},
    {TapState::PauseDr, TapState::UpdateDr, "Exit1-DR"},
    {TapState::PauseDr, TapState::Exit2Dr, "Pause-DR"},
    {TapState::ShiftDr, TapState::UpdateDr, "Exit2-DR"},
    {TapState::RunTestIdle, TapState::SelectDrScan, "Update-DR"},
    {TapState::CaptureIr, TapState::TestLogicReset, "Select-IR-Scan"},
    {TapState::ShiftIr, TapState::Exit1Ir, "Capture-IR"},
    {TapState::ShiftIr, TapState::Exit1Ir, "Shift-IR"},
    {TapState::PauseIr, TapState::UpdateIr, "Exit1-IR"},
    {TapState::PauseIr, TapState::Exit2Ir, "Pause-IR"},
    {TapState::ShiftIr, TapState::UpdateIr, "Exit2-IR"},
    {TapState::RunTestIdle, TapState::SelectDrScan, "Update-IR"},
};

}  // namespace

TapState NextTapState(TapState state, bool tms) {
  const Transition& t = kTransitions[static_cast<unsigned>(state)];
  return tms ? t.on_one : t.on_zero;
}

const char* TapStateName(TapState state) { return kTransitions[static_cast<unsigned>(state)].name; }

TapController::TapController(std::uint32_t id_code, ScanChains* chains,
                             ScanSelectFormat scan_select)
    : id_code_(id_code), chains_(chains), scan_select_format_(scan_select),
      scan_select_(scan_select.reset_chain) {}

bool TapController::Clock(bool tms, bool tdi) {
  SetPins(false, tms, tdi);
  SetPins(true, tms, tdi);
  SetPins(false, tms, tdi);
  return tdo_;
}

void TapController::SetTestReset(bool asserted) {
  trst_ = asserted;
  if (asserted) {
    state_ = TapState::TestLogicReset;
    tdo_ = true;
    Reset();
  }
}

void TapController::Reset() {
  ir_ = tap_instruction::kIdCode;
  scan_select_ = scan_select_format_.reset_chain;
  if (chains_) chains_->TestLogicReset();
}

TapController::Path TapController::CurrentPath() const {
  switch (ir_) {
    case tap_instruction::kIdCode: return Path::IdCode;
    case tap_instruction::kScanN: return Path::ScanSelect;
    case tap_instruction::kIntest:
    case tap_instruction::kExtest: return Path::Chain;
    default: return Path::Bypass;  // BYPASS, RESTART, CLAMP, HIGHZ, CLAMPZ, SAMPLE/PRELOAD, reserved
  }
}

void TapController::CaptureDataRegister() {
  switch (CurrentPath()) {
    case Path::Bypass:
      dr_length_ = 1;
      dr_shift_ = 0;
      break;
    case Path::IdCode:
      dr_length_ = 32;
      dr_shift_ = id_code_;
      break;
    case Path::ScanSelect:
      dr_length_ = scan_select_format_.length;
      dr_shift_ = scan_select_format_.capture;
      break;
    case Path::Chain: {
      unsigned length = chains_ ? chains_->ChainLength(scan_select_) : 0;
      if (length == 0) {
        dr_length_ = 1;
        dr_shift_ = 0;
      } else {
        dr_length_ = length;
        dr_shift_ = chains_->Capture(scan_select_, ir_ == tap_instruction::kIntest);
        if (length < kMaxChainLength) dr_shift_ &= (ScanBits{1} << length) - 1;
      }
      break;
    }
  }
}

void TapController::UpdateDataRegister() {
  switch (CurrentPath()) {
    case Path::Bypass:
    case Path::IdCode:
      ++counters_.other_dr_scans;
      break;
    case Path::ScanSelect:
      ++counters_.other_dr_scans;
      scan_select_ = static_cast<unsigned>(dr_shift_ & ((1u << scan_select_format_.length) - 1));
      break;
    case Path::Chain:
      ++counters_.dr_scans[scan_select_ & 0x1F];
      if (chains_ && chains_->ChainLength(scan_select_) != 0)
        chains_->Update(scan_select_, ir_ == tap_instruction::kIntest, dr_shift_);
      break;
  }
}

void TapController::RisingEdge(bool tms, bool tdi) {
  ++counters_.tck_cycles;
  if (trst_) return;
  // The register of a shift state moves one bit towards TDO on this edge.
  if (state_ == TapState::ShiftDr) {
    ShiftDrIn(tdi);
  } else if (state_ == TapState::ShiftIr) {
    ir_shift_ >>= 1;
    if (tdi) ir_shift_ |= 1u << (kIrLength - 1);
  }
  TapState previous = state_;
  const Transition& transition = kTransitions[static_cast<unsigned>(state_)];
  TapState next = tms ? transition.on_one : transition.on_zero;
  state_ = next;
  switch (next) {
    case TapState::TestLogicReset: Reset(); break;
    case TapState::CaptureDr: CaptureDataRegister(); break;
    case TapState::UpdateDr: UpdateDataRegister(); break;
    case TapState::CaptureIr: ir_shift_ = kIrCaptureValue; break;
    case TapState::UpdateIr:
      ++counters_.ir_scans;
      ir_ = ir_shift_ & ((1u << kIrLength) - 1);
      break;
    case TapState::RunTestIdle:
      if (chains_ && previous != TapState::RunTestIdle) chains_->EnterRunTestIdle(ir_, scan_select_);
      break;
    default: break;
  }
}

}  // namespace simboard
