#include "drivers/transport/wiring.h"

namespace drivers {
namespace {

// Indexed by Wiring. Every probe returns TDO on status bit 7, which the port
// inverts. The emulator ties data bits back to status bits 4 and 6 for its
// presence test, the Kestrel data bit 5 to status bit 6, the Harrier answers
// its own pair; the cable has no loop-back.
constexpr WiringRow kWirings[] = {
    {"Emulator", 0x01, 0x02, 0x04, 0x80, true, 0xFF, 0x06, 0xF9, 0x01, true,
     2, {{0x38, 0x50, 0x10}, {0xC0, 0x50, 0x40}}, false, 0},
    {"Cable", 0x04, 0x08, 0x02, 0x80, true, 0xFF, 0x01, 0xFE, 0x02, true,
     0, {}, false, 0},
    {"Kestrel", 0x04, 0x08, 0x02, 0x80, true, 0xFC, 0x01, 0xFC, 0x02, false,
     2, {{0x20, 0x40, 0x40}, {0x00, 0x40, 0x00}}, false, 0},
    {"Harrier", 0, 0, 0, 0x80, true, 0x00, 0x02, 0xFD, 0x01, false,
     2, {{0x30, 0x50, 0x10}, {0x40, 0x50, 0x40}}, true, 0x20},
};

}  // namespace

const WiringRow& WiringOf(Wiring wiring) { return kWirings[static_cast<int>(wiring)]; }

}  // namespace drivers
