#include "operations/command_context.h"

namespace romsmith {

void CommandContext::BeginProgress(int high, bool animate) const {
  frontend.SetProgressRange(0, high);
  if (animate) frontend.StartAnimation();
}

void CommandContext::EndProgress() const {
  frontend.StopAnimation();
  frontend.SetProgressPosition(0);
}

std::uint32_t CommandContext::WidthBytes() const {
  return static_cast<std::uint32_t>(config().flash_width) / 8;
}

std::uint32_t CommandContext::Chips() const {
  return static_cast<std::uint32_t>(config().chips_per_sector);
}

std::uint32_t CommandContext::SectorOffset(std::int32_t sector) const {
  std::uint64_t offset = 0;
  for (std::int32_t k = 0; k < sector && k < flash().sector_count(); ++k)
    offset += static_cast<std::uint64_t>(static_cast<std::uint32_t>(flash().sector_sizes[k])) *
              Chips();
  return static_cast<std::uint32_t>(offset);
}

std::uint32_t CommandContext::SectorBytes(std::int32_t sector) const {
  if (sector < 0 || sector >= flash().sector_count()) return 0;
  return static_cast<std::uint32_t>(flash().sector_sizes[sector]) * Chips();
}

std::uint32_t CommandContext::SelectedLength() const {
  std::uint64_t length = 0;
  for (std::int32_t k = config().start_sector; k <= config().end_sector; ++k)
    length += SectorBytes(k);
  return static_cast<std::uint32_t>(length);
}

}  // namespace romsmith
