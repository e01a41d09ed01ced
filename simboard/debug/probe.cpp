#include "simboard/debug/probe.h"

#include <cctype>
#include <string>

namespace simboard {

namespace {

// The wirings, one row each. Loop-backs are passive wires from a data bit to
// a status bit that the probe software uses to see that the probe is there.
constexpr ProbeWiring kWirings[] = {
    // emulator: data 0 TCK, 1 TDI, 2 TMS; control bits 1 and 2 enable, bit 0 reset.
    {ProbeKind::Emulator, "emulator", false, 0, 2, 1, 0x06, 0x06, 0x01, 0x00,
     {{4, 4}, {6, 6}}},
    // cable: data 1 TMS, 2 TCK, 3 TDI; control bit 0 enables, bit 1 resets; no loop-back.
    {ProbeKind::Cable, "cable", false, 2, 1, 3, 0x01, 0x01, 0x02, 0x00, {{-1, -1}, {-1, -1}}},
    // kestrel: the cable's pins; control bits 1..0 = 01 enable; data 5 loops back to status 6.
    {ProbeKind::Kestrel, "kestrel", false, 2, 1, 3, 0x03, 0x01, 0x02, 0x00,
     {{5, 6}, {-1, -1}}},
    // harrier: byte protocol; control bit 1 enables, bits 2..3 speed code, bit 0 reset.
    {ProbeKind::Harrier, "harrier", true, -1, -1, -1, 0x02, 0x02, 0x01, 0x0C,
     {{4, 4}, {6, 6}}},
};

bool Bit(std::uint8_t value, int bit) { return bit >= 0 && ((value >> bit) & 1) != 0; }

}  // namespace

std::optional<ProbeKind> ParseProbeKind(std::string_view name) {
  std::string lower;
  for (char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const ProbeWiring& w : kWirings)
    if (lower == w.name) return w.kind;
  return std::nullopt;
}

const char* ProbeKindName(ProbeKind kind) { return WiringOf(kind).name; }

const ProbeWiring& WiringOf(ProbeKind kind) { return kWirings[static_cast<unsigned>(kind)]; }

ParallelPort::ParallelPort(std::uint32_t base, ProbeKind probe, JtagConnector& target,
                           std::uint64_t dead_after)
    : base_(base), wiring_(WiringOf(probe)), target_(target), dead_after_(dead_after) {
  auto mask = [](std::int8_t bit) {
    return bit >= 0 ? static_cast<std::uint8_t>(1u << bit) : std::uint8_t{0};
  };
  tck_mask_ = mask(wiring_.tck_bit);
  tms_mask_ = mask(wiring_.tms_bit);
  tdi_mask_ = mask(wiring_.tdi_bit);
  UpdatePinsLive();
}

void ParallelPort::CountAccess() {
  if (dead_after_ != 0 && counters_.reads + counters_.writes >= dead_after_ && !dead_) {
    dead_ = true;
    UpdatePinsLive();
    if (reset_asserted_) {
      reset_asserted_ = false;
      target_.SetSystemReset(false);
    }
  }
}

std::uint8_t ParallelPort::Read(std::uint32_t port) {
  if (port < base_ || port > base_ + 2) return 0xFF;
  if (dead_after_ != 0) CountAccess();
  ++counters_.reads;
  switch (port - base_) {
    case 0: return data_;
    case 1: return ReadStatus();
    default: return control_;
  }
}

void ParallelPort::WriteSlowly(std::uint32_t port, std::uint8_t value) {
  if (port < base_ || port > base_ + 2) return;
  if (dead_after_ != 0) CountAccess();
  ++counters_.writes;
  if (port == base_) {
    if (pins_live_) {
      DriveLivePins(value);
      return;
    }
    WriteData(value);
  } else if (port == base_ + 2) {
    WriteControl(value);
  }
}

std::uint8_t ParallelPort::ReadStatus() {
  // Lines nobody drives read as 0 in the register; the port inverts bit 7, so
  // an undriven TDO line looks like TDO = 1, as with the cable pulled.
  std::uint8_t status = 0;
  for (const auto& loop : wiring_.loopback)
    if (loop.data_bit >= 0 && Bit(data_, loop.data_bit))
      status |= static_cast<std::uint8_t>(1u << loop.status_bit);
  if (dead_ || !ProbeEnabled()) return status;
  if (!target_.Tdo()) status |= kStatusTdoInverted;
  if (wiring_.byte_protocol) {
    if (busy_reads_ > 0)
      --busy_reads_;
    else
      status |= kStatusReady;
  }
  return status;
}

void ParallelPort::DrivePins() {
  if (dead_ || !ProbeEnabled() || wiring_.byte_protocol) return;
  bool tck = Bit(data_, wiring_.tck_bit);
  target_.SetPins(tck, Bit(data_, wiring_.tms_bit), Bit(data_, wiring_.tdi_bit));
  driven_tck_ = tck;
}

void ParallelPort::WriteData(std::uint8_t value) {
  data_ = value;
  if (!wiring_.byte_protocol) {
    DrivePins();
    return;
  }
  bool toggle = (value & harrier::kToggle) != 0;
  bool fresh = toggle != last_toggle_;
  last_toggle_ = toggle;
  if (!fresh || dead_ || !ProbeEnabled()) return;
  // A probe still busy with the last command drops this one.
  if (SpeedCode() != 0 && busy_reads_ > 0) return;
  HarrierCommand(value);
}

void ParallelPort::WriteControl(std::uint8_t value) {
  bool was_enabled = ProbeEnabled();
  control_ = value;
  UpdatePinsLive();
  if (dead_) return;
  bool reset = (control_ & wiring_.reset_mask) != 0;
  if (reset != reset_asserted_) {
    reset_asserted_ = reset;
    target_.SetSystemReset(reset);
  }
  if (ProbeEnabled() && !was_enabled) {
    DrivePins();
  } else if (!ProbeEnabled() && was_enabled && driven_tck_) {
    // Released pins fall low through the board's pull-downs.
    target_.SetPins(false, false, false);
    driven_tck_ = false;
  }
  if (!ProbeEnabled()) busy_reads_ = 0;
}

void ParallelPort::HarrierClock(bool tms, bool tdi) {
  target_.SetPins(false, tms, tdi);
  target_.SetPins(true, tms, tdi);
  target_.SetPins(false, tms, tdi);
}

void ParallelPort::HarrierCommand(std::uint8_t command) {
  if (command & harrier::kTriple) {
    for (unsigned k = 0; k < 3; ++k)
      HarrierClock(((command >> (2 * k + 1)) & 1) != 0, ((command >> (2 * k)) & 1) != 0);
  } else {
    HarrierClock((command & harrier::kTms) != 0, (command & harrier::kTdi) != 0);
  }
  // The probe clocks at the rate of its speed code; until it is done the
  // ready bit stays low for a few status reads.
  busy_reads_ = SpeedCode() / 4;
}

}  // namespace simboard
