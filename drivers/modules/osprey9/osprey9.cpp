// osprey9: the maker's JTAG emulator for ARM9 cores on the parallel port.
#include "drivers/core/module_profile.h"

const drivers::ModuleProfile drivers::kModuleProfile = {
    .probe = kTevrinEmulator,
    .core = CoreFamily::Arm9,
    .description = "Tevrin JTAG emulator for ARM9",
    .version = 0x115045,
};
