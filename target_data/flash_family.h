// Device families: what sets a board apart by the start of its CPU or flash
// device name. Each rule is one row of a table; a target configuration is
// resolved against the table once, and the command bodies read the traits.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "target_data/target_config.h"

namespace romsmith {

// One trait a family brings; a family may bring several.
enum class FamilyTrait : std::uint32_t {
  // Erase goes sector by sector, even for the whole chip.
  kEraseBySector = 1u << 0,
  // Protect goes sector by sector, even for the whole chip.
  kProtectBySector = 1u << 1,
  // Erase and program blocks carry the first and last sector index in place
  // of the cycle count and the width (bytes 1 and 2).
  kSectorIndexes = 1u << 2,
  // Erase and program blocks carry the crystal frequency ("LpcFreq", kHz) in
  // place of the flash start (word 8).
  kCrystalFrequency = 1u << 3,
  // The chip boots only when its exception vectors sum to zero: program puts
  // the checksum word at 0x14 of the first sector, verify accepts it there.
  kVectorChecksum = 1u << 4,
  // The board initialisation never resets the target.
  kNoResets = 1u << 5,
};

constexpr std::uint32_t operator|(FamilyTrait a, FamilyTrait b) {
  return static_cast<std::uint32_t>(a) | static_cast<std::uint32_t>(b);
}
constexpr std::uint32_t operator|(std::uint32_t a, FamilyTrait b) {
  return a | static_cast<std::uint32_t>(b);
}

// Which name of the target configuration a rule looks at.
enum class FamilyName { kCpuChip, kFlashChip };

struct FamilyRule {
  FamilyName name;
  // The name begins with this text (compared exactly, case included).
  std::string_view prefix;
  std::uint32_t traits;
};

// The rules the program knows.
std::span<const FamilyRule> FamilyRules();

// The traits of one board: those of every rule its names match.
struct DeviceFamily {
  std::uint32_t traits = 0;
  bool Has(FamilyTrait trait) const { return (traits & static_cast<std::uint32_t>(trait)) != 0; }
};

DeviceFamily ResolveDeviceFamily(const TargetConfig& config,
                                 std::span<const FamilyRule> rules = FamilyRules());

}  // namespace romsmith
