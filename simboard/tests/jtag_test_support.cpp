#include "simboard/tests/jtag_test_support.h"

#include "simboard/debug/arm7_debug.h"
#include "simboard/debug/arm9_debug.h"
#include "simboard/debug/jtag_tap.h"

namespace simboard::testing {

bool JtagMaster::Clock(bool tms, bool tdi) {
  ++clocks;
  target_.SetPins(false, tms, tdi);
  bool tdo = target_.Tdo();
  target_.SetPins(true, tms, tdi);
  return tdo;
}

void JtagMaster::Reset() {
  for (int i = 0; i < 5; ++i) Clock(true, false);
  Clock(false, false);
}

std::uint32_t JtagMaster::IrScan(std::uint32_t instruction, unsigned length) {
  Clock(true, false);   // Select-DR-Scan
  Clock(true, false);   // Select-IR-Scan
  Clock(false, false);  // Capture-IR
  Clock(false, false);  // Shift-IR
  std::uint32_t captured = 0;
  for (unsigned k = 0; k < length; ++k) {
    bool last = k + 1 == length;
    if (Clock(last, (instruction >> k) & 1)) captured |= 1u << k;
  }
  Clock(true, false);   // Update-IR; the next scan starts from here
  return captured;
}

std::uint64_t JtagMaster::DrScan(std::uint64_t bits, unsigned length) {
  Clock(true, false);   // Select-DR-Scan
  Clock(false, false);  // Capture-DR
  Clock(false, false);  // Shift-DR
  std::uint64_t captured = 0;
  for (unsigned k = 0; k < length; ++k) {
    bool last = k + 1 == length;
    if (Clock(last, (bits >> k) & 1)) captured |= std::uint64_t{1} << k;
  }
  Clock(true, false);   // Update-DR
  Clock(false, false);  // Run-Test/Idle
  return captured;
}

ScanBits JtagMaster::DrScanWide(ScanBits bits, unsigned length) {
  Clock(true, false);   // Select-DR-Scan
  Clock(false, false);  // Capture-DR
  Clock(false, false);  // Shift-DR
  ScanBits captured = 0;
  for (unsigned k = 0; k < length; ++k) {
    bool last = k + 1 == length;
    if (Clock(last, ((bits >> k) & 1) != 0)) captured |= ScanBits{1} << k;
  }
  Clock(true, false);   // Update-DR
  Clock(false, false);  // Run-Test/Idle
  return captured;
}

unsigned JtagMaster::MeasureDr() {
  // Fill with zeros, then shift ones until the first one comes out.
  Clock(true, false);
  Clock(false, false);
  Clock(false, false);
  for (int k = 0; k < 200; ++k) Clock(false, false);
  unsigned length = 0;
  for (; length < 200; ++length)
    if (Clock(false, true)) break;
  Clock(true, true);   // Exit1-DR
  Clock(true, false);  // Update-DR
  Clock(false, false);
  return length;
}

bool JtagMaster::SelectChain(unsigned chain, unsigned select_bits) {
  if (IrScan(tap_instruction::kScanN) != kIrCaptureValue) return false;
  DrScan(chain, select_bits);
  return IrScan(tap_instruction::kIntest) == kIrCaptureValue;
}

std::uint32_t JtagMaster::IceRead(unsigned address) {
  DrScan(Chain2Word(address, 0, false), kChain2Length);
  return static_cast<std::uint32_t>(DrScan(Chain2Word(address, 0, false), kChain2Length));
}

void JtagMaster::IceWrite(unsigned address, std::uint32_t value) {
  DrScan(Chain2Word(address, value, true), kChain2Length);
}

std::uint32_t JtagMaster::Chain1(std::uint32_t word, bool breakpt, bool* captured_breakpt) {
  std::uint64_t out = DrScan(Chain1Word(word, breakpt), kChain1Length);
  if (captured_breakpt) *captured_breakpt = (out & 1) != 0;
  return Chain1Data(out);
}

ScanBits JtagMaster::Arm9Chain1(std::uint32_t instruction, std::uint32_t data, bool sysspeed) {
  return DrScanWide(arm9_chain1::Word(data, instruction, sysspeed), kArm9Chain1Length);
}

void JtagMaster::Restart() {
  IrScan(tap_instruction::kRestart);
  Clock(false, false);  // Run-Test/Idle: the core leaves debug state
}

}  // namespace simboard::testing
