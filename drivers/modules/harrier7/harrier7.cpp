// harrier7: the Harrier emulator (byte protocol, own clock) for ARM7 cores.
// It reports its own connect failures and polls longer for a halt.
#include "drivers/core/module_profile.h"

const drivers::ModuleProfile drivers::kModuleProfile = {
    .probe = kHarrierProbe,
    .core = CoreFamily::Arm7,
    .description = "Tevrin Harrier for ARM7",
    .version = 0x117047,
    .timing = {.reset_pulse_ms = 100, .halt_polls = 1024},
    .status_unreadable = "Error: emulator initialize failed. \n",
    .registers_failed = "Error: Get target reg failed. \n",
    .final_presence_failed = "Error: Harrier not found.\n",
};
