// The PC parallel port and the JTAG probe plugged into it. The port has the
// three registers of a standard printer port at its base address: data
// (+0), status (+1, read only) and control (+2). Behind the data and control
// registers sits one of the probe wirings below; the probe drives the JTAG
// connector of the board and returns TDO, its presence loop-backs and (the
// byte-protocol probe) its ready bit on the status register.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace simboard {

// The board side of the JTAG connector.
class JtagConnector {
 public:
  virtual ~JtagConnector() = default;
  virtual void SetPins(bool tck, bool tms, bool tdi) = 0;
  virtual bool Tdo() = 0;
  virtual void SetTestReset(bool asserted) = 0;    // nTRST
  virtual void SetSystemReset(bool asserted) = 0;  // the target's reset line
};

enum class ProbeKind : std::uint8_t { Emulator, Cable, Kestrel, Harrier };

std::optional<ProbeKind> ParseProbeKind(std::string_view name);  // "emulator", ... (any case)
const char* ProbeKindName(ProbeKind kind);

// One probe wiring: which register bits go where. Bit numbers are 0..7; -1
// is "not wired".
struct ProbeWiring {
  ProbeKind kind;
  const char* name;
  bool byte_protocol;  // the probe makes its own TCK edges from command bytes
  std::int8_t tck_bit, tms_bit, tdi_bit;  // data register (pin-level wirings)
  std::uint8_t enable_mask;   // control register bits that enable the probe ...
  std::uint8_t enable_value;  // ... when they hold this value
  std::uint8_t reset_mask;    // control register bit that drives the target reset
  std::uint8_t speed_mask;    // control register bits holding the speed code
  struct Loopback {
    std::int8_t data_bit;
    std::int8_t status_bit;
  } loopback[2];
};

const ProbeWiring& WiringOf(ProbeKind kind);

inline constexpr std::uint8_t kStatusTdoInverted = 0x80;  // status bit 7: NOT TDO
inline constexpr std::uint8_t kStatusReady = 0x20;        // status bit 5: byte-protocol probe ready

// Byte protocol of the Harrier probe: one command per data write whose
// toggle bit differs from the previous write's.
namespace harrier {
inline constexpr std::uint8_t kTriple = 0x80;  // three clocks: TDI/TMS in bits 0/1, 2/3, 4/5
inline constexpr std::uint8_t kToggle = 0x40;
inline constexpr std::uint8_t kTdi = 0x01;     // single clock
inline constexpr std::uint8_t kTms = 0x02;
}  // namespace harrier

struct PortCounters {
  std::uint64_t reads = 0;
  std::uint64_t writes = 0;
};

class ParallelPort {
 public:
  // dead_after: the probe stops answering after that many port accesses
  // (0: never).
  ParallelPort(std::uint32_t base, ProbeKind probe, JtagConnector& target,
               std::uint64_t dead_after = 0);

  std::uint32_t Base() const { return base_; }
  const ProbeWiring& Wiring() const { return wiring_; }

  // A byte read or write of I/O address `port`. Addresses outside the three
  // registers read 0xFF (nothing answers) and ignore writes.
  std::uint8_t Read(std::uint32_t port);
  void Write(std::uint32_t port, std::uint8_t value) {
    if (port == base_ && pins_live_ && dead_after_ == 0) {
      ++counters_.writes;
      DriveLivePins(value);
      return;
    }
    WriteSlowly(port, value);
  }

  bool ProbeEnabled() const { return (control_ & wiring_.enable_mask) == wiring_.enable_value; }
  bool ProbeDead() const { return dead_; }
  const PortCounters& Counters() const { return counters_; }
  void ResetCounters() { counters_ = {}; }

 private:
  void CountAccess();
  void WriteSlowly(std::uint32_t port, std::uint8_t value);
  // The bit-banging path of a data write while pins_live_: straight to the
  // pins.
  void DriveLivePins(std::uint8_t value) {
    data_ = value;
    const bool tck = (value & tck_mask_) != 0;
    target_.SetPins(tck, (value & tms_mask_) != 0, (value & tdi_mask_) != 0);
    driven_tck_ = tck;
  }
  void WriteData(std::uint8_t value);
  void WriteControl(std::uint8_t value);
  std::uint8_t ReadStatus();
  void DrivePins();
  void HarrierCommand(std::uint8_t command);
  void HarrierClock(bool tms, bool tdi);
  unsigned SpeedCode() const { return control_ & wiring_.speed_mask; }
  // Whether data writes reach the pins now (a pin-level probe, enabled and
  // alive); kept up to date by every change of the control register and
  // of dead_.
  void UpdatePinsLive() { pins_live_ = !dead_ && !wiring_.byte_protocol && ProbeEnabled(); }

  std::uint32_t base_;
  const ProbeWiring& wiring_;
  JtagConnector& target_;
  std::uint64_t dead_after_;
  bool dead_ = false;
  std::uint8_t data_ = 0;
  std::uint8_t control_ = 0;
  bool driven_tck_ = false;
  bool reset_asserted_ = false;
  bool last_toggle_ = false;
  unsigned busy_reads_ = 0;  // status reads left before the ready bit returns
  bool pins_live_ = false;
  // The data register bits of TCK, TMS and TDI (0: not wired).
  std::uint8_t tck_mask_ = 0, tms_mask_ = 0, tdi_mask_ = 0;
  PortCounters counters_;
};

}  // namespace simboard
