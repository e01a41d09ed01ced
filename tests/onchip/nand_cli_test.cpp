// romsmith-cli end to end through osprey9 on the example NAND boards (an
// S3C2410 with a K9F1208U0B, an S3C2440 with a K9F1G08U0A): check block
// finds the board's factory bad blocks, the target test reads the device
// code, and program, verify and upload walk over the bad blocks, each in a
// run of its own, checked byte for byte against the board's image file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/onchip/cli_bench.h"

namespace {

using namespace romsmith::cli_testing;

struct NandBoard {
  const char* name;
  const char* board;
  const char* config;
  const char* image;
  std::size_t page_bytes;
  std::size_t spare_bytes;
  std::size_t pages_per_block;
  std::size_t bad_mark_column;  // the spare byte the maker marks, from the page start
  std::vector<std::size_t> bad_blocks;  // counted from 0, as the board file lists them
  const char* device_line;
  const char* check_sectors;
  const char* check_line;
  const char* program_sectors;  // a range holding the first bad block
  std::size_t program_first_block;
  std::size_t program_bytes;    // reaches past the first bad block
  const char* upload_sectors;   // with the first bad block
  std::size_t upload_first_block;
  std::size_t upload_good_blocks;
};

class NandCli : public ::testing::TestWithParam<NandBoard> {
 protected:
  std::size_t BlockBytes() const { return GetParam().page_bytes * GetParam().pages_per_block; }
  bool Bad(std::size_t block) const {
    const auto& bad = GetParam().bad_blocks;
    return std::find(bad.begin(), bad.end(), block) != bad.end();
  }
  // The data area of a block in the image file (every page followed by its
  // spare bytes; blocks past the file's end read erased).
  Bytes BlockData(const Bytes& image, std::size_t block) const {
    const NandBoard& b = GetParam();
    Bytes data;
    for (std::size_t page = 0; page < b.pages_per_block; ++page) {
      const std::size_t at = (block * b.pages_per_block + page) * (b.page_bytes + b.spare_bytes);
      for (std::size_t i = 0; i < b.page_bytes; ++i)
        data.push_back(at + i < image.size() ? image[at + i] : 0xFF);
    }
    return data;
  }
  bool MarkedBad(const Bytes& image, std::size_t block) const {
    const NandBoard& b = GetParam();
    const std::size_t at = block * b.pages_per_block * (b.page_bytes + b.spare_bytes) + b.bad_mark_column;
    return at < image.size() && image[at] != 0xFF;
  }
  // The good blocks' data from `first` on, `count` bytes, as a walk that
  // skips the bad blocks reads it.
  Bytes GoodBlocksData(const Bytes& image, std::size_t first, std::size_t count) const {
    Bytes data;
    for (std::size_t block = first; data.size() < count; ++block) {
      if (Bad(block)) continue;
      const Bytes part = BlockData(image, block);
      data.insert(data.end(), part.begin(), part.end());
    }
    data.resize(count);
    return data;
  }
};

TEST_P(NandCli, CheckBlockTargetTestAndProgramVerifyUploadAroundTheBadBlocks) {
  const NandBoard& b = GetParam();
  Bench bench(b.board, b.config, "osprey9.so");

  CliRun run = bench.Cli(std::string("-s ") + b.check_sectors + " check-block");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(run.Has(b.check_line)) << run.out << run.err;

  // The same in the JSON record: the bad blocks counted as -s counts them,
  // in the committed schema's shape.
  run = bench.Cli(std::string("--json -s ") + b.check_sectors + " check-block");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  std::string bad = "\"bad_blocks\":[";
  for (std::size_t block : b.bad_blocks) bad += (bad.back() == '[' ? "" : ",") + std::to_string(block + 1);
  EXPECT_NE(run.out.find(bad + "]"), std::string::npos) << run.out;
  WriteFile(bench.Path("record.json"), Bytes(run.out.begin(), run.out.end()));
  const std::string validate = std::string("python3 -c 'import json, sys, jsonschema\n"
                                           "jsonschema.validate(json.load(open(sys.argv[2])), json.load(open(sys.argv[1])))\n' '") +
                               ROMSMITH_SOURCE_DIR + "/cli/romsmith-cli.schema.json' '" +
                               bench.Path("record.json").string() + "'";
  EXPECT_EQ(std::system(validate.c_str()), 0);

  run = bench.Cli("target-test");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(run.Has(b.device_line)) << run.out << run.err;
  EXPECT_EQ(run.out.find("but read value is"), std::string::npos) << run.out << run.err;

  // A run of its own: it knows nothing of the check above, checks first and
  // writes nothing into a bad block.
  const Bytes data = RandomBytes(b.program_bytes, 7);
  WriteFile(bench.Path("data.bin"), data);
  const std::string sectors = std::string("-s ") + b.program_sectors;
  const std::string file = " -f '" + bench.Path("data.bin").string() + "'";
  run = bench.Cli(sectors + file + " program");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(run.Has("Info: bad blocks of the selected blocks not known yet, checking them first."))
      << run.out << run.err;
  EXPECT_TRUE(run.Has("Info: program suceess.")) << run.out << run.err;
  const Bytes image = ReadFile(bench.Path(b.image));
  EXPECT_EQ(GoodBlocksData(image, b.program_first_block, data.size()), data);
  for (std::size_t block : b.bad_blocks) {
    if (block >= 8) continue;
    EXPECT_TRUE(MarkedBad(image, block)) << "block " << block << " lost its factory mark";
    EXPECT_EQ(BlockData(image, block), Bytes(BlockBytes(), 0xFF)) << "data went into bad block " << block;
  }

  run = bench.Cli(sectors + file + " verify");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(run.Has("Info: verify success.")) << run.out << run.err;

  // The first byte behind the first bad block differs: verify names its
  // offset in the file.
  Bytes changed = data;
  const std::size_t offset = (b.bad_blocks.front() - b.program_first_block) * BlockBytes();
  changed[offset] ^= 0x01;
  WriteFile(bench.Path("changed.bin"), changed);
  run = bench.Cli(sectors + " -f '" + bench.Path("changed.bin").string() + "' verify");
  EXPECT_EQ(run.status, 1) << run.out << run.err;
  char line[80];
  std::snprintf(line, sizeof line, "Error: verify failed, different at address 0x%08zx.", offset);
  EXPECT_TRUE(run.Has(line)) << run.out << run.err;

  // Upload of blocks with the first bad one: the good ones, in order.
  run = bench.Cli(std::string("-s ") + b.upload_sectors + " -f '" + bench.Path("up.bin").string() +
                  "' upload");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(run.Has("Info: upload success.")) << run.out << run.err;
  EXPECT_EQ(ReadFile(bench.Path("up.bin")), GoodBlocksData(image, b.upload_first_block, b.upload_good_blocks * BlockBytes()));
}

INSTANTIATE_TEST_SUITE_P(
    Boards, NandCli,
    ::testing::Values(
        // Small pages: the marker is spare byte 5. Bad blocks 3 and 9; the
        // file fills blocks 0-2 and goes on in block 4; the upload reads
        // blocks 2 and 4.
        NandBoard{"S3C2410_K9F1208U0B", "board-s3c2410-nand.ini", "s3c2410-nand-k9f1208u0b.cfg",
                  "s3c2410-nand.bin", 512, 16, 32, 512 + 5, {3, 9},
                  "Info: device code is 0xEC76, target test success.", "1-12",
                  "Bad blocks in sectors 1-12: 4, 10", "1-8", 0, 3 * 16384 + 10000, "3-5", 2, 2},
        // Large pages (128 KiB blocks, so fewer of them): the marker is
        // spare byte 0. Bad block 2; the file fills block 1 and goes on in
        // block 3; the upload of blocks 2-3 reads block 3.
        NandBoard{"S3C2440_K9F1G08U0A", "board-s3c2440-nand.ini", "s3c2440-nand-k9f1g08u0a.cfg",
                  "s3c2440-nand.bin", 2048, 64, 64, 2048, {2},
                  "Info: device code is 0xECF1, target test success.", "1-5",
                  "Bad blocks in sectors 1-5: 3", "2-8", 1, 131072 + 5000, "3-4", 3, 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
