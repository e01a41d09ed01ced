// JTAG over a parallel-port probe: one TCK period per port write (or per
// command byte on the Harrier), and the TAP moves the ARM debug layer is
// built from.
#pragma once

#include <atomic>
#include <cstdint>

#include "drivers/transport/port.h"
#include "drivers/transport/wiring.h"

namespace drivers {

// TAP moves as the ARM debug layer sees them. Scans start and end in
// Run-Test/Idle or an Update state.
class Jtag {
 public:
  virtual ~Jtag() = default;
  // Six clocks with TMS = 1, then one with TMS = 0: Run-Test/Idle.
  virtual void TapReset() = 0;
  // Shifts the instruction in, least significant bit first; returns the
  // captured IR value.
  virtual std::uint32_t IrScan(std::uint32_t instruction) = 0;
  // Shifts `bits` bits of `in` (one bit per byte, in[0] first). With
  // `capture`, out[0..bits-1] receive the bits leaving the register, the bit
  // nearest TDO first: out[0] is sampled on the clock into Shift-DR and
  // out[k+1] while in[k] goes in; the last shift (TMS = 1) is not sampled.
  // With `to_idle` one more clock (TDI = 1, TMS = 0, nothing sampled) takes
  // the TAP from Update-DR to Run-Test/Idle.
  virtual void DrScan(const std::uint8_t* in, std::uint8_t* out, int bits, bool capture,
                      bool to_idle = false) = 0;
  // One clock TDI = 1, TMS = 0, sampled, from an Update state to
  // Run-Test/Idle (lets RESTART take effect).
  virtual void IdleClock() = 0;
  // Holds the probe's target reset line for `hold_ms`.
  virtual void ResetPulse(std::uint32_t hold_ms) = 0;
};

// Counters of the traffic on the port, for benchmarks and tests.
struct TransportCounters {
  std::uint64_t port_reads = 0;
  std::uint64_t port_writes = 0;
  std::uint64_t tck_cycles = 0;
  std::uint64_t delays = 0;  // delay loops run (never at factor 0)
};

class JtagTransport final : public Jtag {
 public:
  // Which wiring a module drives is fixed per module.
  JtagTransport(Wiring wiring, Port* port) : JtagTransport(WiringOf(wiring), port) {}
  JtagTransport(const WiringRow& wiring, Port* port) : wiring_(wiring) { set_port(port); }

  void set_port(Port* port) {
    port_ = port;
    direct_read_ = port != nullptr ? port->DirectRead() : nullptr;
    direct_write_ = port != nullptr ? port->DirectWrite() : nullptr;
  }
  Port* port() const { return port_; }
  const WiringRow& wiring() const { return wiring_; }

  void set_base(std::uint16_t base) { base_ = base; }
  std::uint16_t base() const { return base_; }
  // 0, 1 or 4: factor x 100 rounds of a 10-step busy loop after each write.
  void set_delay_factor(int factor) { delay_factor_ = factor < 0 ? 0 : factor; }
  int delay_factor() const { return delay_factor_; }
  // Byte protocol: 0, 4, 8 or 12, written into control bits 2..3; not 0
  // enables the ready handshake on the wiring's ready bit.
  void set_speed_code(int code) { speed_code_ = code & 0x0C; }
  int speed_code() const { return speed_code_; }
  void set_ir_length(int length) { ir_length_ = length; }
  int ir_length() const { return ir_length_; }
  // Byte protocol: how long the module waits for the ready bit before taking the
  // probe as lost (every later TDO then reads 1, so IR captures fail).
  void set_ready_timeout_ms(std::uint32_t ms) { ready_timeout_ms_ = ms; }
  bool probe_lost() const { return probe_lost_; }
  // A flag another thread may set to end the transport's waits (the ready
  // wait gives up as on a lost probe; the start-up settle ends early).
  void set_cancel_flag(const std::atomic<bool>* flag) { cancel_ = flag; }

  // One TCK period. With `capture` returns the TDO bit of this clock, else -1.
  int Clock(int tdi, int tms, bool capture);

  void TapReset() override;
  std::uint32_t IrScan(std::uint32_t instruction) override;
  void DrScan(const std::uint8_t* in, std::uint8_t* out, int bits, bool capture,
              bool to_idle = false) override;
  void IdleClock() override;

  // 1 when the probe at `base` answers as its wiring should.
  bool PresenceTest(std::uint16_t base);
  // Sets the base and IR length 4, runs the presence test, enables the probe
  // outputs and resets the TAP; returns the presence test result. Byte
  // protocol: after a pass, waits until speed code x 10 ms have passed since
  // `start_tick` (the tick count when the connect began).
  bool StartUp(std::uint16_t base, std::uint32_t start_tick);
  // Clears the enable bits of the control register and the data register.
  void Release();
  // Holds the wiring's target reset line for `hold_ms` (busy wait).
  void ResetPulse(std::uint32_t hold_ms) override;

  const TransportCounters& counters() const { return counters_; }
  void ResetCounters() { counters_ = {}; }

 private:
  std::uint8_t ReadRegister(int offset);
  void WriteRegister(int offset, std::uint8_t value);
  void Delay();
  void DelayLoop();
  void WaitReady();
  bool Cancelled() const { return cancel_ && cancel_->load(std::memory_order_relaxed); }
  int ReadTdo();
  // Byte protocol: three clocks in one command byte, nothing sampled.
  void TripleClock(const int tdi[3], const int tms[3]);
  // A run of clocks with nothing sampled; the byte protocol packs them by
  // three.
  void ClockRun(const std::uint8_t* tdi, const std::uint8_t* tms, int count);

  WiringRow wiring_;
  Port* port_ = nullptr;
  Port::ReadFunction direct_read_ = nullptr;  // port_'s library entries, when it has them
  Port::WriteFunction direct_write_ = nullptr;
  std::uint16_t base_ = 0x378;
  int delay_factor_ = 0;
  int speed_code_ = 0;
  int ir_length_ = 4;
  int toggle_ = 0;
  std::uint32_t ready_timeout_ms_ = 1000;
  bool probe_lost_ = false;
  const std::atomic<bool>* cancel_ = nullptr;
  TransportCounters counters_;
};

}  // namespace drivers
