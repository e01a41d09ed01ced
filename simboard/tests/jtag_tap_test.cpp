// The TAP controller and the probe wirings, from IEEE 1149.1, the ARM7TDMI
// TAP description and the probes' wiring tables.
#include <gtest/gtest.h>

#include <vector>

#include "simboard/debug/jtag_tap.h"
#include "simboard/debug/probe.h"
#include "simboard/tests/jtag_test_support.h"

namespace simboard {
namespace {

using testing::JtagMaster;

// A scan chain set with one 7-bit chain (number 5) that remembers updates.
class FakeChains : public ScanChains {
 public:
  unsigned ChainLength(unsigned chain) const override { return chain == 5 ? 7 : 0; }
  ScanBits Capture(unsigned, bool intest) override {
    captured_intest = intest;
    return 0x55;
  }
  void Update(unsigned, bool, ScanBits value) override {
    updates.push_back(static_cast<std::uint64_t>(value));
  }
  void EnterRunTestIdle(unsigned instruction, unsigned) override { idle_entries.push_back(instruction); }
  void TestLogicReset() override { ++resets; }

  std::vector<std::uint64_t> updates;
  std::vector<unsigned> idle_entries;
  bool captured_intest = false;
  int resets = 0;
};

// The TAP as the board's connector: pins straight to the controller.
class TapConnector : public JtagConnector {
 public:
  explicit TapConnector(TapController& tap) : tap_(tap) {}
  void SetPins(bool tck, bool tms, bool tdi) override { tap_.SetPins(tck, tms, tdi); }
  bool Tdo() override { return tap_.Tdo(); }
  void SetTestReset(bool asserted) override { tap_.SetTestReset(asserted); }
  void SetSystemReset(bool asserted) override { system_reset.push_back(asserted); }
  std::vector<bool> system_reset;

 private:
  TapController& tap_;
};

TEST(TapStateMachine, FollowsTheStandardDiagram) {
  struct Step {
    TapState from;
    bool tms;
    TapState to;
  };
  const Step steps[] = {
      {TapState::TestLogicReset, true, TapState::TestLogicReset},
      {TapState::TestLogicReset, false, TapState::RunTestIdle},
      {TapState::RunTestIdle, true, TapState::SelectDrScan},
      {TapState::SelectDrScan, true, TapState::SelectIrScan},
      {TapState::SelectIrScan, true, TapState::TestLogicReset},
      {TapState::CaptureDr, true, TapState::Exit1Dr},
      {TapState::Exit1Dr, false, TapState::PauseDr},
      {TapState::PauseDr, true, TapState::Exit2Dr},
      {TapState::Exit2Dr, false, TapState::ShiftDr},
      {TapState::Exit2Dr, true, TapState::UpdateDr},
      {TapState::UpdateDr, true, TapState::SelectDrScan},
      {TapState::Exit1Ir, true, TapState::UpdateIr},
      {TapState::UpdateIr, false, TapState::RunTestIdle},
  };
  for (const Step& s : steps)
    EXPECT_EQ(NextTapState(s.from, s.tms), s.to) << TapStateName(s.from) << " tms=" << s.tms;
  // Five clocks with TMS high reach Test-Logic-Reset from every state.
  for (unsigned i = 0; i < 16; ++i) {
    TapState state = static_cast<TapState>(i);
    for (int k = 0; k < 5; ++k) state = NextTapState(state, true);
    EXPECT_EQ(state, TapState::TestLogicReset) << TapStateName(static_cast<TapState>(i));
  }
}

TEST(Tap, CapturesIrPatternAndReadsIdCodeAfterReset) {
  TapController tap(0x3F0F0F0F, nullptr);
  TapConnector pins(tap);
  JtagMaster jtag(pins);
  jtag.Reset();
  // Test-logic reset selects IDCODE: a DR scan reads it straight away.
  EXPECT_EQ(jtag.DrScan(0, 32), 0x3F0F0F0Fu);
  EXPECT_EQ(jtag.IrScan(tap_instruction::kBypass), kIrCaptureValue);
  EXPECT_EQ(tap.Instruction(), tap_instruction::kBypass);
  EXPECT_EQ(jtag.IrScan(tap_instruction::kIdCode), kIrCaptureValue);
  EXPECT_EQ(jtag.DrScan(0, 32), 0x3F0F0F0Fu);
  EXPECT_EQ(tap.State(), TapState::RunTestIdle);
}

TEST(Tap, BypassDelaysByOneBitAndReservedCodesBypass) {
  TapController tap(0x12345679, nullptr);
  TapConnector pins(tap);
  JtagMaster jtag(pins);
  jtag.Reset();
  for (unsigned instruction : {tap_instruction::kBypass, 0x1u, tap_instruction::kRestart}) {
    jtag.IrScan(instruction);
    EXPECT_EQ(jtag.MeasureDr(), 1u) << instruction;
    // The first bit out is the captured 0, then what went in one clock earlier.
    EXPECT_EQ(jtag.DrScan(0b1011, 5), 0b10110u);
  }
}

TEST(Tap, ScanNSelectsTheChainThatIntestAndExtestConnect) {
  FakeChains chains;
  TapController tap(0x3F0F0F0F, &chains);
  TapConnector pins(tap);
  JtagMaster jtag(pins);
  jtag.Reset();
  EXPECT_EQ(tap.SelectedChain(), kScanSelectResetChain);
  jtag.IrScan(tap_instruction::kScanN);
  EXPECT_EQ(jtag.MeasureDr(), 4u);
  EXPECT_EQ(jtag.DrScan(5, 4), kScanSelectCapture);
  EXPECT_EQ(tap.SelectedChain(), 5u);
  jtag.IrScan(tap_instruction::kIntest);
  EXPECT_EQ(jtag.DrScan(0x2A, 7), 0x55u);
  EXPECT_TRUE(chains.captured_intest);
  ASSERT_FALSE(chains.updates.empty());
  EXPECT_EQ(chains.updates.back(), 0x2Au);
  jtag.IrScan(tap_instruction::kExtest);
  EXPECT_EQ(jtag.MeasureDr(), 7u);
  EXPECT_FALSE(chains.captured_intest);
  EXPECT_EQ(tap.Counters().dr_scans[5], 2u);
  // A chain that does not exist is a one-bit register.
  jtag.IrScan(tap_instruction::kScanN);
  jtag.DrScan(1, 4);
  jtag.IrScan(tap_instruction::kIntest);
  EXPECT_EQ(jtag.MeasureDr(), 1u);
}

TEST(Tap, PauseDrKeepsTheShiftGoing) {
  TapController tap(0xA5A5A5A5, nullptr);
  TapConnector pins(tap);
  JtagMaster jtag(pins);
  jtag.Reset();
  jtag.Clock(true, false);   // Select-DR
  jtag.Clock(false, false);  // Capture-DR
  jtag.Clock(false, false);  // Shift-DR
  std::uint32_t value = 0;
  for (unsigned k = 0; k < 16; ++k) value |= unsigned{jtag.Clock(k == 15, false)} << k;
  jtag.Clock(false, false);  // Pause-DR
  jtag.Clock(false, false);
  jtag.Clock(true, false);   // Exit2-DR
  jtag.Clock(false, false);  // Shift-DR again
  for (unsigned k = 16; k < 32; ++k) value |= unsigned{jtag.Clock(k == 31, false)} << k;
  EXPECT_EQ(value, 0xA5A5A5A5u);
  EXPECT_EQ(tap.State(), TapState::Exit1Dr);
}

TEST(Tap, ResetsByTmsAndByTrstAndReportsRunTestIdleEntries) {
  FakeChains chains;
  TapController tap(0x3F0F0F0F, &chains);
  TapConnector pins(tap);
  JtagMaster jtag(pins);
  jtag.Reset();
  jtag.IrScan(tap_instruction::kRestart);
  jtag.Clock(false, false);  // Update-IR to Run-Test/Idle
  ASSERT_FALSE(chains.idle_entries.empty());
  EXPECT_EQ(chains.idle_entries.back(), tap_instruction::kRestart);
  std::size_t entries = chains.idle_entries.size();
  jtag.Clock(false, false);  // staying in Run-Test/Idle is no new entry
  EXPECT_EQ(chains.idle_entries.size(), entries);

  int resets = chains.resets;
  jtag.IrScan(tap_instruction::kScanN);
  jtag.DrScan(5, 4);
  jtag.Reset();
  EXPECT_GT(chains.resets, resets);
  EXPECT_EQ(tap.Instruction(), tap_instruction::kIdCode);
  EXPECT_EQ(tap.SelectedChain(), kScanSelectResetChain);

  jtag.IrScan(tap_instruction::kBypass);
  pins.SetTestReset(true);
  EXPECT_EQ(tap.State(), TapState::TestLogicReset);
  jtag.Clock(false, false);  // held in reset while nTRST is low
  EXPECT_EQ(tap.State(), TapState::TestLogicReset);
  pins.SetTestReset(false);
  jtag.Clock(false, false);
  EXPECT_EQ(tap.State(), TapState::RunTestIdle);
  EXPECT_EQ(jtag.DrScan(0, 32), 0x3F0F0F0Fu);
}

// ---------------------------------------------------------------------------
// Probes

// Drives a probe through the port the way the probe software does.
class PortMaster {
 public:
  PortMaster(ParallelPort& port) : port_(port), base_(port.Base()) {}
  void Data(std::uint8_t v) { port_.Write(base_, v); }
  void Control(std::uint8_t v) { port_.Write(base_ + 2, v); }
  std::uint8_t Status() { return port_.Read(base_ + 1); }
  bool Tdo() { return (Status() & kStatusTdoInverted) == 0; }

  // One clock of a pin-level wiring, reading TDO with TCK low afterwards.
  bool Clock(const ProbeWiring& w, bool tms, bool tdi) {
    std::uint8_t pins = static_cast<std::uint8_t>((tms ? 1u << w.tms_bit : 0) |
                                                  (tdi ? 1u << w.tdi_bit : 0));
    Data(pins);
    Data(static_cast<std::uint8_t>(pins | (1u << w.tck_bit)));
    Data(pins);
    return Tdo();
  }
  std::uint32_t IrScan(const ProbeWiring& w, std::uint32_t instruction) {
    Clock(w, true, true);
    Clock(w, true, true);
    Clock(w, false, true);
    std::uint32_t captured = Clock(w, false, true) ? 1 : 0;
    for (unsigned k = 1; k < 4; ++k)
      if (Clock(w, false, (instruction >> (k - 1)) & 1)) captured |= 1u << k;
    Clock(w, true, (instruction >> 3) & 1);
    Clock(w, true, true);
    Clock(w, false, true);
    return captured;
  }

 private:
  ParallelPort& port_;
  std::uint32_t base_;
};

struct ProbeBench {
  explicit ProbeBench(ProbeKind kind, std::uint64_t dead_after = 0)
      : tap(0x3F0F0F0F, nullptr), pins(tap), port(0x378, kind, pins, dead_after), host(port) {}
  TapController tap;
  TapConnector pins;
  ParallelPort port;
  PortMaster host;
};

TEST(Probe, PresenceLoopBacksAsEachWiringHasThem) {
  {
    ProbeBench b(ProbeKind::Emulator);
    b.host.Data(0x38);
    EXPECT_EQ(b.host.Status() & 0x50, 0x10);
    b.host.Data(0xC0);
    EXPECT_EQ(b.host.Status() & 0x50, 0x40);
  }
  {
    ProbeBench b(ProbeKind::Harrier);
    b.host.Data(0x30);
    EXPECT_EQ(b.host.Status() & 0x50, 0x10);
    b.host.Data(0x40);
    EXPECT_EQ(b.host.Status() & 0x50, 0x40);
  }
  {
    ProbeBench b(ProbeKind::Kestrel);
    b.host.Data(0x20);
    EXPECT_EQ(b.host.Status() & 0x40, 0x40);
    b.host.Data(0x00);
    EXPECT_EQ(b.host.Status() & 0x40, 0x00);
  }
  {
    ProbeBench b(ProbeKind::Cable);  // nothing loops back
    b.host.Data(0xFF);
    EXPECT_EQ(b.host.Status() & 0x50, 0x00);
  }
  EXPECT_EQ(ParseProbeKind("Harrier"), ProbeKind::Harrier);
  EXPECT_FALSE(ParseProbeKind("lpt").has_value());
}

TEST(Probe, PinWiringsScanTheTapWhenEnabledOnly) {
  struct Case {
    ProbeKind kind;
    std::uint8_t enable;
  };
  for (Case c : {Case{ProbeKind::Emulator, 0x06}, Case{ProbeKind::Cable, 0x01},
                 Case{ProbeKind::Kestrel, 0x01}}) {
    ProbeBench b(c.kind);
    const ProbeWiring& w = b.port.Wiring();
    // Disabled: the port writes reach no pin.
    for (int k = 0; k < 6; ++k) b.host.Clock(w, true, true);
    EXPECT_EQ(b.tap.Counters().tck_cycles, 0u) << w.name;
    EXPECT_TRUE(b.host.Tdo()) << w.name;  // nothing drives TDO: bit 7 clear reads as 1
    b.host.Control(c.enable);
    EXPECT_TRUE(b.port.ProbeEnabled());
    for (int k = 0; k < 6; ++k) b.host.Clock(w, true, true);
    b.host.Clock(w, false, true);
    EXPECT_EQ(b.host.IrScan(w, tap_instruction::kBypass), kIrCaptureValue) << w.name;
    EXPECT_EQ(b.tap.Instruction(), tap_instruction::kBypass) << w.name;
    EXPECT_GT(b.tap.Counters().tck_cycles, 10u);
  }
}

TEST(Probe, KestrelEnablesOnlyWithControlBitsZeroOne) {
  ProbeBench b(ProbeKind::Kestrel);
  b.host.Control(0x03);
  EXPECT_FALSE(b.port.ProbeEnabled());
  b.host.Control(0x01);
  EXPECT_TRUE(b.port.ProbeEnabled());
}

TEST(Probe, ResetBitDrivesTheTargetResetLine) {
  struct Case {
    ProbeKind kind;
    std::uint8_t reset;
  };
  for (Case c : {Case{ProbeKind::Emulator, 0x01}, Case{ProbeKind::Cable, 0x02},
                 Case{ProbeKind::Kestrel, 0x02}, Case{ProbeKind::Harrier, 0x01}}) {
    ProbeBench b(c.kind);
    b.host.Control(c.reset);
    b.host.Control(c.reset);  // no change, no new edge
    b.host.Control(0);
    EXPECT_EQ(b.pins.system_reset, (std::vector<bool>{true, false})) << ProbeKindName(c.kind);
  }
}

TEST(Probe, HarrierRunsSingleAndTripleClocksOnToggledBytes) {
  ProbeBench b(ProbeKind::Harrier);
  b.host.Control(0x02);  // enabled, speed code 0
  bool toggle = false;
  auto send = [&](std::uint8_t command) {
    toggle = !toggle;
    b.host.Data(static_cast<std::uint8_t>(command | (toggle ? harrier::kToggle : 0)));
  };
  // Test-logic reset: two triples of TMS high.
  send(harrier::kTriple | 0x2A);
  send(harrier::kTriple | 0x2A);
  EXPECT_EQ(b.tap.Counters().tck_cycles, 6u);
  send(0);  // Run-Test/Idle
  // IR scan of BYPASS: three clocks to Capture-IR in one triple, then singles.
  send(harrier::kTriple | 0b011111);  // TMS 1, 1, 0 with TDI 1
  std::uint32_t captured = 0;
  for (unsigned k = 0; k < 4; ++k) {  // into Shift-IR, then three shifts
    send(harrier::kTdi);
    captured |= unsigned{b.host.Tdo()} << k;
  }
  EXPECT_EQ(b.tap.State(), TapState::ShiftIr);
  send(harrier::kTdi | harrier::kTms);  // last shift, Exit1-IR
  send(harrier::kTdi | harrier::kTms);  // Update-IR
  EXPECT_EQ(b.tap.Instruction(), tap_instruction::kBypass);
  EXPECT_EQ(captured, kIrCaptureValue);
  // A byte with the same toggle bit is no new command.
  std::uint64_t cycles = b.tap.Counters().tck_cycles;
  b.host.Data(toggle ? harrier::kToggle : 0);
  EXPECT_EQ(b.tap.Counters().tck_cycles, cycles);
}

TEST(Probe, HarrierReadyBitFollowsTheSpeedCode) {
  ProbeBench b(ProbeKind::Harrier);
  b.host.Control(0x02 | 0x08);  // speed code 8
  EXPECT_NE(b.host.Status() & kStatusReady, 0);
  b.host.Data(harrier::kToggle);
  EXPECT_EQ(b.tap.Counters().tck_cycles, 1u);
  // Busy for two status reads; a command written meanwhile is dropped.
  b.host.Data(0);
  EXPECT_EQ(b.tap.Counters().tck_cycles, 1u);
  EXPECT_EQ(b.host.Status() & kStatusReady, 0);
  EXPECT_EQ(b.host.Status() & kStatusReady, 0);
  EXPECT_NE(b.host.Status() & kStatusReady, 0);
  b.host.Data(harrier::kToggle);
  EXPECT_EQ(b.tap.Counters().tck_cycles, 2u);
  // Speed code 0: always ready.
  b.host.Control(0x02);
  b.host.Data(0);
  EXPECT_NE(b.host.Status() & kStatusReady, 0);
}

TEST(Probe, DeadProbeStopsAnsweringAfterItsAccesses) {
  // 1 control write, 7 reset clocks and 10 IR-scan clocks of 4 accesses each.
  ProbeBench b(ProbeKind::Emulator, 69);
  const ProbeWiring& w = b.port.Wiring();
  b.host.Control(0x06);
  for (int k = 0; k < 6; ++k) b.host.Clock(w, true, true);
  b.host.Clock(w, false, true);
  EXPECT_EQ(b.host.IrScan(w, tap_instruction::kIdCode), kIrCaptureValue);
  EXPECT_FALSE(b.port.ProbeDead());
  std::uint64_t cycles = b.tap.Counters().tck_cycles;
  EXPECT_EQ(b.host.IrScan(w, tap_instruction::kIdCode), 0xFu);  // TDO reads 1 throughout
  EXPECT_EQ(b.tap.Counters().tck_cycles, cycles);
  EXPECT_TRUE(b.port.ProbeDead());
}

TEST(Probe, PortOutsideItsRegistersReadsFF) {
  ProbeBench b(ProbeKind::Emulator);
  EXPECT_EQ(b.port.Read(0x278), 0xFF);
  b.port.Write(0x37A, 0x06);
  EXPECT_EQ(b.port.Read(0x37A), 0x06);
  b.port.Write(0x379, 0x00);  // status is read-only
  EXPECT_EQ(b.port.Counters().writes, 2u);
}

}  // namespace
}  // namespace simboard
