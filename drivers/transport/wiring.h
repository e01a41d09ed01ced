// The probe wirings as data: which parallel-port bits carry the JTAG lines,
// how the probe is enabled, released and made to reset the target, how its
// presence is tested, and whether it is bit-banged or takes command bytes.
// The transport reads one row; a new probe is a new row.
#pragma once

#include <cstdint>

namespace drivers {

// The wirings the modules are built for.
enum class Wiring { Emulator, Cable, Kestrel, Harrier };

// One presence-test step: write `data` to the data register, then the status
// register ANDed with `status_mask` must equal `status_expected`.
struct PresenceStep {
  std::uint8_t data, status_mask, status_expected;
};

struct WiringRow {
  const char* name;
  // Data-register lines of a bit-banged wiring (unused with the byte
  // protocol).
  std::uint8_t tck, tdi, tms;
  // The status bit TDO arrives on, and whether the port inverts it.
  std::uint8_t tdo_bit;
  bool tdo_inverted;
  // Control register. Enable: (control AND enable_keep) OR enable_set; the
  // release keeps control AND release_keep; reset_bit drives the target's
  // reset line.
  std::uint8_t enable_keep, enable_set, release_keep, reset_bit;
  // The busy-wait delay loop runs around each data write.
  bool software_delays;
  // Presence test: `presence_steps` steps, then the data register cleared;
  // none at all (no port access, always present) when 0.
  int presence_steps;
  PresenceStep presence[2];
  // Byte protocol: each data byte is a command (TDI bit 0, TMS bit 1, a
  // toggle in bit 6 that must differ from the last byte written, bit 7 for
  // three clocks packed in bits 0..5), the speed code rides in control bits
  // 2..3, enable and reset write the control register whole, and after a
  // passed presence test the probe settles for speed code x 10 ms.
  bool byte_protocol;
  // Byte protocol with a speed code: the status bit that says the probe
  // takes the next command.
  std::uint8_t ready_bit;
};

const WiringRow& WiringOf(Wiring wiring);

}  // namespace drivers
