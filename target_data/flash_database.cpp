#include "target_data/flash_database.h"

#include <algorithm>

#include "platform/text.h"

namespace romsmith {
namespace {

std::size_t ClampCount(std::int32_t count, std::size_t limit) {
  if (count < 0) return 0;
  return std::min(static_cast<std::size_t>(count), limit);
}

// Reads the count key of one sequence and its cycles, row by row; a row ends
// at its first missing address or data key.
void ReadSequence(const IniDocument& document, const std::string& section, const char* count_key,
                  const char* name, CommandSequence& sequence) {
  std::int32_t count = static_cast<std::int32_t>(sequence.count);
  if (document.GetInt(section, count_key, count))
    sequence.count = static_cast<std::uint32_t>(ClampCount(count, kMaxSequenceCycles));
  for (std::size_t row = 0; row < kSequenceWidthRows; ++row) {
    const int width = static_cast<int>(8 * row + 8);
    for (std::uint32_t n = 1; n <= sequence.count; ++n) {
      const std::string address_key = FormatText("%d%s%uA", width, name, n);
      if (!document.GetUnsigned(section, address_key, sequence.addresses[row][n - 1])) break;
      const std::string data_key = FormatText("%d%s%uD", width, name, n);
      if (!document.GetUnsigned(section, data_key, sequence.data[row][n - 1])) break;
    }
  }
}

}  // namespace

std::uint64_t FlashDevice::TotalSectorBytes() const {
  std::uint64_t total = 0;
  for (std::int32_t size : sector_sizes) total += static_cast<std::uint32_t>(size);
  return total;
}

std::uint32_t FlashDevice::SectorOffset(std::int32_t sector) const {
  std::uint32_t offset = 0;
  const std::size_t end = ClampCount(sector, sector_sizes.size());
  for (std::size_t i = 0; i < end; ++i) offset += static_cast<std::uint32_t>(sector_sizes[i]);
  return offset;
}

const FlashDevice* FlashDatabase::Find(const std::string& name) const {
  auto it = std::find_if(devices.begin(), devices.end(),
                         [&](const FlashDevice& device) { return device.name == name; });
  return it == devices.end() ? nullptr : &*it;
}

void ReadCommandSet(const IniDocument& document, const std::string& command_type,
                    CommandSet& set) {
  const std::string& s = command_type;
  ReadSequence(document, s, "ResetSequence", "Reset", set.reset);
  ReadSequence(document, s, "GetMCSequence", "GetMC", set.read_manufacturer_code);
  ReadSequence(document, s, "GetDIDSequence", "GetDID", set.read_device_code);
  ReadSequence(document, s, "ReadSequence", "Read", set.read_mode);
  ReadSequence(document, s, "ChipEraseSequence", "ChipErase", set.chip_erase);
  document.GetInt(s, "SectorEraseWaitTime", set.sector_erase_wait_time);
  ReadSequence(document, s, "SectorEraseSequence", "SectorErase", set.sector_erase);
  document.GetInt(s, "ProgramMode", set.program_mode);
  ReadSequence(document, s, "ProgramSequence", "Program", set.program);
  document.GetInt(s, "ProtectionMask", set.protection_mask);
  document.GetInt(s, "ProtectionValue", set.protection_value);
  ReadSequence(document, s, "GetProtectionSequence", "GetProtection", set.read_protection);
  // Sector protect has no count key of its own: it shares the read one's.
  ReadSequence(document, s, "GetProtectionSequence", "SectorProtect", set.sector_protect);
}

std::vector<SectorRow> SectorTableRows(const FlashDevice& device, std::uint32_t flash_base) {
  std::vector<SectorRow> rows;
  rows.reserve(device.sector_sizes.size());
  std::uint32_t start = flash_base;
  for (std::size_t i = 0; i < device.sector_sizes.size(); ++i) {
    const std::int32_t size = device.sector_sizes[i];
    SectorRow row;
    row.number = FormatText("%zu", i + 1);
    row.size = size < 1024 ? FormatText("%d", size) : FormatText("%dK", size / 1024);
    row.starts = FormatText("0x%08X", start);
    rows.push_back(std::move(row));
    start += static_cast<std::uint32_t>(size);
  }
  return rows;
}

}  // namespace romsmith
