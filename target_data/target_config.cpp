#include "target_data/target_config.h"

#include <algorithm>
#include <cstdio>

#include "target_data/cpu_database.h"
#include "platform/text.h"

namespace romsmith {
namespace {

std::uint32_t ClampRowCount(std::int32_t count) {
  if (count < 0) return 0;
  return std::min(static_cast<std::uint32_t>(count), static_cast<std::uint32_t>(kMaxConfigRows));
}

void ReadCount(const IniDocument& document, const char* key, std::uint32_t& count) {
  std::int32_t value = 0;
  if (document.GetInt(kConfigSection, key, value)) count = ClampRowCount(value);
}

}  // namespace

bool TargetConfig::IsLittleEndian() const { return EqualsIgnoringCase(cpu_endian, "LITTLE"); }

bool TargetConfig::UsesNandCommands() const { return ContainsIgnoringCase(cpu_chip, "(Nand)"); }

void ReadTargetConfig(const IniDocument& document, TargetConfig& c) {
  const char* s = kConfigSection;
  document.GetString(s, "CpuVendor", c.cpu_vendor);
  document.GetString(s, "CpuChip", c.cpu_chip);
  document.GetString(s, "FlashVendor", c.flash_vendor);
  document.GetString(s, "FlashChip", c.flash_chip);
  document.GetUnsigned(s, "RamAddress", c.ram_address);
  document.GetInt(s, "RamSupport", c.ram_support);
  document.GetUnsigned(s, "FlashAddress", c.flash_address);
  document.GetInt(s, "FlashWidth", c.flash_width);
  document.GetInt(s, "FlashChipsPerSector", c.chips_per_sector);
  document.GetInt(s, "LittleEndian", c.little_endian);
  document.GetInt(s, "SectStart", c.start_sector);
  document.GetInt(s, "SectEnd", c.end_sector);
  document.GetInt(s, "AutoErase", c.auto_erase);
  document.GetInt(s, "AutoVerify", c.auto_verify);
  ReadCount(document, "SimCount", c.register_count);
  ReadCount(document, "MemoryCount", c.memory_count);
  document.GetString(s, "CpuEndian", c.cpu_endian);
  document.GetString(s, "ProgramFile", c.program_file);
  document.GetString(s, "Format", c.format);
  document.GetString(s, "UploadFile", c.upload_file);

  // A register row holds the name and the value only; the address and size
  // of the row come from the CPU database.
  for (std::uint32_t i = 1; i <= c.register_count; ++i) {
    std::string text;
    if (!document.GetString(s, FormatText("Sim%u", i), text)) continue;
    char name[kMaxRegisterNameLength + 1] = {};
    unsigned int value = 0;
    const int fields = std::sscanf(ColonsToBlanks(text).c_str(), "%63s $%X", name, &value);
    ConfigRegisterRow& row = c.registers[i - 1];
    if (fields >= 1) row.name = name;
    if (fields >= 2) row.value = value;
  }
  for (std::uint32_t i = 1; i <= c.memory_count; ++i) {
    std::string text;
    if (!document.GetString(s, FormatText("Mem%u", i), text)) continue;
    unsigned int address = 0;
    unsigned int value = 0;
    int size = 0;
    const int fields =
        std::sscanf(ColonsToBlanks(text).c_str(), "$%X $%X %d", &address, &value, &size);
    ConfigMemoryRow& row = c.memory[i - 1];
    if (fields >= 1) row.address = address;
    if (fields >= 2) row.value = value;
    if (fields >= 3) row.size = static_cast<std::uint32_t>(size);
  }
}

IniDocument WriteTargetConfig(const TargetConfig& c) {
  // Every new key goes directly under the section header, so setting them in
  // this order lists them in the file from "CpuVendor" down to "Sim1".
  IniDocument document;
  const char* s = kConfigSection;
  const std::uint32_t registers = std::min<std::uint32_t>(c.register_count, kMaxConfigRows);
  const std::uint32_t memory = std::min<std::uint32_t>(c.memory_count, kMaxConfigRows);
  for (std::uint32_t i = 1; i <= registers; ++i) {
    const ConfigRegisterRow& row = c.registers[i - 1];
    document.SetString(s, FormatText("Sim%u", i), FormatText("%s:$%08X", row.name.c_str(), row.value));
  }
  for (std::uint32_t i = 1; i <= memory; ++i) {
    const ConfigMemoryRow& row = c.memory[i - 1];
    document.SetString(s, FormatText("Mem%u", i),
                       FormatText("$%08X:$%08X:%d", row.address, row.value, static_cast<int>(row.size)));
  }
  document.SetString(s, "Format", c.format);
  document.SetString(s, "UploadFile", c.upload_file);
  document.SetString(s, "ProgramFile", c.program_file);
  document.SetInt(s, "MemoryCount", static_cast<std::int32_t>(memory));
  document.SetInt(s, "SimCount", static_cast<std::int32_t>(registers));
  document.SetString(s, "CpuEndian", c.cpu_endian);
  document.SetInt(s, "AutoVerify", c.auto_verify);
  document.SetInt(s, "AutoErase", c.auto_erase);
  document.SetInt(s, "SectEnd", c.end_sector);
  document.SetInt(s, "SectStart", c.start_sector);
  document.SetInt(s, "LittleEndian", c.little_endian);
  document.SetInt(s, "FlashChipsPerSector", c.chips_per_sector);
  document.SetInt(s, "FlashWidth", c.flash_width);
  document.SetHex(s, "FlashAddress", c.flash_address);
  document.SetInt(s, "RamSupport", c.ram_support);
  document.SetHex(s, "RamAddress", c.ram_address);
  document.SetString(s, "FlashChip", c.flash_chip);
  document.SetString(s, "FlashVendor", c.flash_vendor);
  document.SetString(s, "CpuChip", c.cpu_chip);
  document.SetString(s, "CpuVendor", c.cpu_vendor);
  return document;
}

bool SameTargetSettings(const TargetConfig& a, const TargetConfig& b) {
  if (!EqualsIgnoringCase(a.cpu_vendor, b.cpu_vendor) || !EqualsIgnoringCase(a.cpu_chip, b.cpu_chip) ||
      !EqualsIgnoringCase(a.flash_vendor, b.flash_vendor) ||
      !EqualsIgnoringCase(a.flash_chip, b.flash_chip) || !EqualsIgnoringCase(a.cpu_endian, b.cpu_endian))
    return false;
  if (a.ram_address != b.ram_address || a.ram_support != b.ram_support ||
      a.flash_address != b.flash_address || a.flash_width != b.flash_width ||
      a.chips_per_sector != b.chips_per_sector || a.little_endian != b.little_endian ||
      a.start_sector != b.start_sector || a.end_sector != b.end_sector ||
      a.auto_erase != b.auto_erase || a.auto_verify != b.auto_verify)
    return false;
  if (a.register_count != b.register_count || a.memory_count != b.memory_count) return false;
  if (!EqualsIgnoringCase(a.program_file, b.program_file) || !EqualsIgnoringCase(a.format, b.format) ||
      !EqualsIgnoringCase(a.upload_file, b.upload_file))
    return false;
  const std::uint32_t registers = std::min<std::uint32_t>(a.register_count, kMaxConfigRows);
  for (std::uint32_t i = 0; i < registers; ++i)
    if (a.registers[i].value != b.registers[i].value) return false;
  const std::uint32_t memory = std::min<std::uint32_t>(a.memory_count, kMaxConfigRows);
  for (std::uint32_t i = 0; i < memory; ++i)
    if (!(a.memory[i] == b.memory[i])) return false;
  return true;
}

bool ValidateTargetConfig(const TargetConfig& c, std::int32_t selected_sector_count,
                          const std::function<void(const std::string&)>& log_error) {
  std::string failure_text;
  const char* failure = nullptr;
  if (c.flash_vendor.empty() || c.flash_chip.empty())
    failure = "Error: you must select flash chip.\n";
  else if (c.start_sector > c.end_sector || c.start_sector < 0)
    // A range that starts before sector 0 would make the commands address
    // sectors that do not exist; it is refused like a reversed range.
    failure = "Error: incorrect sector number .\n";
  else if (c.end_sector >= selected_sector_count)
    failure = "Error: end sector number overflow.\n";
  else if (c.flash_width == 0)
    failure = "Error: you must select falsh width.\n";
  else if (c.cpu_vendor.empty() || c.cpu_chip.empty())
    failure = "Error: you must select CPU.\n";
  else if (c.ram_address == c.flash_address)
    failure = "Error: RAM address equal flash address.\n";
  // A width or chip count the bus cannot have would make the commands
  // address nothing (0 chips) or loop for ever over a huge sector.
  else if (c.flash_width != 8 && c.flash_width != 16 && c.flash_width != 32)
    failure = (failure_text = FormatText("Error: flash width %d is not 8, 16 or 32 bits.\n", c.flash_width)).c_str();
  else if (c.chips_per_sector != 1 && c.chips_per_sector != 2 && c.chips_per_sector != 4)
    failure = (failure_text = FormatText("Error: %d flash chips side by side; the bus takes 1, 2 or 4.\n",
                                         c.chips_per_sector)).c_str();
  else if (c.flash_width * c.chips_per_sector > 32)
    failure = (failure_text = FormatText("Error: %d chips of %d bits make a %d-bit bus; the bus has 32 bits.\n",
                                         c.chips_per_sector, c.flash_width,
                                         c.chips_per_sector * c.flash_width)).c_str();
  if (failure == nullptr) return true;
  if (log_error) log_error(failure);
  return false;
}

}  // namespace romsmith
