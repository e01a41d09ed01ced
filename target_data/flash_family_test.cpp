#include "target_data/flash_family.h"

#include <gtest/gtest.h>

#include <vector>

namespace romsmith {
namespace {

constexpr std::uint32_t kLpcFlash = FamilyTrait::kEraseBySector | FamilyTrait::kSectorIndexes |
                                    FamilyTrait::kCrystalFrequency | FamilyTrait::kVectorChecksum;
constexpr std::uint32_t kStrFlash = FamilyTrait::kEraseBySector | FamilyTrait::kProtectBySector;
constexpr std::uint32_t kNoResets = static_cast<std::uint32_t>(FamilyTrait::kNoResets);

TargetConfig Board(const char* cpu, const char* flash) {
  TargetConfig config;
  config.cpu_chip = cpu;
  config.flash_chip = flash;
  return config;
}

TEST(DeviceFamily, EachNameIsMatchedByItsOwnRulesAtItsStartOnly) {
  struct Case {
    const char* cpu;
    const char* flash;
    std::uint32_t traits;
  };
  const Case cases[] = {
      {"LPC2148", "LPC2148", kLpcFlash | kNoResets},
      {"S3C44B0X", "LPC2106", kLpcFlash},   // the flash rule looks at the flash name only
      {"LPC2106", "AM29LV160DB", kNoResets},  // and the reset rule at the CPU name only
      {"STR711", "STR71x bank 0", kStrFlash},
      {"STR711", "STR710 bank 0", 0},         // "STR71x" is taken literally
      {"NXP LPC2106", "NXP LPC2106", 0},      // further on in the name counts for nothing
      {"lpc2106", "lpc2106", 0},              // case counts
      {"", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.cpu) + " / " + c.flash);
    EXPECT_EQ(ResolveDeviceFamily(Board(c.cpu, c.flash)).traits, c.traits);
  }
}

TEST(DeviceFamily, AMadeUpFamilyIsOneMoreRow) {
  std::vector<FamilyRule> rules(FamilyRules().begin(), FamilyRules().end());
  rules.push_back({FamilyName::kFlashChip, "QX9",
                   FamilyTrait::kProtectBySector | FamilyTrait::kCrystalFrequency});
  rules.push_back({FamilyName::kCpuChip, "QX9", kNoResets});
  const DeviceFamily family = ResolveDeviceFamily(Board("QX9100", "QX9-256"), rules);
  EXPECT_TRUE(family.Has(FamilyTrait::kProtectBySector));
  EXPECT_TRUE(family.Has(FamilyTrait::kCrystalFrequency));
  EXPECT_TRUE(family.Has(FamilyTrait::kNoResets));
  EXPECT_FALSE(family.Has(FamilyTrait::kEraseBySector));
  EXPECT_FALSE(family.Has(FamilyTrait::kSectorIndexes));
  // The known families resolve as before against the longer table.
  EXPECT_EQ(ResolveDeviceFamily(Board("LPC2148", "LPC2148"), rules).traits, kLpcFlash | kNoResets);
}

}  // namespace
}  // namespace romsmith
