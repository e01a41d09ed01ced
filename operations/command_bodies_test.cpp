// Command bodies called directly, without a Workbench or a thread: a context
// over the in-process target and a hand-made snapshot, the result read as a
// value.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "operations/command_bodies.h"
#include "operations/testing/fake_target.h"
#include "operations/testing/workbench_fixture.h"
#include "platform/paths.h"
#include "reporting/testing/recording_frontend.h"

namespace romsmith::testing {
namespace {

using Texts = std::vector<std::string>;

class BodyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = platform::TempDirectory() / ("romsmith-bodies-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    platform::SetProgramDirectory(dir_);
    std::ofstream(dir_ / "loader.bin", std::ios::binary) << std::string(64, '\x44');
    TargetConfig& c = job_.config;
    c.cpu_chip = "S3C2410 (Nand)";
    c.cpu_endian = "Little";
    c.ram_address = 0x0C000000;
    c.flash_width = 8;
    c.chips_per_sector = 1;
    c.start_sector = 0;
    c.end_sector = 39;
    job_.cpu.loader_file_le = "loader.bin";
    job_.cpu.registers.push_back({"WTCON", 0x53000000, 32, 0, 0, "watchdog"});
    job_.flash.sector_sizes = std::vector<std::int32_t>(40, 16384);
    job_.settings.plain_loaders = 1;
    FakeTarget::Geometry geometry;
    geometry.block_sizes = std::vector<std::uint32_t>(40, 16384);
    geometry.nand = true;
    target_ = std::make_unique<FakeTarget>(log_, geometry);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  CommandContext Context() const {
    return {*target_, log_, frontend_, job_, stop_, std::chrono::milliseconds(1)};
  }

  std::filesystem::path dir_;
  mutable RecordingFrontend frontend_;
  mutable MessageLog log_{&frontend_};
  platform::Event stop_;
  CommandSnapshot job_;
  std::unique_ptr<FakeTarget> target_;
};

TEST_F(BodyTest, CheckBlockGivesItsTableAsAValueKeepingMarksOutsideItsRange) {
  job_.bad_blocks[39] = 1;  // outside the checked range: stays
  job_.bad_blocks[4] = 1;   // inside: found good this time
  job_.config.end_sector = 35;
  target_->MarkBad(2);
  target_->MarkBad(33);
  const CommandResult result = NandCheckBlockBody(Context());
  EXPECT_EQ(result.outcome, CommandOutcome::kSucceeded);
  EXPECT_TRUE(result.completed);
  ASSERT_TRUE(result.bad_blocks.has_value());
  const BadBlockTable& table = *result.bad_blocks;
  EXPECT_EQ(table[2], 1);
  EXPECT_EQ(table[4], 0);
  EXPECT_EQ(table[33], 1);
  EXPECT_EQ(table[39], 1);
  EXPECT_EQ(target_->runs().size(), 2u);
  // The snapshot itself is not touched.
  EXPECT_EQ(job_.bad_blocks[4], 1);
}

TEST_F(BodyTest, BodiesSeeTheStopBeforeTheirFirstStep) {
  struct Case {
    const char* name;
    CommandBody body;
    const char* line;
  };
  const Case cases[] = {
      {"checksum", ChecksumBody, "Info: user stop checksum.\n"},
      {"check block", NandCheckBlockBody, "Info: user stop block check.\n"},
      {"device code", NandDeviceCodeBody, "Info: user stop get flash device code.\n"},
      {"register read", RegisterReadBody, "Info: user stop register read.\n"},
  };
  stop_.Set();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CommandResult result = c.body(Context());
    EXPECT_EQ(result.outcome, CommandOutcome::kStopped);
    EXPECT_FALSE(result.completed);
    ASSERT_FALSE(frontend_.Texts().empty());
    EXPECT_EQ(frontend_.Texts().back(), c.line);
  }
  EXPECT_TRUE(target_->runs().empty());
}

// The bodies follow the family traits the context resolved, not the names:
// a family the program does not know, given as rows, drives them with no
// code of its own.
TEST_F(BodyTest, AMadeUpFamilyRowChangesEraseAndResetsAsItsTraitsSay) {
  struct Case {
    const char* name;
    std::vector<FamilyRule> extra;
    std::size_t erase_runs;
    bool indexes_and_frequency;
    int resets;
  };
  constexpr auto kBySector = static_cast<std::uint32_t>(FamilyTrait::kEraseBySector);
  const Case cases[] = {
      {"unknown names: one chip run, the resets", {}, 1, false, 2},
      {"erase by sector only", {{FamilyName::kFlashChip, "QX9", kBySector}}, 4, false, 2},
      {"sector indexes and frequency, no resets",
       {{FamilyName::kFlashChip, "QX9",
         kBySector | FamilyTrait::kSectorIndexes | FamilyTrait::kCrystalFrequency},
        {FamilyName::kCpuChip, "QX9", static_cast<std::uint32_t>(FamilyTrait::kNoResets)}},
       4, true, 0},
      {"a CPU rule does not look at the flash name",
       {{FamilyName::kCpuChip, "QX9-", kBySector}}, 1, false, 2},
  };
  // A NOR board: four 4 KiB sectors, 16 bits wide, a chip erase sequence.
  TargetConfig& c = job_.config;
  c.cpu_chip = "QX9100";
  c.flash_chip = "QX9-256";
  c.flash_width = 16;
  c.end_sector = 3;
  job_.flash.sector_sizes = std::vector<std::int32_t>(4, 4096);
  job_.command_set.chip_erase = Sequence(
      {{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x80}, {0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x10}});
  job_.command_set.sector_erase = Sequence(
      {{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x80}, {0x555, 0xAA}, {0x2AA, 0x55}, {0, 0x30}});
  job_.settings.lpc_frequency = 12000;
  job_.settings.reset_count = 2;
  FakeTarget::Geometry geometry;
  geometry.block_sizes = std::vector<std::uint32_t>(4, 4096);
  const auto little_word = [](const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
  };
  for (const Case& t : cases) {
    SCOPED_TRACE(t.name);
    std::vector<FamilyRule> rules(FamilyRules().begin(), FamilyRules().end());
    rules.insert(rules.end(), t.extra.begin(), t.extra.end());
    target_ = std::make_unique<FakeTarget>(log_, geometry);
    CommandContext context = Context();
    context.family = ResolveDeviceFamily(c, rules);
    EXPECT_EQ(EraseBody(context).outcome, CommandOutcome::kSucceeded);
    const auto runs = target_->runs();
    ASSERT_EQ(runs.size(), t.erase_runs);
    for (std::size_t k = 0; k < runs.size(); ++k) {
      const std::vector<std::uint8_t>& p = runs[k].params;
      EXPECT_EQ(little_word(p, 12), runs.size() == 1 ? 0u : 4096u * k);
      if (t.indexes_and_frequency) {
        EXPECT_EQ(p[1], k);
        EXPECT_EQ(p[2], k);
        EXPECT_EQ(little_word(p, 8), 12000u);
      } else {
        EXPECT_EQ(p[1], 6);  // the six cycles of either sequence
        EXPECT_EQ(p[2], 2);  // 16 bits wide
        EXPECT_EQ(little_word(p, 8), 0u);
      }
    }
    EXPECT_TRUE(InitializeBoard(context));
    EXPECT_EQ(target_->calls("reset"), t.resets);
  }
}

TEST_F(BodyTest, RegisterReadHaltsARunningTargetAndReturnsTheValues) {
  target_->SetRegister(0x53000000, 0x00008021);
  ASSERT_TRUE(target_->SetPC(0));
  ASSERT_TRUE(target_->RunTarget());  // runs away from the loader entry
  ASSERT_TRUE(target_->running());
  const CommandResult result = RegisterReadBody(Context());
  EXPECT_EQ(result.outcome, CommandOutcome::kSucceeded);
  EXPECT_FALSE(target_->running());
  ASSERT_EQ(result.registers.size(), 1u);
  EXPECT_EQ(result.registers[0].value, 0x00008021u);
  EXPECT_EQ(frontend_.Texts(), Texts{"Info: register read completed.\n"});

  // A target that cannot be halted is not read.
  ASSERT_TRUE(target_->RunTarget());
  target_->FailAfter("stop", 0);
  const int reads = target_->calls("read");
  EXPECT_EQ(RegisterReadBody(Context()).outcome, CommandOutcome::kFailed);
  EXPECT_EQ(target_->calls("read"), reads);
}

}  // namespace
}  // namespace romsmith::testing
