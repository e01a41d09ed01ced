#include "operations/bad_block_summary.h"

#include <gtest/gtest.h>

namespace romsmith {
namespace {

struct SummaryCase {
  std::int32_t start;
  std::int32_t end;
  std::vector<std::size_t> marked;  // table indexes, from 0
  std::string text;
};

TEST(BadBlockSummary, CountsSectorsFromOneAndShowsOnlyTheCheckedRange) {
  const SummaryCase cases[] = {
      {0, 11, {3, 9}, "Bad blocks in sectors 1-12: 4, 10"},
      {0, 11, {}, "Bad blocks in sectors 1-12: none"},
      // Marks outside the range were found by an earlier check.
      {4, 8, {3, 9}, "Bad blocks in sectors 5-9: none"},
      {3, 9, {3, 9}, "Bad blocks in sectors 4-10: 4, 10"},
      // The last entry of the table; a range beyond it has nothing more.
      {8190, 9000, {8191}, "Bad blocks in sectors 8191-9001: 8192"},
  };
  for (const SummaryCase& c : cases) {
    BadBlockTable table{};
    for (std::size_t index : c.marked) table[index] = 1;
    EXPECT_EQ(SummarizeBadBlocks(c.start, c.end, table).Text(), c.text);
  }
}

}  // namespace
}  // namespace romsmith
