// osprey7: the maker's JTAG emulator for ARM7 cores on the parallel port.
#include "drivers/core/module_profile.h"

const drivers::ModuleProfile drivers::kModuleProfile = {
    .probe = kTevrinEmulator,
    .core = CoreFamily::Arm7,
    .description = "Tevrin JTAG emulator for ARM7",
    .version = 0x112045,
};
