// The board-file keys of the on-chip flash and NAND region kinds:
//
//   Kind=LPC     Base=0            Model=LPC2106|LPC2129|LPC2148   Image=...
//   Kind=SAM7    Base=$00100000    Model=AT91SAM7S64|AT91SAM7S256  Image=...
//   Kind=STR71x  Base=$40000000    Model=STR710|STR711             Image=...
//   Kind=NAND    Base=$4E000000    Controller=S3C2410|S3C2440
//                Chip=K9F1208U0B|K9F1G08U0A  Image=...  BadBlocks=3,17
//
// Each part sits where its silicon puts it, so Base must be that address.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "simboard/description/board_file.h"

namespace simboard {

// Fills region.onchip and region.size from the keys of `section`. On a
// wrong key returns false with `key` and `what` naming it.
bool ReadOnChipRegion(const IniText& ini, const std::string& section,
                      const std::filesystem::path& directory, RegionDescription& region,
                      std::string& key, std::string& what);

// The bus spans a region occupies: its own, plus the LPC boot ROM, the SAM7
// system controller, and the flash the SAM7 and STR71x show at 0 after
// reset.
std::vector<BusSpan> RegionSpans(const RegionDescription& region);

bool IsOnChipKind(RegionKind kind);

}  // namespace simboard
