// romsmith-cli end to end on the example boards of the on-chip flash
// families: erase, program with auto verify, verify, upload, protect and the
// target test, checked against the boards' image files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/onchip/cli_bench.h"

namespace {

using namespace romsmith::cli_testing;

// One family: its board and configuration, the image file, the size of the
// first two sectors (as the flash page counts them, both of one size), what
// the target test reads, and the sectors to protect with the non-volatile
// word that records it (none for the LPC2000).
struct Family {
  const char* name;
  const char* board;
  const char* config;
  const char* image;
  std::size_t program_bytes;  // lies inside sectors 1-2
  std::size_t sector_bytes;
  const char* device_line;
  const char* protect_sectors;
  std::size_t protect_word_at;   // in the image file, behind the array
  std::uint32_t protect_word;
};

// Firmware as the test programs it: random bytes whose reset vector loops
// on itself, so the core has something sensible to run between commands.
Bytes Firmware(std::size_t count) {
  Bytes bytes = RandomBytes(count, 11);
  const unsigned char loop[4] = {0xFE, 0xFF, 0xFF, 0xEA};  // B .
  std::copy(loop, loop + 4, bytes.begin());
  return bytes;
}

class OnChipCli : public ::testing::TestWithParam<Family> {};

TEST_P(OnChipCli, EraseProgramVerifyUploadProtectAndTargetTest) {
  const Family& f = GetParam();
  Bench bench(f.board, f.config);
  const Bytes data = Firmware(f.program_bytes);
  WriteFile(bench.Path("data.bin"), data);

  // Program erases the sectors first (sector by sector) and verifies.
  CliRun run = bench.Cli("-s 1-2 -f '" + bench.Path("data.bin").string() + "' program");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(run.Has("Info: erase completed.")) << run.out << run.err;
  EXPECT_TRUE(run.Has("Info: program suceess.")) << run.out << run.err;
  Bytes expected = data;
  if (f.protect_sectors == nullptr) {
    // An LPC part: the vector checksum goes to 0x14, so the vectors sum to 0.
    auto word = [&](std::size_t at) {
      return expected[at] | expected[at + 1] << 8 | expected[at + 2] << 16 |
             static_cast<std::uint32_t>(expected[at + 3]) << 24;
    };
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < 32; at += 4) sum += at == 0x14 ? 0 : word(at);
    for (int i = 0; i < 4; ++i) expected[0x14 + i] = static_cast<unsigned char>((0u - sum) >> (8 * i));
    EXPECT_NE(run.out.find("Info: LPC vector checksum 0x"), std::string::npos) << run.out << run.err;
  }
  EXPECT_EQ(Slice(ReadFile(bench.Path(f.image)), 0, data.size()), expected);

  run = bench.Cli("-s 1-2 -f '" + bench.Path("up.bin").string() + "' upload");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  const Bytes uploaded = ReadFile(bench.Path("up.bin"));
  EXPECT_EQ(uploaded.size(), 2 * f.sector_bytes);
  EXPECT_EQ(uploaded, Slice(ReadFile(bench.Path(f.image)), 0, uploaded.size()));

  run = bench.Cli("target-test");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(run.Has(f.device_line)) << run.out << run.err;

  // Erasing the second sector leaves the first as programmed.
  run = bench.Cli("-s 2-2 erase");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  const Bytes erased = ReadFile(bench.Path(f.image));
  EXPECT_EQ(Slice(erased, 0, f.sector_bytes), Slice(expected, 0, f.sector_bytes));
  EXPECT_EQ(Slice(erased, f.sector_bytes, data.size() - f.sector_bytes),
            Bytes(data.size() - f.sector_bytes, 0xFF));

  if (f.protect_sectors == nullptr) {
    run = bench.Cli("-s 1-2 -f '" + bench.Path("data.bin").string() + "' verify");
    EXPECT_EQ(run.status, 1) << "the second sector is erased now";
    EXPECT_TRUE(run.Has("Error: verify failed, different at address 0x00001000.")) << run.out << run.err;
    // Check block belongs to NAND CPUs; the command refuses before connecting.
    run = bench.Cli("check-block");
    EXPECT_EQ(run.status, 2) << run.out << run.err;
    return;
  }
  run = bench.Cli(std::string("-s ") + f.protect_sectors + " protect");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(run.Has("Info: protect completed.")) << run.out << run.err;
  const Bytes image = ReadFile(bench.Path(f.image));
  ASSERT_GE(image.size(), f.protect_word_at + 4);
  const std::size_t at = f.protect_word_at;
  EXPECT_EQ(image[at] | image[at + 1] << 8 | image[at + 2] << 16 |
                static_cast<std::uint32_t>(image[at + 3]) << 24,
            f.protect_word);
}

INSTANTIATE_TEST_SUITE_P(
    Boards, OnChipCli,
    ::testing::Values(
        Family{"LPC2148", "board-lpc2148.ini", "lpc2148.cfg", "lpc2148-flash.bin", 6000, 4096,
               "Info: device code is 0x402FF25, target test success.", nullptr, 0, 0},
        // SAM7 lock bits are kept inverted: regions 1 and 2 (2-3 on the page).
        Family{"SAM7S256", "board-at91sam7s256.ini", "at91sam7s256.cfg", "at91sam7s256-flash.bin",
               20000, 16384, "Info: device code is 0x270B0940, target test success.", "2-3", 262144,
               ~0x6u},
        // STR71x NVWPAR: a 0 for each protected sector, bank 0 sector 3.
        Family{"STR711", "board-str711.ini", "str711.cfg", "str711-flash.bin", 12000, 8192,
               "Info: device code is 0x0, target test success.", "4-4", 262144 + 16384, ~0x8u}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
