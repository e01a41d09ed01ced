// kestrel7: the Kestrel-I emulator for ARM7 cores, driven through the port
// library without software delays.
#include "drivers/core/module_profile.h"

const drivers::ModuleProfile drivers::kModuleProfile = {
    .probe = kKestrelProbe,
    .core = CoreFamily::Arm7,
    .description = "Tevrin Kestrel- I for ARM7.",
    .version = 0x119043,
    .description_buffer = 128,
    .timing = {.reset_pulse_ms = 100, .reset_catch_ms = 200},
    .cpu_not_found = "Error: target CPU not found, please check power and JTAG connections.\n",
};
