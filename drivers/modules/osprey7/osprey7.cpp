// osprey7: the maker's JTAG emulator for ARM7 cores on the parallel port.
#include "driver_api/gdi.h"
#include "drivers/core/driver.h"

namespace {

const char* const kSpeedNames[] = {"High Speed", "Medium Speed", "Low Speed"};
const int kDelayFactors[] = {0, 1, 4};

const drivers::ModuleProfile kOsprey7 = {
    .description = "Tevrin JTAG emulator for ARM7",
    .description_buffer = 64,
    .version = 0x112045,
    .wiring = drivers::Wiring::Emulator,
    .speed_names = kSpeedNames,
    .speed_name_count = 3,
    .speed_count = 3,
    .speed_values = kDelayFactors,
    .speed_codes = false,
    .reads_speed = true,
    .speed_warning = "Warning: JTAG speed config error, Tevrin Emulator running at full speed.\n",
    .reset_pulse_ms = 50,
    .reset_catch_ms = 250,
    .halt_polls = 255,
    .scan_n_bits = 4,
    .port_library_failed = "Error: device driver error!\n",
    .probe_not_found = "Error: emulator not found, please check power and hardware connection.\n",
    .cpu_not_found = "Error: target CPU not found. \n",
    .status_unreadable = "Debug: emulator initialize failed. \n",
    .registers_failed = nullptr,
    .final_presence_failed = nullptr,
};

}  // namespace

extern "C" GDI_EXPORT const DriverTable* GDI_CALL gdi_get(void) {
  return drivers::ModuleDriverTable(kOsprey7);
}
