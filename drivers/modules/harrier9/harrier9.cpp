// harrier9: the Harrier emulator (byte protocol, own clock) for ARM9 cores.
#include "drivers/core/module_profile.h"

const drivers::ModuleProfile drivers::kModuleProfile = {
    .probe = kHarrierProbe,
    .core = CoreFamily::Arm9,
    .description = "Tevrin Harrier for ARM9",
    .version = 0x118045,
    .timing = {.halt_polls = 1024},
    .halt_registers_failed = "Debug: image reg failed!!\n",
};
