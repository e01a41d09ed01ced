// What one driver module fixes: its probe wiring, core timing, description,
// speeds and the texts of its connect and open messages.
#pragma once

#include <cstdint>

#include "drivers/transport/jtag.h"

namespace drivers {

struct ModuleProfile {
  const char* description;
  std::uint32_t description_buffer;  // bytes allocated for the description text
  std::uint32_t version;
  Wiring wiring;

  // Speed names in index order and what each index selects: a delay factor,
  // or a Harrier speed code when `speed_codes` is set.
  const char* const* speed_names;
  std::uint32_t speed_name_count;
  std::uint32_t speed_count;  // as reported (may differ when names are null)
  const int* speed_values;
  bool speed_codes;
  bool reads_speed;
  const char* speed_warning;

  std::uint32_t reset_pulse_ms;
  std::uint32_t reset_catch_ms;
  int halt_polls;
  int scan_n_bits;

  // Messages of open and connect; null: none.
  const char* port_library_failed;
  const char* probe_not_found;
  const char* cpu_not_found;
  const char* status_unreadable;
  const char* registers_failed;
  const char* final_presence_failed;
};

}  // namespace drivers
