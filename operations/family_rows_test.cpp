// The command bodies follow the family traits the context resolved, not the
// names: a family the program does not know, given as rows, drives them with
// no code of its own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "operations/command_bodies.h"
#include "operations/testing/fake_target.h"
#include "operations/testing/workbench_fixture.h"
#include "platform/paths.h"
#include "reporting/testing/recording_frontend.h"

namespace romsmith::testing {
namespace {

std::uint32_t Word(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
         static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

class FamilyRowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = platform::TempDirectory() / ("romsmith-family-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    platform::SetProgramDirectory(dir_);
    std::ofstream(dir_ / "loader.bin", std::ios::binary) << std::string(64, '\x33');
    TargetConfig& c = job_.config;
    c.cpu_chip = "QX9100";
    c.flash_chip = "QX9-256";
    c.cpu_endian = "Little";
    c.ram_address = 0x0C000000;
    c.flash_width = 16;
    c.chips_per_sector = 1;
    c.start_sector = 0;
    c.end_sector = 3;
    job_.cpu.loader_file_le = "loader.bin";
    job_.flash.sector_sizes = std::vector<std::int32_t>(4, 4096);
    job_.command_set.chip_erase = Sequence(
        {{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x80}, {0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x10}});
    job_.command_set.sector_erase = Sequence(
        {{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x80}, {0x555, 0xAA}, {0x2AA, 0x55}, {0, 0x30}});
    job_.settings.plain_loaders = 1;
    job_.settings.lpc_frequency = 12000;
    job_.settings.reset_count = 2;
    FakeTarget::Geometry geometry;
    geometry.block_sizes = std::vector<std::uint32_t>(4, 4096);
    target_ = std::make_unique<FakeTarget>(log_, geometry);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  CommandContext Context(std::span<const FamilyRule> rules) const {
    CommandContext context{*target_, log_, frontend_, job_, stop_, std::chrono::milliseconds(1)};
    context.family = ResolveDeviceFamily(job_.config, rules);
    return context;
  }

  std::filesystem::path dir_;
  mutable RecordingFrontend frontend_;
  mutable MessageLog log_{&frontend_};
  platform::Event stop_;
  CommandSnapshot job_;
  std::unique_ptr<FakeTarget> target_;
};

TEST_F(FamilyRowsTest, AMadeUpFamilyRowChangesEraseAndResetsAsItsTraitsSay) {
  struct Case {
    const char* name;
    std::vector<FamilyRule> extra;
    std::size_t erase_runs;
    bool indexes_and_frequency;
    int resets;
  };
  const Case cases[] = {
      {"unknown names: one chip run, the resets", {}, 1, false, 2},
      {"erase by sector only",
       {{FamilyName::kFlashChip, "QX9", static_cast<std::uint32_t>(FamilyTrait::kEraseBySector)}},
       4, false, 2},
      {"sector indexes and frequency, no resets",
       {{FamilyName::kFlashChip, "QX9",
         FamilyTrait::kEraseBySector | FamilyTrait::kSectorIndexes |
             FamilyTrait::kCrystalFrequency},
        {FamilyName::kCpuChip, "QX9", static_cast<std::uint32_t>(FamilyTrait::kNoResets)}},
       4, true, 0},
      {"a CPU rule does not look at the flash name",
       {{FamilyName::kCpuChip, "QX9-", static_cast<std::uint32_t>(FamilyTrait::kEraseBySector)}},
       1, false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<FamilyRule> rules(FamilyRules().begin(), FamilyRules().end());
    rules.insert(rules.end(), c.extra.begin(), c.extra.end());
    SetUp();
    const CommandResult erased = EraseBody(Context(rules));
    EXPECT_EQ(erased.outcome, CommandOutcome::kSucceeded);
    const auto runs = target_->runs();
    ASSERT_EQ(runs.size(), c.erase_runs);
    for (std::size_t k = 0; k < runs.size(); ++k) {
      const std::vector<std::uint8_t>& p = runs[k].params;
      EXPECT_EQ(Word(p, 12), runs.size() == 1 ? 0u : 4096u * k);
      if (c.indexes_and_frequency) {
        EXPECT_EQ(p[1], k);
        EXPECT_EQ(p[2], k);
        EXPECT_EQ(Word(p, 8), 12000u);
      } else {
        EXPECT_EQ(p[1], 6);  // the six cycles of either sequence
        EXPECT_EQ(p[2], 2);  // 16 bits wide
        EXPECT_EQ(Word(p, 8), 0u);
      }
    }
    EXPECT_TRUE(InitializeBoard(Context(rules)));
    EXPECT_EQ(target_->calls("reset"), c.resets);
  }
}

}  // namespace
}  // namespace romsmith::testing
