#include "target_data/flash_family.h"

namespace romsmith {
namespace {

// LPC2000 parts program through the boot ROM's IAP calls, which take sector
// numbers and the crystal frequency and boot only a valid vector table;
// resetting them through the probe would hand them to the boot loader. The
// STR71x flash interface erases and protects sector by sector only.
constexpr FamilyRule kRules[] = {
    {FamilyName::kFlashChip, "LPC",
     FamilyTrait::kEraseBySector | FamilyTrait::kSectorIndexes | FamilyTrait::kCrystalFrequency |
         FamilyTrait::kVectorChecksum},
    {FamilyName::kFlashChip, "STR71x", FamilyTrait::kEraseBySector | FamilyTrait::kProtectBySector},
    {FamilyName::kCpuChip, "LPC", static_cast<std::uint32_t>(FamilyTrait::kNoResets)},
};

}  // namespace

std::span<const FamilyRule> FamilyRules() { return kRules; }

DeviceFamily ResolveDeviceFamily(const TargetConfig& config, std::span<const FamilyRule> rules) {
  DeviceFamily family;
  for (const FamilyRule& rule : rules) {
    const std::string_view name =
        rule.name == FamilyName::kCpuChip ? config.cpu_chip : config.flash_chip;
    if (name.starts_with(rule.prefix)) family.traits |= rule.traits;
  }
  return family;
}

}  // namespace romsmith
