// Reading the shipped databases: the scrambled files are decoded into plain
// copies, read and deleted again.
#include <algorithm>
#include <system_error>

#include "formats/data_file.h"
#include "formats/profile_reader.h"
#include "platform/message_box.h"
#include "target_data/cpu_database.h"
#include "target_data/flash_database.h"
#include "target_data/scratch_copy.h"
#include "platform/text.h"

namespace romsmith {
namespace {

std::size_t ClampCount(std::int32_t count, std::size_t limit) {
  if (count < 0) return 0;
  return std::min(static_cast<std::size_t>(count), limit);
}

void ShowFlashDataError() {
  platform::ShowMessage("Can't open flash data file!", "Error", platform::MessageIcon::Error);
}

}  // namespace

bool ReadCpuDatabase(const std::filesystem::path& plain_file, CpuDatabase& database) {
  database = CpuDatabase();
  if (!IsReadableFile(plain_file)) return false;

  ProfileReader reader;
  reader.SetFile(plain_file.string());
  std::string text;
  for (int i = 1; reader.ReadString("VENDORS", std::to_string(i), text); ++i)
    database.vendors.push_back(text);

  for (const std::string& vendor : database.vendors) {
    std::string cpu_name;
    for (int j = 1; reader.ReadString(vendor, std::to_string(j), cpu_name); ++j) {
      CpuRecord record;
      record.name = cpu_name;
      record.vendor = vendor;
      const std::string& section = cpu_name;
      reader.ReadInt(section, "CpuType", record.cpu_type);
      reader.ReadString(section, "Endian", record.endian);
      reader.ReadString(section, "DefaultEndian", record.default_endian);
      reader.ReadString(section, "LoadFileLE", record.loader_file_le);
      reader.ReadString(section, "LoadFileBE", record.loader_file_be);
      reader.ReadInt(section, "DownloadSize", record.download_size);
      reader.ReadInt(section, "SimStartRegisterMask", record.start_register_mask);
      reader.ReadString(section, "SimLabel", record.label);
      std::int32_t count = 0;
      reader.ReadInt(section, "SimCount", count);
      // A count beyond the table would overrun it; a negative one means none.
      count = std::clamp<std::int32_t>(count, 0, static_cast<std::int32_t>(kMaxCpuRegisters));
      record.registers.resize(static_cast<std::size_t>(count));
      for (std::int32_t k = 1; k <= count; ++k) {
        std::string row;
        if (reader.ReadString(section, FormatText("Sim%d", k), row))
          record.registers[static_cast<std::size_t>(k - 1)] = ParseCpuRegisterRow(row);
      }
      database.cpus.push_back(std::move(record));
    }
  }
  reader.Close();
  return true;
}

CpuDatabase LoadCpuDatabase(const std::filesystem::path& program_directory) {
  CpuDatabase database;
  ScratchCopy copy("proc.api", program_directory);
  const bool decoded =
      DecodeDataFile((program_directory / "proc.xdl").string(), copy.path().string());
  if (!decoded || !ReadCpuDatabase(copy.path(), database)) {
    platform::ShowMessage("Can't open CPU data file!", "Error", platform::MessageIcon::Error);
    return CpuDatabase();
  }
  return database;
}

bool ReadFlashDatabase(const std::filesystem::path& plain_file, FlashDatabase& database) {
  database = FlashDatabase();
  if (!IsReadableFile(plain_file)) return false;

  ProfileReader reader;
  reader.SetFile(plain_file.string());
  std::string text;
  for (int i = 1; reader.ReadString("VENDORS", std::to_string(i), text); ++i)
    database.vendors.push_back(text);

  for (const std::string& vendor : database.vendors) {
    std::string device_name;
    for (int j = 1; reader.ReadString(vendor, std::to_string(j), device_name); ++j) {
      FlashDevice device;
      device.name = device_name;
      device.vendor = vendor;
      const std::string& section = device_name;
      reader.ReadInt(section, "ManufacturersCode", device.manufacturer_code);
      reader.ReadUnsigned(section, "DeviceID", device.device_code);
      reader.ReadInt(section, "ChipSize", device.chip_size);
      std::int32_t width_count = 0;
      reader.ReadInt(section, "ChipWidthCount", width_count);
      device.widths.assign(ClampCount(width_count, kMaxFlashWidths), 0);
      for (std::size_t k = 1; k <= device.widths.size(); ++k)
        reader.ReadInt(section, FormatText("ChipWidth%zu", k), device.widths[k - 1]);
      reader.ReadInt(section, "FailMask", device.fail_mask);
      std::int32_t sector_count = 0;
      reader.ReadInt(section, "SectorCount", sector_count);
      const std::size_t sectors = ClampCount(sector_count, kMaxFlashSectors);

      std::int32_t uniform_size = 0;
      if (reader.ReadInt(section, "SectorSize", uniform_size)) {
        device.sector_sizes.assign(sectors, uniform_size);
      } else {
        device.sector_sizes.assign(sectors, 0);
        for (std::size_t k = 1; k <= sectors; ++k) {
          // A missing size repeats the one of the sector before it.
          if (k > 1) device.sector_sizes[k - 1] = device.sector_sizes[k - 2];
          reader.ReadInt(section, FormatText("SectorSize%zu", k), device.sector_sizes[k - 1]);
        }
      }

      reader.ReadString(section, "CommandType", device.command_type);
      reader.ReadUnsigned(section, "PageCount", device.page_count);
      reader.ReadUnsigned(section, "PageSize", device.page_size);
      reader.ReadUnsigned(section, "PageSpare", device.page_spare);
      database.devices.push_back(std::move(device));
    }
  }
  reader.Close();
  return true;
}

FlashDatabase LoadFlashDatabase(const std::filesystem::path& program_directory) {
  FlashDatabase database;
  ScratchCopy copy("rom.api", program_directory);
  const bool decoded =
      DecodeDataFile((program_directory / "rom.xdl").string(), copy.path().string());
  if (!decoded || !ReadFlashDatabase(copy.path(), database)) {
    ShowFlashDataError();
    return FlashDatabase();
  }
  return database;
}

bool LoadCommandSet(const std::filesystem::path& program_directory,
                    const std::string& command_type, CommandSet& set) {
  bool loaded = false;
  IniDocument document;
  {
    // A copy of this read alone, in a directory made new for it, gone with
    // the read also when the read failed.
    ScratchCopy copy("rom.api", program_directory);
    std::error_code error;
    std::filesystem::remove(copy.path(), error);  // never read a copy a stopped run left behind
    // A failed decode has shown its box; the load below then fails too.
    static_cast<void>(
        DecodeDataFile((program_directory / "rom.xdl").string(), copy.path().string()));
    loaded = document.Load(copy.path().string());
  }
  if (!loaded) {
    ShowFlashDataError();
    return false;
  }
  ReadCommandSet(document, command_type, set);
  return true;
}

}  // namespace romsmith
