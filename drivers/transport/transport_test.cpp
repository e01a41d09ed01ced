#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "drivers/transport/jtag.h"
#include "drivers/transport/port.h"

namespace drivers {
namespace {

struct Access {
  char op;  // 'r' or 'w'
  std::uint16_t port;
  std::uint8_t value;
  bool operator==(const Access&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Access& a) {
  char text[32];
  std::snprintf(text, sizeof text, "%c %03X %02X", a.op, a.port, a.value);
  return os << text;
}

// Keeps every access; reads of the status register come from a queue of TDO
// bits (as the inverted bit 7 shows them) or from a function of the last data
// byte written.
class RecordingPort : public Port {
 public:
  std::uint8_t Read(std::uint16_t port) override {
    std::uint8_t value = 0;
    if (port == base + 2) {
      value = control;
    } else if (port == base + 1) {
      if (status_of) {
        value = status_of(data);
      } else if (!tdo.empty()) {
        value = tdo.front() ? 0x00 : 0x80;
        tdo.pop_front();
      } else {
        value = fixed_status;
      }
    }
    log.push_back({'r', port, value});
    return value;
  }
  void Write(std::uint16_t port, std::uint8_t value) override {
    if (port == base) data = value;
    if (port == base + 2) control = value;
    log.push_back({'w', port, value});
  }

  std::vector<std::uint8_t> DataWrites() const {
    std::vector<std::uint8_t> out;
    for (const Access& a : log) {
      if (a.op == 'w' && a.port == base) out.push_back(a.value);
    }
    return out;
  }
  int StatusReads() const {
    int n = 0;
    for (const Access& a : log) n += (a.op == 'r' && a.port == base + 1);
    return n;
  }

  std::uint16_t base = 0x378;
  std::uint8_t data = 0;
  std::uint8_t control = 0;
  std::uint8_t fixed_status = 0x80;  // TDO = 0
  std::deque<int> tdo;
  std::function<std::uint8_t(std::uint8_t)> status_of;
  std::vector<Access> log;
};

// The data bytes one clock (TDI t, TMS m, capture c) writes on a bit-banged
// wiring, from the wiring's pin table.
struct Pins {
  std::uint8_t tck, tdi, tms;
};
constexpr Pins kEmulatorPins{0x01, 0x02, 0x04};
constexpr Pins kCablePins{0x04, 0x08, 0x02};

void AppendClock(std::vector<std::uint8_t>& out, Pins p, int t, int m, bool c) {
  const auto lines = static_cast<std::uint8_t>((t ? p.tdi : 0) | (m ? p.tms : 0));
  out.push_back(lines);
  out.push_back(static_cast<std::uint8_t>(lines | p.tck));
  if (c) out.push_back(lines);
}

// The clock list of an IR scan of a 4-bit instruction and of a DR scan, as
// (tdi, tms, capture) triples.
struct Tick {
  int t, m;
  bool c;
};
std::vector<Tick> IrTicks(std::uint32_t instr) {
  std::vector<Tick> t = {{1, 1, false}, {1, 1, false}, {1, 0, false}, {1, 0, true}};
  for (int k = 1; k < 4; ++k) t.push_back({int((instr >> (k - 1)) & 1), 0, true});
  t.push_back({int((instr >> 3) & 1), 1, false});
  t.push_back({1, 1, false});
  return t;
}
std::vector<Tick> DrTicks(const std::vector<std::uint8_t>& d, bool c) {
  std::vector<Tick> t = {{1, 1, false}, {1, 0, false}, {1, 0, c}};
  for (std::size_t k = 0; k + 1 < d.size(); ++k) t.push_back({d[k], 0, c});
  t.push_back({d.back(), 1, false});
  t.push_back({1, 1, false});
  return t;
}
std::vector<std::uint8_t> BitBang(Pins p, const std::vector<Tick>& ticks) {
  std::vector<std::uint8_t> out;
  for (const Tick& t : ticks) AppendClock(out, p, t.t, t.m, t.c);
  return out;
}

TEST(TransportClock, EmulatorClockWritesLowThenHighAndSamplesInvertedTdo) {
  RecordingPort port;
  JtagTransport jtag(Wiring::Emulator, &port);
  EXPECT_EQ(jtag.Clock(1, 1, false), -1);
  const std::vector<Access> plain = {{'w', 0x378, 0x06}, {'w', 0x378, 0x07}};
  EXPECT_EQ(port.log, plain);

  port.log.clear();
  port.fixed_status = 0x00;  // bit 7 clear: TDO = 1
  EXPECT_EQ(jtag.Clock(0, 1, true), 1);
  const std::vector<Access> sampled = {
      {'w', 0x378, 0x04}, {'w', 0x378, 0x05}, {'w', 0x378, 0x04}, {'r', 0x379, 0x00}};
  EXPECT_EQ(port.log, sampled);
  port.fixed_status = 0x80;
  EXPECT_EQ(jtag.Clock(1, 0, true), 0);
}

TEST(TransportClock, CableAndKestrelShareTheirPins) {
  for (Wiring w : {Wiring::Cable, Wiring::Kestrel}) {
    RecordingPort port;
    port.base = 0x278;
    JtagTransport jtag(w, &port);
    jtag.set_base(0x278);
    jtag.Clock(1, 0, true);
    const std::vector<Access> expected = {
        {'w', 0x278, 0x08}, {'w', 0x278, 0x0C}, {'w', 0x278, 0x08}, {'r', 0x279, 0x80}};
    EXPECT_EQ(port.log, expected);
  }
}

TEST(TransportScans, IrAndDrScanBytesOnEveryBitBangedWiring) {
  const std::vector<std::uint8_t> dr = {1, 0, 1, 1, 0};
  for (Wiring w : {Wiring::Emulator, Wiring::Cable, Wiring::Kestrel}) {
    const Pins pins = w == Wiring::Emulator ? kEmulatorPins : kCablePins;
    RecordingPort port;
    JtagTransport jtag(w, &port);
    jtag.IrScan(12);
    EXPECT_EQ(port.DataWrites(), BitBang(pins, IrTicks(12))) << int(w);

    port.log.clear();
    std::vector<std::uint8_t> out(dr.size(), 9);
    jtag.DrScan(dr.data(), out.data(), int(dr.size()), true);
    EXPECT_EQ(port.DataWrites(), BitBang(pins, DrTicks(dr, true))) << int(w);
    EXPECT_EQ(port.StatusReads(), 5);

    port.log.clear();
    jtag.DrScan(dr.data(), out.data(), int(dr.size()), false);
    EXPECT_EQ(port.DataWrites(), BitBang(pins, DrTicks(dr, false))) << int(w);
    EXPECT_EQ(port.StatusReads(), 0);
  }
}

TEST(TransportScans, EmulatorIrScanOfIntestIsTheseBytes) {
  RecordingPort port;
  JtagTransport jtag(Wiring::Emulator, &port);
  jtag.IrScan(12);  // 0b1100, shifted lsb first
  const std::vector<std::uint8_t> expected = {
      0x06, 0x07, 0x06, 0x07, 0x02, 0x03,        // Select-DR, Select-IR, Capture-IR
      0x02, 0x03, 0x02,                          // -> Shift-IR, sample
      0x00, 0x01, 0x00, 0x00, 0x01, 0x00,        // bits 0 and 1 (0, 0)
      0x02, 0x03, 0x02,                          // bit 2 (1)
      0x06, 0x07, 0x06, 0x07};                   // bit 3 (1) -> Exit1, Update
  EXPECT_EQ(port.DataWrites(), expected);
}

TEST(TransportScans, IrCaptureReportsTheBitsShiftedOut) {
  RecordingPort port;
  JtagTransport jtag(Wiring::Emulator, &port);
  port.tdo = {1, 0, 0, 0};
  EXPECT_EQ(jtag.IrScan(12), 1u);
  // A pulled cable reads TDO = 1 on every clock.
  port.tdo.clear();
  port.fixed_status = 0x00;
  EXPECT_EQ(jtag.IrScan(12), 0xFu);
}

TEST(TransportScans, DrScanFillsOutNearestBitFirst) {
  RecordingPort port;
  JtagTransport jtag(Wiring::Emulator, &port);
  port.tdo = {1, 1, 0, 1};
  const std::uint8_t in[4] = {0, 0, 0, 0};
  std::uint8_t out[4] = {};
  jtag.DrScan(in, out, 4, true);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], 1);
  EXPECT_EQ(out[2], 0);
  EXPECT_EQ(out[3], 1);
}

TEST(TransportScans, OneBitDrScanHasOneShiftWithTmsHigh) {
  RecordingPort port;
  JtagTransport jtag(Wiring::Emulator, &port);
  const std::uint8_t in[1] = {0};
  std::uint8_t out[1] = {};
  jtag.DrScan(in, out, 1, true);
  const std::vector<std::uint8_t> expected = {
      0x06, 0x07, 0x02, 0x03,  // Select-DR, Capture-DR
      0x02, 0x03, 0x02,        // -> Shift-DR, sampled
      0x04, 0x05,              // the only shift, TMS = 1 -> Exit1-DR
      0x06, 0x07};             // Update-DR
  EXPECT_EQ(port.DataWrites(), expected);
}

TEST(TransportMoves, TapResetAndIdleClock) {
  RecordingPort port;
  JtagTransport jtag(Wiring::Emulator, &port);
  jtag.TapReset();
  std::vector<std::uint8_t> expected;
  for (int i = 0; i < 6; ++i) AppendClock(expected, kEmulatorPins, 1, 1, false);
  AppendClock(expected, kEmulatorPins, 1, 0, false);
  EXPECT_EQ(port.DataWrites(), expected);
  EXPECT_EQ(jtag.counters().tck_cycles, 7u);

  port.log.clear();
  jtag.IdleClock();
  EXPECT_EQ(port.DataWrites(), (std::vector<std::uint8_t>{0x02, 0x03, 0x02}));
  EXPECT_EQ(port.StatusReads(), 1);
}

TEST(TransportDelay, NoDelayLoopAtFactorZeroOnePerWriteOtherwise) {
  RecordingPort port;
  JtagTransport jtag(Wiring::Emulator, &port);
  jtag.set_delay_factor(0);
  jtag.IrScan(14);
  EXPECT_EQ(jtag.counters().delays, 0u);

  jtag.set_delay_factor(1);
  jtag.ResetCounters();
  jtag.Clock(1, 0, false);
  EXPECT_EQ(jtag.counters().delays, 3u);  // before, after each of two writes
  jtag.Clock(1, 0, true);
  EXPECT_EQ(jtag.counters().delays, 7u);

  JtagTransport kestrel(Wiring::Kestrel, &port);
  kestrel.set_delay_factor(4);
  kestrel.IrScan(14);
  EXPECT_EQ(kestrel.counters().delays, 0u);
}

TEST(TransportHarrier, CommandBytesToggleAndPackClocksByThree) {
  RecordingPort port;
  JtagTransport jtag(Wiring::Harrier, &port);
  port.tdo = {1, 0, 0, 0};
  EXPECT_EQ(jtag.IrScan(12), 1u);
  // Triple clock: TDI/TMS pairs (1,1) (1,1) (1,0) = bits 0x01|0x02|0x04|0x08|0x10.
  const std::vector<std::uint8_t> expected = {
      0x80 | 0x1F | 0x40,  // triple clock, toggle 1
      0x01,                // (1, 0) -> Shift-IR, toggle 0
      0x40 | 0x00,         // bit 0 of 12
      0x00,                // bit 1
      0x40 | 0x01,         // bit 2
      0x03,                // bit 3 with TMS -> Exit1-IR
      0x40 | 0x03};        // Update-IR
  EXPECT_EQ(port.DataWrites(), expected);
  EXPECT_EQ(port.StatusReads(), 4);  // TDO only: no ready polling at speed code 0

  port.log.clear();
  const std::uint8_t in[5] = {1, 0, 1, 0, 1};
  jtag.DrScan(in, nullptr, 5, false);  // 9 clocks: three triple commands
  const auto writes = port.DataWrites();
  ASSERT_EQ(writes.size(), 3u);
  for (std::uint8_t b : writes) EXPECT_TRUE(b & 0x80);
  EXPECT_EQ(jtag.counters().tck_cycles, 9u + 9u);
}

// The probe acts only on a byte whose toggle bit differs from the last byte
// written; the presence test's bytes count too, so the next command must
// toggle against them, or the probe drops it.
TEST(TransportHarrier, EveryCommandTogglesAgainstTheLastByteWrittenWhoeverWroteIt) {
  RecordingPort port;
  JtagTransport jtag(Wiring::Harrier, &port);
  jtag.Clock(1, 0, false);  // toggle 1
  jtag.PresenceTest(0x378);  // 0x30, 0x40, 0x00: ends with toggle 0
  jtag.Clock(1, 0, false);
  jtag.TapReset();
  const auto writes = port.DataWrites();
  ASSERT_GE(writes.size(), 6u);
  for (std::size_t k = 1; k < writes.size(); ++k) {
    const bool is_presence = k >= 1 && k <= 3;
    if (is_presence) continue;
    EXPECT_NE(writes[k] & 0x40, writes[k - 1] & 0x40) << "write " << k;
  }
}

TEST(TransportHarrier, WaitsForReadyWithASpeedCodeAndGivesUpOnADeadProbe) {
  RecordingPort port;
  JtagTransport jtag(Wiring::Harrier, &port);
  jtag.set_speed_code(8);
  int reads = 0;
  port.status_of = [&](std::uint8_t) -> std::uint8_t { return (++reads % 3 == 0) ? 0x20 : 0x00; };
  jtag.Clock(1, 0, false);
  EXPECT_EQ(reads, 3);
  EXPECT_FALSE(jtag.probe_lost());

  port.status_of = [](std::uint8_t) -> std::uint8_t { return 0x00; };
  jtag.set_ready_timeout_ms(20);
  EXPECT_EQ(jtag.IrScan(12), 0xFu);
  EXPECT_TRUE(jtag.probe_lost());
}

// Probes that answer the presence test: the emulator ties data lines back to
// status bits 4 and 6, the Kestrel data bit 5 to status bit 6.
std::uint8_t EmulatorEcho(std::uint8_t data) {
  if (data == 0x38) return 0x10;
  if (data == 0xC0) return 0x40;
  return 0;
}

TEST(TransportPresence, EveryWiringTestsItsOwnWay) {
  RecordingPort port;
  port.status_of = EmulatorEcho;
  JtagTransport emulator(Wiring::Emulator, &port);
  EXPECT_TRUE(emulator.PresenceTest(0x378));
  EXPECT_EQ(port.DataWrites(), (std::vector<std::uint8_t>{0x38, 0xC0, 0x00}));
  port.status_of = [](std::uint8_t) -> std::uint8_t { return 0x50; };
  EXPECT_FALSE(emulator.PresenceTest(0x378));

  RecordingPort cable_port;
  JtagTransport cable(Wiring::Cable, &cable_port);
  EXPECT_TRUE(cable.PresenceTest(0x378));
  EXPECT_TRUE(cable_port.log.empty());

  RecordingPort kestrel_port;
  kestrel_port.status_of = [](std::uint8_t d) -> std::uint8_t { return (d & 0x20) ? 0x40 : 0x00; };
  JtagTransport kestrel(Wiring::Kestrel, &kestrel_port);
  EXPECT_TRUE(kestrel.PresenceTest(0x378));
  kestrel_port.status_of = [](std::uint8_t) -> std::uint8_t { return 0x40; };
  EXPECT_FALSE(kestrel.PresenceTest(0x378));

  RecordingPort harrier_port;
  harrier_port.base = 0x278;
  harrier_port.status_of = [](std::uint8_t d) -> std::uint8_t {
    return d == 0x30 ? 0x10 : d == 0x40 ? 0x40 : 0;
  };
  JtagTransport harrier(Wiring::Harrier, &harrier_port);
  EXPECT_TRUE(harrier.PresenceTest(0x278));
  EXPECT_EQ(harrier_port.log.front().port, 0x278);
}

TEST(TransportProbe, StartUpEnablesReleaseAndResetUseTheWiringsControlBits) {
  struct Case {
    Wiring wiring;
    std::uint8_t control_before, enabled, released, reset_bit;
  };
  const Case cases[] = {
      {Wiring::Emulator, 0xC0, 0xC6, 0xC0, 0x01},
      {Wiring::Cable, 0xC0, 0xC1, 0xC0, 0x02},
      {Wiring::Kestrel, 0xC2, 0xC1, 0xC0, 0x02},
      {Wiring::Harrier, 0xC0, 0x0A, 0x08, 0x01},
  };
  for (const Case& c : cases) {
    RecordingPort port;
    port.control = c.control_before;
    port.status_of = [](std::uint8_t) -> std::uint8_t { return 0x20; };
    JtagTransport jtag(c.wiring, &port);
    jtag.set_speed_code(8);
    jtag.set_ir_length(5);
    jtag.StartUp(0x378, 0);
    EXPECT_EQ(jtag.ir_length(), 4);
    EXPECT_EQ(port.control, c.enabled) << int(c.wiring);

    std::vector<std::uint8_t> controls;
    port.log.clear();
    jtag.ResetPulse(1);
    for (const Access& a : port.log) {
      if (a.op == 'w' && a.port == 0x37A) controls.push_back(a.value);
    }
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_EQ(controls[0], c.enabled | c.reset_bit) << int(c.wiring);
    EXPECT_EQ(controls[1], c.enabled) << int(c.wiring);

    jtag.Release();
    EXPECT_EQ(port.control, c.released) << int(c.wiring);
    EXPECT_EQ(port.data, 0);
  }
}

TEST(TransportProbe, StartUpReportsAnAbsentProbeButStillResetsTheTap) {
  RecordingPort port;
  port.status_of = [](std::uint8_t) -> std::uint8_t { return 0x00; };
  JtagTransport jtag(Wiring::Emulator, &port);
  EXPECT_FALSE(jtag.StartUp(0x278, 0));
  EXPECT_EQ(jtag.base(), 0x278);
  EXPECT_EQ(jtag.counters().tck_cycles, 7u);
}

// A probe the modules do not know, described by its row alone: other pins,
// TDO plain on status bit 3, no delays, a one-step loop-back, its own
// control bits. The transport drives it without a branch of its own.
TEST(TransportWiringRow, AMadeUpWiringIsDrivenFromItsRowAlone) {
  const WiringRow probe_x = {"Probe X", 0x10, 0x20, 0x40, 0x08, false, 0xF0, 0x04, 0xF3, 0x08,
                             false, 1, {{0x55, 0x0F, 0x05}}, false, 0};
  constexpr Pins kProbeXPins{0x10, 0x20, 0x40};
  RecordingPort port;
  port.control = 0xA3;
  std::uint8_t tdo_level = 0x08;
  port.status_of = [&](std::uint8_t data) -> std::uint8_t {
    return data == 0x55 ? 0x05 : tdo_level;
  };
  JtagTransport jtag(probe_x, &port);
  jtag.set_delay_factor(4);

  EXPECT_TRUE(jtag.StartUp(0x378, 0));
  EXPECT_EQ(port.control, 0xA4);  // (0xA3 AND 0xF0) OR 0x04
  std::vector<std::uint8_t> expected = {0x55, 0x00};
  for (int i = 0; i < 6; ++i) AppendClock(expected, kProbeXPins, 1, 1, false);
  AppendClock(expected, kProbeXPins, 1, 0, false);
  EXPECT_EQ(port.DataWrites(), expected);

  port.log.clear();
  EXPECT_EQ(jtag.IrScan(12), 0xFu);  // status bit 3 set: TDO = 1, not inverted
  EXPECT_EQ(port.DataWrites(), BitBang(kProbeXPins, IrTicks(12)));
  tdo_level = 0x00;
  EXPECT_EQ(jtag.Clock(0, 0, true), 0);
  EXPECT_EQ(jtag.counters().delays, 0u);

  port.log.clear();
  jtag.ResetPulse(1);
  std::vector<std::uint8_t> controls;
  for (const Access& a : port.log) {
    if (a.op == 'w' && a.port == 0x37A) controls.push_back(a.value);
  }
  EXPECT_EQ(controls, (std::vector<std::uint8_t>{0xAC, 0xA4}));
  jtag.Release();
  EXPECT_EQ(port.control, 0xA0);

  // Its loop-back is its own: a status that would satisfy another probe fails.
  port.status_of = [](std::uint8_t) -> std::uint8_t { return 0x50; };
  EXPECT_FALSE(jtag.PresenceTest(0x378));
}

TEST(PortLibraryLoading, PathJoinsTheDirectoryAndAMissingLibraryFails) {
  EXPECT_EQ(PortLibraryPath("/opt/ports/"), "/opt/ports/portcall.so");
  EXPECT_EQ(PortLibraryPath("/opt/ports"), "/opt/ports/portcall.so");
  std::string error;
  EXPECT_EQ(PortLibrary::Load("/nonexistent/dir/", &error), nullptr);
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace drivers
