// What a board file says about an on-chip flash or a NAND region: the part
// it is (its geometry and codes come from the part tables of onchip_parts.h),
// the image file that holds its contents and, for NAND, the factory bad
// blocks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace simboard {

struct OnChipDescription {
  std::string model;                      // "LPC2148", "AT91SAM7S256", "STR711", "S3C2410", ...
  std::string chip;                       // NAND only: "K9F1208U0B" or "K9F1G08U0A"
  std::filesystem::path image;            // empty: contents kept in memory only
  std::vector<std::uint32_t> bad_blocks;  // NAND only: factory-marked blocks
};

// One address span a region occupies on the bus.
struct BusSpan {
  std::uint32_t base = 0;
  std::uint64_t size = 0;
};

}  // namespace simboard
