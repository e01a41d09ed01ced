// What a check block found, as the front ends show it: the bad blocks of
// the checked sectors in sector numbers as the user counts them (from 1),
// and the one line both print, "Bad blocks in sectors 1-12: 4, 10".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "operations/command_context.h"

namespace romsmith {

struct BadBlockSummary {
  std::int32_t first_sector = 0;  // from 1
  std::int32_t last_sector = 0;
  std::vector<std::int32_t> bad_sectors;  // from 1, ascending

  // "Bad blocks in sectors F-L: a, b" or "Bad blocks in sectors F-L: none".
  std::string Text() const;
};

// The blocks marked bad in `table` between `start_sector` and `end_sector`
// (counted from 0, both included, as the target configuration holds them).
BadBlockSummary SummarizeBadBlocks(std::int32_t start_sector, std::int32_t end_sector,
                                   const BadBlockTable& table);

}  // namespace romsmith
