#include "operations/bad_block_summary.h"

#include <algorithm>

namespace romsmith {

std::string BadBlockSummary::Text() const {
  std::string text = "Bad blocks in sectors " + std::to_string(first_sector) + "-" +
                     std::to_string(last_sector) + ":";
  if (bad_sectors.empty()) return text + " none";
  for (std::size_t i = 0; i < bad_sectors.size(); ++i)
    text += (i == 0 ? " " : ", ") + std::to_string(bad_sectors[i]);
  return text;
}

BadBlockSummary SummarizeBadBlocks(std::int32_t start_sector, std::int32_t end_sector,
                                   const BadBlockTable& table) {
  BadBlockSummary summary{start_sector + 1, end_sector + 1, {}};
  // The table holds the first blocks of a chip only; a range past it has
  // no marks to show.
  const std::int32_t last = std::min(end_sector, static_cast<std::int32_t>(kBadBlockTableSize) - 1);
  for (std::int32_t block = std::max(start_sector, 0); block <= last; ++block)
    if (table[static_cast<std::size_t>(block)] == 1) summary.bad_sectors.push_back(block + 1);
  return summary;
}

}  // namespace romsmith
