// wren7: a plain JTAG cable on the parallel port, ARM7 cores. The cable
// pulses the target reset shorter and waits less for the reset catch.
#include "drivers/core/module_profile.h"

const drivers::ModuleProfile drivers::kModuleProfile = {
    .probe = kJtagCable,
    .core = CoreFamily::Arm7,
    .description = "Jtag cable for Romsmith",
    .version = 0x114045,
    .timing = {.reset_pulse_ms = 10, .reset_catch_ms = 200},
};
