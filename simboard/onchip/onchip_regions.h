// Puts the on-chip flash and NAND region kinds of a board file on the bus.
#pragma once

#include <string>

#include "simboard/description/board_file.h"
#include "simboard/memory/memory.h"

namespace simboard {

class ArmCore;

// Adds the bus regions of one LPC, SAM7, STR71x or NAND region (the LPC
// flash and its boot ROM, the SAM7 flash and its system controller, ...).
// False with `error` set when an image cannot be opened.
bool AddOnChipRegions(const RegionDescription& region, const BoardDescription& board,
                      MemoryBus& bus, Clock& clock, Counters& counters, std::string& error);

// Hands the core to the regions that read its registers (the LPC boot ROM).
void AttachCoreToRegions(MemoryBus& bus, ArmCore& core);

// One line for the board's description, e.g. "LPC2148, part ID $0402FF25".
std::string OnChipInfo(const RegionDescription& region);

}  // namespace simboard
