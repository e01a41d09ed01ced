// The target configuration: the board that every command works on (CPU and
// flash chip, where RAM and flash sit, bus width, sector range, byte order,
// the register and memory writes that prepare the board, the files), and
// its ".cfg" file form, section "SETUP".
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "formats/ini_document.h"

namespace romsmith {

inline constexpr std::size_t kMaxConfigRows = 256;
inline constexpr char kConfigSection[] = "SETUP";

// The values of "Format". A flat binary goes from the first selected sector
// on; an Intel HEX file is converted to one with 16-bit record addresses. An
// image (ELF, S-record or Intel HEX with every record type, told apart by
// its content) carries its own target addresses.
inline constexpr char kFlatBinFormat[] = "Flat Bin";
inline constexpr char kIntelHexFormat[] = "Intel Hex";
inline constexpr char kImageFormat[] = "Image (ELF, S-record, HEX)";

struct ConfigRegisterRow {
  std::string name;
  std::uint32_t address = 0;
  std::uint32_t size = 0;  // bits
  std::uint32_t value = 0;
  bool operator==(const ConfigRegisterRow&) const = default;
};

struct ConfigMemoryRow {
  std::uint32_t address = 0;
  std::uint32_t size = 0;  // bits
  std::uint32_t value = 0;
  bool operator==(const ConfigMemoryRow&) const = default;
};

struct TargetConfig {
  std::string cpu_vendor;   // "CpuVendor"
  std::string cpu_chip;     // "CpuChip"
  std::string cpu_endian;   // "CpuEndian": "LITTLE" or "BIG"
  std::string flash_vendor; // "FlashVendor"
  std::string flash_chip;   // "FlashChip"
  std::uint32_t ram_address = 0;       // "RamAddress"
  std::int32_t ram_support = 0;        // "RamSupport"
  std::uint32_t flash_address = 0;     // "FlashAddress"
  std::int32_t flash_width = 0;        // "FlashWidth": bits of one chip, 0 = not chosen
  std::int32_t chips_per_sector = 0;   // "FlashChipsPerSector"
  std::int32_t little_endian = 0;      // "LittleEndian"
  std::int32_t start_sector = 0;       // "SectStart", from 0
  std::int32_t end_sector = 0;         // "SectEnd", from 0
  std::int32_t auto_erase = 0;         // "AutoErase"
  std::int32_t auto_verify = 0;        // "AutoVerify"
  std::string program_file;            // "ProgramFile"
  std::string format;                  // "Format": one of the values above
  std::string upload_file;             // "UploadFile"
  std::uint32_t register_count = 0;    // "SimCount", at most kMaxConfigRows
  std::uint32_t memory_count = 0;      // "MemoryCount", at most kMaxConfigRows
  std::array<ConfigRegisterRow, kMaxConfigRows> registers{};  // "Sim%d"
  std::array<ConfigMemoryRow, kMaxConfigRows> memory{};       // "Mem%d"

  // Anything but "LITTLE" (ignoring case) is big-endian.
  bool IsLittleEndian() const;
  // The CPU name contains "(Nand)": NAND command family.
  bool UsesNandCommands() const;
  // "Format" is kImageFormat: the program file places its own bytes.
  bool UsesAddressImage() const { return format == kImageFormat; }

  bool operator==(const TargetConfig&) const = default;
};

// Reads section "SETUP" of a loaded document into `config`; keys that are
// missing leave their fields as they were.
void ReadTargetConfig(const IniDocument& document, TargetConfig& config);

// A new document holding `config` in its file form: keys set in the order
// that puts "CpuVendor" first and the register rows last, highest first.
IniDocument WriteTargetConfig(const TargetConfig& config);

// The comparison behind "is modified": the CPU, flash and byte-order texts,
// the numbers from RAM address to auto verify, the counts, the file texts
// (texts ignoring case), every register row's value and every memory row.
bool SameTargetSettings(const TargetConfig& a, const TargetConfig& b);

// The validation run before every command. `selected_sector_count` is the
// sector count of the selected flash device. The first failure is handed to
// `log_error` as its message line and the result is false.
bool ValidateTargetConfig(const TargetConfig& config, std::int32_t selected_sector_count,
                          const std::function<void(const std::string&)>& log_error);

}  // namespace romsmith
