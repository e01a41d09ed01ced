// The flash device database: which flash chips exist, how each is organised,
// and the bus cycles of each command of its command set. It ships scrambled
// as "rom.xdl" in the program directory.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/ini_document.h"

namespace romsmith {

inline constexpr std::size_t kMaxFlashWidths = 8;
inline constexpr std::size_t kMaxFlashSectors = 8192;
inline constexpr std::size_t kMaxSequenceCycles = 16;
// Rows of a sequence: chip widths 8, 16, 24 and 32 bits.
inline constexpr std::size_t kSequenceWidthRows = 4;

struct FlashDevice {
  std::string name;
  std::string vendor;
  std::int32_t manufacturer_code = 0;
  std::uint32_t device_code = 0;
  std::int32_t chip_size = 0;            // bytes
  std::vector<std::int32_t> widths;      // bits; at most kMaxFlashWidths
  std::int32_t fail_mask = 0;
  std::vector<std::int32_t> sector_sizes;  // bytes, sector order; at most kMaxFlashSectors
  std::string command_type;
  std::uint32_t page_count = 0;
  std::uint32_t page_size = 0;
  std::uint32_t page_spare = 0;

  std::int32_t width_count() const { return static_cast<std::int32_t>(widths.size()); }
  std::int32_t sector_count() const { return static_cast<std::int32_t>(sector_sizes.size()); }
  // Sum of all sector sizes.
  std::uint64_t TotalSectorBytes() const;
  // Offset of a sector from the start of the chip: the sizes before it.
  std::uint32_t SectorOffset(std::int32_t sector) const;

  bool operator==(const FlashDevice&) const = default;
};

struct FlashDatabase {
  std::vector<std::string> vendors;  // file order
  std::vector<FlashDevice> devices;  // vendor order, file order within a vendor

  // The first device of that name, or nullptr.
  const FlashDevice* Find(const std::string& name) const;
};

// Reads a plain database text. False when the file cannot be opened.
bool ReadFlashDatabase(const std::filesystem::path& plain_file, FlashDatabase& database);

// Decodes "rom.xdl" of the program directory into a private temporary copy,
// reads the device list and deletes the copy. When the copy cannot be read:
// message box "Can't open flash data file!" (caption "Error", error icon)
// and an empty list.
FlashDatabase LoadFlashDatabase(const std::filesystem::path& program_directory);

// One command of a chip's command set: `count` bus cycles, each an address
// and a data value, for every chip width (row r: 8 x (r + 1) bits).
struct CommandSequence {
  std::uint32_t count = 0;
  std::array<std::array<std::uint32_t, kMaxSequenceCycles>, kSequenceWidthRows> addresses{};
  std::array<std::array<std::uint32_t, kMaxSequenceCycles>, kSequenceWidthRows> data{};

  bool operator==(const CommandSequence&) const = default;
};

// The command set of the selected device, in its file order.
struct CommandSet {
  CommandSequence reset;
  CommandSequence read_manufacturer_code;
  CommandSequence read_device_code;
  CommandSequence read_mode;
  CommandSequence chip_erase;
  std::int32_t sector_erase_wait_time = 0;
  CommandSequence sector_erase;
  std::int32_t program_mode = 0;
  CommandSequence program;
  std::int32_t protection_mask = 0;
  std::int32_t protection_value = 0;
  CommandSequence read_protection;
  CommandSequence sector_protect;

  bool operator==(const CommandSet&) const = default;
};

// Reads the command set of section `command_type` from a loaded database
// document into `set`, key by key: whatever is missing keeps its value.
void ReadCommandSet(const IniDocument& document, const std::string& command_type,
                    CommandSet& set);

// Decodes "rom.xdl" of the program directory into "rom.api" beside it, reads
// the command set of `command_type` and deletes the copy. When the copy
// cannot be read: message box "Can't open flash data file!" (caption
// "Error", error icon), false, and `set` keeps its values.
bool LoadCommandSet(const std::filesystem::path& program_directory,
                    const std::string& command_type, CommandSet& set);

// One row of the sector list of the flash page.
struct SectorRow {
  std::string number;  // from 1
  std::string size;    // "%d" below 1024 bytes, else "%dK"
  std::string starts;  // "0x%08X": flash base plus the sizes before it
  bool operator==(const SectorRow&) const = default;
};

std::vector<SectorRow> SectorTableRows(const FlashDevice& device, std::uint32_t flash_base);

}  // namespace romsmith
