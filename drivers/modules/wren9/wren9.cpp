// wren9: a plain JTAG cable on the parallel port, ARM9 cores.
#include "drivers/core/module_profile.h"

const drivers::ModuleProfile drivers::kModuleProfile = {
    .probe = kJtagCable,
    .core = CoreFamily::Arm9,
    .description = "Jtag cable for Romsmith",
    .version = 0x11A045,
};
