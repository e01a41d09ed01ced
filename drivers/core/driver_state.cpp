#include "drivers/core/driver_state.h"

namespace drivers {

std::array<ModeRecord, 6> InitialModeRecords() {
  return {{
      {"_usr", kModeUser, false, 0xE3800010, 0xE8007F00, 0xE8917F00, 0xE89000FF, 7, 8, -1},
      {"_fiq", kModeFiq, false, 0xE3800011, 0xE8007F00, 0xE8917F00, 0xE89000FF, 7, 17, 24},
      {"_svc", kModeSupervisor, false, 0xE3800013, 0xE8006000, 0xE8916000, 0xE8901FFF, 2, 25, 27},
      {"_abt", kModeAbort, false, 0xE3800017, 0xE8006000, 0xE8916000, 0xE8901FFF, 2, 28, 30},
      {"_irq", kModeIrq, false, 0xE3800012, 0xE8006000, 0xE8916000, 0xE8901FFF, 2, 31, 33},
      {"_und", kModeUndefined, false, 0xE380001B, 0xE8006000, 0xE8916000, 0xE8901FFF, 2, 34, 36},
  }};
}

}  // namespace drivers
