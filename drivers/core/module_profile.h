// What one driver module fixes: its probe, its core family, its description
// and version, the numbers that differ between modules and the texts of its
// connect messages. A module's directory holds nothing but its profile; the
// probe families it picks from are shared by the ARM7 and ARM9 variants.
#pragma once

#include <cstdint>

#include "drivers/transport/jtag.h"

namespace drivers {

enum class CoreFamily { Arm7, Arm9 };

// What a speed index selects.
enum class SpeedSetting {
  DelayFactor,  // 0, 1 or 4 rounds of the software delay after each write
  HarrierCode,  // the probe's own clock rate: 0, 4, 8 or 12
  NotRead,      // the module ignores the speed option and never delays
};

struct SpeedTable {
  const char* const* names;  // in index order; null: the module names none
  std::uint32_t name_count;
  std::uint32_t reported_count;  // the count the description record gives
  const int* values;             // per index
  SpeedSetting setting;
};

// One probe as every module on it sees it: its port wiring, its speeds and
// the lines it reports when the port or the probe is not there.
struct ProbeFamily {
  Wiring wiring;
  const SpeedTable* speeds;
  const char* speed_warning;        // out-of-range speed index; null: none
  const char* port_library_failed;  // the port library did not load
  const char* probe_not_found;      // presence test failed; null: no line
};

extern const SpeedTable kDelaySpeeds;    // High, Medium, Low: factors 0, 1, 4
extern const SpeedTable kHarrierSpeeds;  // Full, High, Medium, Low: codes 0, 4, 8, 12

extern const ProbeFamily kTevrinEmulator;
extern const ProbeFamily kJtagCable;
extern const ProbeFamily kHarrierProbe;
extern const ProbeFamily kKestrelProbe;

// Timing of the core access that varies by module.
struct CoreTiming {
  std::uint32_t reset_pulse_ms = 50;
  std::uint32_t reset_catch_ms = 250;
  int halt_polls = 255;
};

struct ModuleProfile {
  const ProbeFamily& probe;
  CoreFamily core;
  const char* description;
  std::uint32_t version;
  std::uint32_t description_buffer = 64;  // bytes allocated for the description text
  CoreTiming timing = {};

  // Connect lines where modules differ; null: no line.
  const char* cpu_not_found = "Error: target CPU not found. \n";
  const char* status_unreadable = "Debug: emulator initialize failed. \n";
  const char* registers_failed = nullptr;
  const char* final_presence_failed = nullptr;
  // ARM9 halt: the line when the registers cannot be read afterwards.
  const char* halt_registers_failed = nullptr;

  // The SCAN_N field: 4 bits on ARM7 cores, 5 on ARM9 cores.
  int scan_n_bits() const { return core == CoreFamily::Arm9 ? 5 : 4; }
};

// The profile of the module being built: each module directory defines it,
// and the module's one export hands out the driver table over it.
extern const ModuleProfile kModuleProfile;

}  // namespace drivers
