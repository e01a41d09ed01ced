// romsmith-catalog PROGRAM_DIRECTORY: lists what the shipped databases of a
// program directory hold, the CPU vendors with their CPUs and the flash
// vendors with their devices. Exits 0 when both databases list something.
#include <cstdio>
#include <filesystem>
#include <string>

#include "target_data/cpu_database.h"
#include "target_data/flash_database.h"

namespace {

std::string SizeText(std::uint64_t bytes) {
  char text[32];
  if (bytes >= 1024 * 1024 && bytes % (1024 * 1024) == 0)
    std::snprintf(text, sizeof text, "%llu MiB", static_cast<unsigned long long>(bytes >> 20));
  else if (bytes >= 1024 && bytes % 1024 == 0)
    std::snprintf(text, sizeof text, "%llu KiB", static_cast<unsigned long long>(bytes >> 10));
  else
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  return text;
}

std::string WidthsText(const romsmith::FlashDevice& device) {
  std::string text;
  for (std::int32_t width : device.widths) {
    if (!text.empty()) text += "/";
    text += std::to_string(width);
  }
  return text.empty() ? "-" : text;
}

const char* OrDash(const std::string& text) { return text.empty() ? "-" : text.c_str(); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PROGRAM_DIRECTORY\n", argv[0]);
    return 2;
  }
  const std::filesystem::path program = argv[1];

  const romsmith::CpuDatabase cpus = romsmith::LoadCpuDatabase(program);
  std::printf("CPUs (%zu vendors, %zu processors):\n", cpus.vendors.size(), cpus.cpus.size());
  for (const std::string& vendor : cpus.vendors) {
    std::printf("  %s\n", vendor.c_str());
    for (const romsmith::CpuRecord& cpu : cpus.cpus) {
      if (cpu.vendor != vendor) continue;
      std::printf("    %-24s %3d register rows  loaders %s (little), %s (big)\n", cpu.name.c_str(),
                  cpu.register_count(), OrDash(cpu.loader_file_le), OrDash(cpu.loader_file_be));
    }
  }

  const romsmith::FlashDatabase flash = romsmith::LoadFlashDatabase(program);
  std::printf("Flash devices (%zu vendors, %zu devices):\n", flash.vendors.size(),
              flash.devices.size());
  for (const std::string& vendor : flash.vendors) {
    std::printf("  %s\n", vendor.c_str());
    for (const romsmith::FlashDevice& device : flash.devices) {
      if (device.vendor != vendor) continue;
      std::printf("    %-24s %10s %5d sectors  widths %-8s %s\n", device.name.c_str(),
                  SizeText(static_cast<std::uint32_t>(device.chip_size)).c_str(),
                  device.sector_count(), WidthsText(device).c_str(), device.command_type.c_str());
    }
  }
  return cpus.cpus.empty() || flash.devices.empty() ? 1 : 0;
}
