// What the on-chip flash arrays programmed through a controller of their own
// (AT91SAM7 EFC, STR71x flash interface) share as bus regions: the image file
// behind the array and its non-volatile words, the board's clock and
// counters, and the cycle at which the controller's running command ends.
#pragma once

#include <cstdint>
#include <string>

#include "simboard/description/board_file.h"
#include "simboard/memory/flash_image.h"
#include "simboard/memory/memory.h"

namespace simboard {

class ControlledFlashRegion : public Region {
 public:
  bool busy() const { return clock_.cycles < ready_at_; }
  // Cycles until the running command ends; for ever when none runs.
  std::uint64_t SteadyWhileBusy() const {
    return busy() ? ready_at_ - clock_.cycles : kSteadyForever;
  }

 protected:
  ControlledFlashRegion(const RegionDescription& description, std::uint64_t window_bytes,
                        const Clock& clock, std::uint32_t clock_khz, Counters& counters)
      : Region(description.section, description.base, window_bytes),
        clock_(clock),
        cycles_per_ms_(clock_khz),
        counters_(counters) {}

  // Opens the image named in the region's description; the error names the
  // region's section.
  bool OpenImage(const RegionDescription& description, std::size_t array_bytes,
                 std::size_t config_bytes, std::string& error) {
    if (image_.Open(description.onchip.image, array_bytes, config_bytes, error)) return true;
    error = "[" + description.section + "] " + error;
    return false;
  }

  const Clock& clock_;
  std::uint64_t cycles_per_ms_;
  Counters& counters_;
  FlashImage image_;
  std::uint64_t ready_at_ = 0;
};

}  // namespace simboard
