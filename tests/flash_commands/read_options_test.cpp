// The two read options end to end: verify with the flash checksummed on the
// target ("TargetVerify"), and the driver's 14-word block loads
// ("FastRead"), on little- and big-endian boards. Each must give the plain
// verify's verdict and its line for the first differing byte.
#include <cstdlib>
#include <cstdio>

#include "tests/flash_commands/flash_commands_fixture.h"

namespace flash_commands {
namespace {

// Sectors 1-2 (24 KiB) hold the pattern; the file covers 20 KiB and 17 bytes
// of them, so the last block is partial.
constexpr std::size_t kFileBytes = 20 * 1024 + 17;

struct Mode {
  const char* name;
  const char* settings;
};
const Mode kModes[] = {
    {"on-target checksums", " --set Option.TargetVerify=1"},
    {"14-word block loads", " --set Option.FastRead=1"},
};

struct Difference {
  const char* name;
  std::vector<std::size_t> offsets;  // file bytes changed; empty: equal file
};
const Difference kDifferences[] = {
    {"equal", {}},
    {"two blocks, the earlier one reported", {15 * 1024 + 5, 9 * 1024 + 1000}},
    {"last byte", {kFileBytes - 1}},
};

class VerifyOptions : public FlashCommands, public ::testing::WithParamInterface<bool> {};

TEST_P(VerifyOptions, GiveThePlainVerdictAndLine) {
  {
    const bool big = GetParam();
    const Bytes image = Pattern(0x6000, 3);
    Target target;
    target.big = big;
    Prepare(target, image);
    for (const Difference& difference : kDifferences) {
      Bytes file(image.begin(), image.begin() + kFileBytes);
      for (std::size_t offset : difference.offsets) file[offset] ^= 0x10;
      WriteBytes(root_ / "file.bin", file);
      for (const Mode& mode : kModes) {
        SCOPED_TRACE(std::string(big ? "big, " : "little, ") + difference.name + ", " + mode.name);
        const CliResult run = Cli("-f " + (root_ / "file.bin").string() + " -s 1-2" +
                                  mode.settings + " verify");
        if (difference.offsets.empty()) {
          EXPECT_EQ(run.status, 0) << run.out << run.err;
          EXPECT_TRUE(run.Has("Info: verify success.")) << run.out << run.err;
        } else {
          std::size_t first = difference.offsets[0];
          for (std::size_t offset : difference.offsets) first = std::min(first, offset);
          char line[64];
          std::snprintf(line, sizeof line, "Error: verify failed, different at address 0x%08zx.",
                        first);
          EXPECT_EQ(run.status, 1) << run.out << run.err;
          EXPECT_TRUE(run.Has(line)) << run.out << run.err;
          EXPECT_FALSE(run.Has("Info: verify success.")) << run.out << run.err;
        }
        EXPECT_EQ(run.out.find("has no fast read"), std::string::npos) << run.out << run.err;
      }
    }
    EXPECT_TRUE(SameImage(Flash(), image_)) << "verify changed the flash";
  }
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, VerifyOptions, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Big" : "Little");
                         });

std::map<std::string, std::uint64_t> ReadCounters(const fs::path& path) {
  std::map<std::string, std::uint64_t> counters;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) counters[line.substr(0, equals)] = std::stoull(line.substr(equals + 1));
  }
  return counters;
}

// What each option is for: fewer clocks on the probe than the plain verify.
TEST_F(FlashCommands, VerifyOptionsMoveFewerClocksThanThePlainVerify) {
  const Bytes image = Pattern(0x10000, 5);
  Prepare(Target{}, image);
  WriteBytes(root_ / "file.bin", image);
  const fs::path report = root_ / "counters.txt";
  ::setenv("ROMSMITH_BOARD_COUNTERS", report.c_str(), 1);
  std::map<std::string, std::uint64_t> tck;
  for (const auto& [name, settings] :
       {std::pair<std::string, std::string>{"plain", ""}, {"fast", " --set Option.FastRead=1"},
        {"target", " --set Option.TargetVerify=1"}}) {
    const CliResult run = Cli("-f " + (root_ / "file.bin").string() + " -s 1-4" + settings + " verify");
    EXPECT_EQ(run.status, 0) << name << "\n" << run.out << run.err;
    tck[name] = ReadCounters(report)["tck_cycles"];
  }
  ::unsetenv("ROMSMITH_BOARD_COUNTERS");
  ASSERT_GT(tck["plain"], 0u);
  // The 14-word loads save about a third of the chain-1 traffic; the
  // checksums leave little more than the board set-up and the program.
  EXPECT_LT(tck["fast"] * 10, tck["plain"] * 8) << tck["fast"] << " vs " << tck["plain"];
  EXPECT_LT(tck["target"] * 4, tck["plain"]) << tck["target"] << " vs " << tck["plain"];
}

}  // namespace
}  // namespace flash_commands
