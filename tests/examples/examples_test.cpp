// Every target configuration that a shipped virtual board names ("as
// s3c2410-am29lv160db-big.cfg describes it") is shipped, loads, passes the
// checks a command runs, and describes that board: its byte order and a RAM
// region at its RAM address.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "target_data/target_document.h"

namespace romsmith {
namespace {

namespace fs = std::filesystem;

struct BoardFacts {
  std::string endian;
  std::set<std::uint32_t> ram_bases;
  std::set<std::string> configurations;
};

std::uint32_t BoardNumber(const std::string& text) {
  if (!text.empty() && text[0] == '$') return static_cast<std::uint32_t>(std::stoul(text.substr(1), nullptr, 16));
  return static_cast<std::uint32_t>(std::stoul(text, nullptr, 0));
}

// The board file's byte order, RAM regions, and the configurations its
// comments name.
BoardFacts ReadBoard(const fs::path& path) {
  BoardFacts facts;
  std::ifstream in(path);
  std::string line;
  std::string kind;
  const std::regex named(R"(([A-Za-z0-9_.-]+\.cfg)\b)");
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    for (std::sregex_iterator it(line.begin(), line.end(), named), end; it != end; ++it)
      facts.configurations.insert((*it)[1]);
    if (line.starts_with("[")) kind.clear();
    if (line.starts_with("Endian=")) facts.endian = line.substr(7);
    if (line.starts_with("Kind=")) kind = line.substr(5);
    if (line.starts_with("Base=") && kind == "RAM") facts.ram_bases.insert(BoardNumber(line.substr(5)));
  }
  return facts;
}

class ShippedExamples : public ::testing::Test {
 protected:
  void SetUp() override {
    pages_.cpu.database = LoadCpuDatabase(ROMSMITH_STAGE_DIR);
    pages_.flash.database = LoadFlashDatabase(ROMSMITH_STAGE_DIR);
    ASSERT_FALSE(pages_.cpu.database.cpus.empty());
    ASSERT_FALSE(pages_.flash.database.devices.empty());
  }
  TargetPages pages_;
};

TEST_F(ShippedExamples, EveryConfigurationABoardNamesLoadsAndDescribesIt) {
  const fs::path boards = fs::path(ROMSMITH_SOURCE_DIR) / "ports/simboard";
  const fs::path examples = fs::path(ROMSMITH_STAGE_DIR) / "examples";
  int checked = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(boards)) {
    if (entry.path().extension() != ".ini") continue;
    const BoardFacts board = ReadBoard(entry.path());
    for (const std::string& name : board.configurations) {
      SCOPED_TRACE(entry.path().filename().string() + " names " + name);
      const fs::path config = examples / name;
      ASSERT_TRUE(fs::is_regular_file(config)) << "not shipped in examples/";
      TargetDocument document(pages_);
      ASSERT_TRUE(document.Load(config.string()));
      document.TakeFromPages();
      std::vector<std::string> errors;
      EXPECT_TRUE(document.Validate([&](const std::string& line) { errors.push_back(line); }))
          << (errors.empty() ? "" : errors.front());
      EXPECT_EQ(document.selected_cpu().name, document.config().cpu_chip) << "CPU not in the database";
      EXPECT_EQ(document.selected_flash().name, document.config().flash_chip)
          << "flash device not in the database";
      EXPECT_EQ(document.config().IsLittleEndian(), board.endian != "Big") << "byte order";
      EXPECT_EQ(document.config().little_endian != 0, board.endian != "Big") << "LittleEndian";
      EXPECT_TRUE(board.ram_bases.count(document.config().ram_address)) << "RAM address";
      ++checked;
    }
  }
  EXPECT_GE(checked, 13);
}

}  // namespace
}  // namespace romsmith
