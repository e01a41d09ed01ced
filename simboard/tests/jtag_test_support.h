// A small JTAG master for the tests: TAP moves on a JtagConnector, and the
// ARM7TDMI debug accesses built on them as the technical reference manual
// describes them (scan chain select, EmbeddedICE reads and writes, chain 1
// instruction scans, RESTART).
#pragma once

#include <cstdint>
#include <vector>

#include "simboard/debug/jtag_tap.h"
#include "simboard/debug/probe.h"

namespace simboard::testing {

class JtagMaster {
 public:
  explicit JtagMaster(JtagConnector& target) : target_(target) {}

  // One TCK period; TDO as sampled with TCK low before the rising edge.
  bool Clock(bool tms, bool tdi);
  // Five clocks with TMS high, then one low: Run-Test/Idle.
  void Reset();
  // From Run-Test/Idle or an Update state to Update-IR; returns the captured IR bits.
  std::uint32_t IrScan(std::uint32_t instruction, unsigned length = 4);
  // From Run-Test/Idle or an Update state through Update-DR to Run-Test/Idle
  // (the debug clock of a core in debug state); bit 0 first.
  std::uint64_t DrScan(std::uint64_t bits, unsigned length);
  ScanBits DrScanWide(ScanBits bits, unsigned length);
  // Length of the data register the current instruction selects (up to 200).
  unsigned MeasureDr();

  // ARM7TDMI helpers.
  // SCAN_N, chain number (4 bits on the ARM7TDMI, 5 on the ARM9TDMI),
  // INTEST; false on a bad IR capture.
  bool SelectChain(unsigned chain, unsigned select_bits = 4);
  std::uint32_t IceRead(unsigned address);
  void IceWrite(unsigned address, std::uint32_t value);
  // One chain-1 scan under INTEST: the captured data bus word.
  std::uint32_t Chain1(std::uint32_t word, bool breakpt = false, bool* captured_breakpt = nullptr);
  void Restart();  // RESTART, then Run-Test/Idle

  // ARM9TDMI: one 67-bit chain-1 scan under INTEST with the data word, the
  // instruction and SYSSPEED; the captured chain.
  ScanBits Arm9Chain1(std::uint32_t instruction, std::uint32_t data = 0, bool sysspeed = false);

  std::uint64_t clocks = 0;

 private:
  JtagConnector& target_;
};

}  // namespace simboard::testing
