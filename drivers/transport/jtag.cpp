#include "drivers/transport/jtag.h"

#include <chrono>
#include <thread>
#include <vector>

#include "platform/ticks.h"

namespace drivers {
namespace {

constexpr int kData = 0;
constexpr int kStatus = 1;
constexpr int kControl = 2;

// Byte protocol: the command byte's fields.
constexpr int kCommandTms = 1;       // TMS in bit 1 (of each pair with three clocks)
constexpr int kCommandToggle = 6;    // must differ from the last byte written
constexpr std::uint8_t kCommandTriple = 0x80;

// Stores here keep the delay loop from being optimised away.
volatile int delay_sink = 0;

// Until `ms` have passed on the tick count since `start` (or `cancelled`
// says so), a millisecond's sleep at a time: the wait is measured as the
// tick count says, and leaves the processor to others meanwhile.
template <typename Cancelled>
void WaitTicks(std::uint32_t start, std::uint32_t ms, Cancelled cancelled) {
  while (platform::TickCount() - start < ms && !cancelled())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

// The three below run once or more for every TCK: inline in the clocks.
[[gnu::always_inline]] inline std::uint8_t JtagTransport::ReadRegister(int offset) {
  ++counters_.port_reads;
  const auto port = static_cast<std::uint16_t>(base_ + offset);
  // As PortLibrary::Read: only the low byte of the export's result is defined.
  if (direct_read_ != nullptr) return static_cast<std::uint8_t>(direct_read_(port) & 0xFFu);
  return port_->Read(port);
}

[[gnu::always_inline]] inline void JtagTransport::WriteRegister(int offset, std::uint8_t value) {
  ++counters_.port_writes;
  // A byte-protocol probe acts on a data byte whose toggle bit differs from
  // the last one written, whoever wrote it (the presence test too).
  if (offset == kData && wiring_.byte_protocol) toggle_ = (value >> kCommandToggle) & 1;
  const auto port = static_cast<std::uint16_t>(base_ + offset);
  if (direct_write_ != nullptr) {
    direct_write_(port, value);
  } else {
    port_->Write(port, value);
  }
}

[[gnu::always_inline]] inline void JtagTransport::Delay() {
  if (delay_factor_ != 0) DelayLoop();
}

void JtagTransport::DelayLoop() {
  ++counters_.delays;
  for (int outer = 0; outer < delay_factor_ * 100; ++outer) {
    for (int step = 0; step < 10; ++step) delay_sink = step;
  }
}

void JtagTransport::WaitReady() {
  if (speed_code_ == 0 || probe_lost_) return;
  const std::uint32_t start = platform::TickCount();
  while ((ReadRegister(kStatus) & wiring_.ready_bit) == 0) {
    if (platform::TickCount() - start >= ready_timeout_ms_ || Cancelled()) {
      probe_lost_ = true;
      return;
    }
  }
}

int JtagTransport::ReadTdo() {
  if (probe_lost_) return 1;
  const int level = (ReadRegister(kStatus) & wiring_.tdo_bit) != 0 ? 1 : 0;
  return wiring_.tdo_inverted ? level ^ 1 : level;
}

int JtagTransport::Clock(int tdi, int tms, bool capture) {
  tdi &= 1;
  tms &= 1;
  if (wiring_.byte_protocol) {
    WaitReady();
    WriteRegister(kData, static_cast<std::uint8_t>(tdi | (tms << kCommandTms) |
                                                   ((toggle_ ^ 1) << kCommandToggle)));
    ++counters_.tck_cycles;
    if (!capture) return -1;
    WaitReady();
    return ReadTdo();
  }
  const WiringRow& pins = wiring_;
  const bool delays = wiring_.software_delays;
  const auto lines = static_cast<std::uint8_t>((tdi ? pins.tdi : 0) | (tms ? pins.tms : 0));
  if (delays) Delay();
  WriteRegister(kData, lines);
  if (delays) Delay();
  WriteRegister(kData, static_cast<std::uint8_t>(lines | pins.tck));
  if (delays) Delay();
  ++counters_.tck_cycles;
  if (!capture) return -1;  // TCK stays high; the next clock brings it low
  WriteRegister(kData, lines);
  if (delays) Delay();
  return ReadTdo();
}

void JtagTransport::TripleClock(const int tdi[3], const int tms[3]) {
  WaitReady();
  std::uint8_t command = kCommandTriple;
  for (int i = 0; i < 3; ++i) {
    command = static_cast<std::uint8_t>(command | ((tdi[i] & 1) << (2 * i)) |
                                        ((tms[i] & 1) << (2 * i + kCommandTms)));
  }
  WriteRegister(kData, static_cast<std::uint8_t>(command | ((toggle_ ^ 1) << kCommandToggle)));
  counters_.tck_cycles += 3;
}

void JtagTransport::ClockRun(const std::uint8_t* tdi, const std::uint8_t* tms, int count) {
  int i = 0;
  if (wiring_.byte_protocol) {
    for (; i + 3 <= count; i += 3) {
      const int d[3] = {tdi[i], tdi[i + 1], tdi[i + 2]};
      const int m[3] = {tms[i], tms[i + 1], tms[i + 2]};
      TripleClock(d, m);
    }
  }
  for (; i < count; ++i) Clock(tdi[i], tms[i], false);
}

void JtagTransport::TapReset() {
  const std::uint8_t tdi[7] = {1, 1, 1, 1, 1, 1, 1};
  const std::uint8_t tms[7] = {1, 1, 1, 1, 1, 1, 0};
  ClockRun(tdi, tms, 7);
}

std::uint32_t JtagTransport::IrScan(std::uint32_t instruction) {
  // Run-Test/Idle or Update -> Select-DR -> Select-IR -> Capture-IR.
  const std::uint8_t tdi[3] = {1, 1, 1};
  const std::uint8_t tms[3] = {1, 1, 0};
  ClockRun(tdi, tms, 3);
  std::uint32_t captured = static_cast<std::uint32_t>(Clock(1, 0, true) & 1);  // -> Shift-IR
  for (int k = 1; k < ir_length_; ++k) {
    const int bit = Clock(static_cast<int>((instruction >> (k - 1)) & 1), 0, true);
    captured |= static_cast<std::uint32_t>(bit & 1) << k;
  }
  Clock(static_cast<int>((instruction >> (ir_length_ - 1)) & 1), 1, false);  // -> Exit1-IR
  Clock(1, 1, false);                                                        // -> Update-IR
  return captured;
}

void JtagTransport::DrScan(const std::uint8_t* in, std::uint8_t* out, int bits, bool capture,
                           bool to_idle) {
  if (bits <= 0) return;
  if (!capture) {
    // Select-DR, Capture-DR, Shift-DR, the bits, Update-DR: all one run.
    constexpr int kStackRun = 128;
    std::uint8_t stack_tdi[kStackRun];
    std::uint8_t stack_tms[kStackRun];
    std::vector<std::uint8_t> heap_tdi;
    std::vector<std::uint8_t> heap_tms;
    std::uint8_t* tdi = stack_tdi;
    std::uint8_t* tms = stack_tms;
    if (bits + 5 > kStackRun) {
      heap_tdi.resize(static_cast<std::size_t>(bits) + 5);
      heap_tms.resize(static_cast<std::size_t>(bits) + 5);
      tdi = heap_tdi.data();
      tms = heap_tms.data();
    }
    tdi[0] = 1, tms[0] = 1;
    tdi[1] = 1, tms[1] = 0;
    tdi[2] = 1, tms[2] = 0;
    for (int k = 0; k < bits; ++k) {
      tdi[3 + k] = in[k] & 1;
      tms[3 + k] = (k == bits - 1) ? 1 : 0;
    }
    tdi[bits + 3] = 1, tms[bits + 3] = 1;
    tdi[bits + 4] = 1, tms[bits + 4] = 0;  // Run-Test/Idle, when asked for
    ClockRun(tdi, tms, bits + (to_idle ? 5 : 4));
    return;
  }
  Clock(1, 1, false);  // -> Select-DR-Scan
  Clock(1, 0, false);  // -> Capture-DR
  out[0] = static_cast<std::uint8_t>(Clock(1, 0, true) & 1);  // -> Shift-DR
  for (int k = 0; k < bits - 1; ++k) {
    out[k + 1] = static_cast<std::uint8_t>(Clock(in[k], 0, true) & 1);
  }
  Clock(in[bits - 1], 1, false);  // -> Exit1-DR
  Clock(1, 1, false);             // -> Update-DR
  if (to_idle) Clock(1, 0, false);
}

void JtagTransport::IdleClock() { Clock(1, 0, true); }

bool JtagTransport::PresenceTest(std::uint16_t base) {
  base_ = base;
  if (wiring_.presence_steps == 0) return true;
  bool present = true;
  for (int k = 0; k < wiring_.presence_steps; ++k) {
    const PresenceStep& step = wiring_.presence[k];
    WriteRegister(kData, step.data);
    present = (ReadRegister(kStatus) & step.status_mask) == step.status_expected && present;
  }
  WriteRegister(kData, 0);
  return present;
}

bool JtagTransport::StartUp(std::uint16_t base, std::uint32_t start_tick) {
  base_ = base;
  ir_length_ = 4;
  probe_lost_ = false;
  const bool present = PresenceTest(base);
  std::uint8_t value = 0;
  if (wiring_.byte_protocol) {
    value = static_cast<std::uint8_t>(speed_code_ | wiring_.enable_set);
  } else {
    value = static_cast<std::uint8_t>((ReadRegister(kControl) & wiring_.enable_keep) |
                                      wiring_.enable_set);
  }
  WriteRegister(kControl, value);
  TapReset();
  if (present && wiring_.byte_protocol) {
    const auto settle = static_cast<std::uint32_t>(speed_code_) * 10;
    WaitTicks(start_tick, settle, [this] { return Cancelled(); });
  }
  return present;
}

void JtagTransport::Release() {
  WriteRegister(kControl, static_cast<std::uint8_t>(ReadRegister(kControl) & wiring_.release_keep));
  WriteRegister(kData, 0);
}

void JtagTransport::ResetPulse(std::uint32_t hold_ms) {
  if (wiring_.byte_protocol) {
    WriteRegister(kControl,
                  static_cast<std::uint8_t>(speed_code_ | wiring_.enable_set | wiring_.reset_bit));
  } else {
    WriteRegister(kControl, static_cast<std::uint8_t>(ReadRegister(kControl) | wiring_.reset_bit));
  }
  WaitTicks(platform::TickCount(), hold_ms, [] { return false; });
  WriteRegister(kControl,
                static_cast<std::uint8_t>(ReadRegister(kControl) & ~wiring_.reset_bit));
}

}  // namespace drivers
