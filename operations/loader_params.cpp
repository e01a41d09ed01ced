#include "operations/loader_params.h"

#include <algorithm>

namespace romsmith {
namespace {

void PutWord(std::uint8_t* at, std::uint32_t value, bool little_endian) {
  for (int i = 0; i < 4; ++i) {
    const std::uint8_t byte = static_cast<std::uint8_t>(value >> (8 * i));
    at[little_endian ? i : 3 - i] = byte;
  }
}

}  // namespace

void PackLoaderParams(std::uint8_t* destination, const LoaderParams& params, bool little_endian) {
  destination[0] = static_cast<std::uint8_t>(params.operation);
  destination[1] = params.cycle_count;
  destination[2] = params.width_bytes;
  destination[3] = params.chips;
  destination[4] = params.program_mode;
  destination[5] = params.auto_verify;
  destination[6] = params.reserved;
  destination[7] = params.result;
  PutWord(destination + 8, params.flash_start, little_endian);
  PutWord(destination + 12, params.address, little_endian);
  PutWord(destination + 16, params.length, little_endian);
  for (std::size_t i = 0; i < kLoaderCycleSlots; ++i) {
    PutWord(destination + 20 + 4 * i, params.cycle_address[i], little_endian);
    PutWord(destination + 60 + 4 * i, params.cycle_data[i], little_endian);
  }
}

std::uint8_t BuildCycles(const CommandSequence& sequence, std::uint32_t width_bytes,
                         std::uint32_t chips, std::uint32_t flash_start, LoaderParams& params,
                         std::uint32_t* sector_address_cycles) {
  params.cycle_address.fill(0);
  params.cycle_data.fill(0);
  if (sector_address_cycles) *sector_address_cycles = 0;
  if (width_bytes == 0 || width_bytes > kSequenceWidthRows) return 0;
  const std::size_t row = width_bytes - 1;
  const std::uint32_t count =
      std::min<std::uint32_t>(sequence.count, static_cast<std::uint32_t>(kLoaderCycleSlots));
  const std::uint32_t bus_bytes = width_bytes * chips;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t table_address = sequence.addresses[row][i];
    const std::uint32_t d = sequence.data[row][i];
    params.cycle_address[i] = flash_start + table_address * bus_bytes;
    std::uint32_t data = d;
    if (width_bytes == 1) {
      if (chips >= 2) data |= d << 8;
      if (chips == 4) data |= (d << 16) | (d << 24);
    } else if (width_bytes == 2) {
      if (chips == 2) data |= d << 16;
    }
    params.cycle_data[i] = data;
    if (table_address == 0 && sector_address_cycles) *sector_address_cycles |= 1u << i;
  }
  return static_cast<std::uint8_t>(count);
}

void SetSectorAddressCycles(LoaderParams& params, std::uint32_t sector_address_cycles,
                            std::uint32_t sector_start) {
  for (std::size_t i = 0; i < kLoaderCycleSlots; ++i)
    if (sector_address_cycles & (1u << i)) params.cycle_address[i] = sector_start;
}

}  // namespace romsmith
