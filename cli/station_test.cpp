#include "cli/station.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace romsmith {
namespace {

namespace fs = std::filesystem;

class StationFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/romsmith-station-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path Write(const std::string& text) {
    std::ofstream(dir_ / "line.ini") << text;
    return dir_ / "line.ini";
  }
  std::string ErrorOf(const std::string& text) {
    Station station;
    std::string error;
    EXPECT_FALSE(LoadStation(Write(text), station, error));
    return error;
  }
  fs::path dir_;
};

TEST_F(StationFile, TargetsWithPathsRelativeToTheFile) {
  Station station;
  std::string error;
  ASSERT_TRUE(LoadStation(Write("[Station]\r\nName=Line 3\r\n"
                                "[Target A]\r\nConfig=cfg/a.cfg\r\nDevice=osprey7.so\r\nParallel=LPT1\r\n"
                                "[Other]\r\nConfig=x\r\n"
                                "[Target B]\r\nConfig=/abs/b.cfg\r\nBoard=boards/../b.ini\r\n"),
                          station, error))
      << error;
  EXPECT_EQ(station.name, "Line 3");
  ASSERT_EQ(station.targets.size(), 2u);
  EXPECT_EQ(station.targets[0].name, "A");
  EXPECT_EQ(station.targets[0].config, (dir_ / "cfg/a.cfg").string());
  EXPECT_EQ(station.targets[0].device, "osprey7.so");
  EXPECT_EQ(station.targets[0].parallel, "LPT1");
  EXPECT_EQ(station.targets[1].config, "/abs/b.cfg");
  EXPECT_EQ(station.targets[1].board, (dir_ / "b.ini").string());
  EXPECT_EQ(station.targets[1].device, "");

  // Without a [Station] name, the file's.
  ASSERT_TRUE(LoadStation(Write("[Target A]\nConfig=a.cfg\nBoard=a.ini\n"), station, error));
  EXPECT_EQ(station.name, "line");
}

TEST_F(StationFile, IncompleteOrClashingTargetsAreRefused) {
  const std::string file = "station file '" + (dir_ / "line.ini").string() + "'";
  EXPECT_EQ(ErrorOf("[Station]\nName=x\n"), file + " has no [Target NAME] section");
  EXPECT_EQ(ErrorOf("[Target A]\nBoard=a.ini\n"), file + ", target 'A' has no Config=");
  EXPECT_EQ(ErrorOf("[Target A]\nConfig=a.cfg\n"), file + ", target 'A' needs either Parallel= or Board=");
  EXPECT_EQ(ErrorOf("[Target A]\nConfig=a.cfg\nParallel=LPT1\nBoard=a.ini\n"),
            file + ", target 'A' needs either Parallel= or Board=");
  EXPECT_EQ(ErrorOf("[Target A]\nConfig=a.cfg\nParallel=LPT1\n[Target A]\nConfig=b.cfg\nParallel=LPT2\n"),
            file + ", target 'A' comes twice");
  // One probe, two targets: they would drive it at once.
  EXPECT_EQ(ErrorOf("[Target A]\nConfig=a.cfg\nParallel=LPT1\n[Target B]\nConfig=b.cfg\nParallel=LPT1\n"),
            file + ", target 'B' uses the port LPT1 of target 'A'");
  EXPECT_EQ(ErrorOf("[Target A]\nConfig=a.cfg\nBoard=x.ini\n[Target B]\nConfig=b.cfg\nBoard=./x.ini\n"),
            file + ", target 'B' uses the board " + (dir_ / "x.ini").string() + " of target 'A'");
  EXPECT_EQ(ErrorOf("[Target a/b]\nConfig=a.cfg\nBoard=x.ini\n"),
            file + ": '[Target a/b]' needs a target name without '/'");
  Station station;
  std::string error;
  EXPECT_FALSE(LoadStation(dir_ / "none.ini", station, error));
  EXPECT_EQ(error, "station file '" + (dir_ / "none.ini").string() + "' could not be read");
}

TEST(BatchCommandLine, OptionsGoToEveryTargetAndAreCheckedFirst) {
  const BatchParseResult ok = ParseBatchCommandLine(
      {"batch", "line.ini", "-f", "image.bin", "-s", "1-4", "--csv", "log.csv", "-y", "erase", "program", "verify"});
  ASSERT_TRUE(ok.ok) << ok.error;
  EXPECT_EQ(ok.options.station_file, "line.ini");
  EXPECT_EQ(ok.options.commands, (std::vector<std::string>{"erase", "program", "verify"}));
  EXPECT_EQ(ok.options.target_options, (std::vector<std::string>{"-f", "image.bin", "-s", "1-4", "-y"}));
  EXPECT_EQ(ok.options.csv, "log.csv");
  EXPECT_EQ(ok.options.file, "image.bin");
  EXPECT_TRUE(IsBatchCommandLine({"batch", "x"}));
  EXPECT_FALSE(IsBatchCommandLine({"-q", "batch"}));

  const struct {
    std::vector<std::string> arguments;
    const char* error;
  } bad[] = {
      {{"batch"}, "romsmith-cli: batch: no station file given"},
      {{"batch", "line.ini"}, "romsmith-cli: batch: no command given"},
      {{"batch", "line.ini", "flash"}, "romsmith-cli: batch: unknown command 'flash'"},
      {{"batch", "line.ini", "drivers"}, "romsmith-cli: batch: 'drivers' is not a command on a target"},
      {{"batch", "line.ini", "-c", "a.cfg", "erase"},
       "romsmith-cli: batch: '-c' comes from the station file (Config=, Board=)"},
      {{"batch", "line.ini", "--board=b.ini", "erase"},
       "romsmith-cli: batch: '--board' comes from the station file (Config=, Board=)"},
      {{"batch", "line.ini", "--csv"}, "romsmith-cli: batch: option '--csv' needs a value"},
      {{"batch", "line.ini", "-f", "-", "upload"},
       "romsmith-cli: batch: upload -f - cannot write the images of several targets to standard output"},
      // A run's own usage errors, word for word.
      {{"batch", "line.ini", "-s", "4-1", "erase"},
       "romsmith-cli: --sectors needs FIRST-LAST with 1 <= FIRST <= LAST, not '4-1'"},
      {{"batch", "line.ini", "--set", "Remote.Port=1", "erase"}, "romsmith-cli: unknown setting 'Remote.Port'"},
  };
  for (const auto& c : bad) {
    const BatchParseResult result = ParseBatchCommandLine(c.arguments);
    EXPECT_FALSE(result.ok) << c.error;
    EXPECT_EQ(result.error, c.error);
  }
}

TEST(BatchResults, WorstStatusTableAndProductionLog) {
  const std::vector<TargetOutcome> outcomes = {
      {"A", 0, 2.04, ""},
      {"board-B", 1, 1.5, "Error: verify failed, different at address 0x00000010."},
      {"C", 3, 0.25, "stopped"},
  };
  EXPECT_EQ(WorstExitStatus(outcomes), 3);
  EXPECT_EQ(WorstExitStatus({outcomes[0], outcomes[1]}), 1);
  EXPECT_EQ(WorstExitStatus({}), 0);
  EXPECT_EQ(OutcomeTable(outcomes),
            "target   outcome    time/s  first error\n"
            "A        ok            2.0\n"
            "board-B  failed        1.5  Error: verify failed, different at address 0x00000010.\n"
            "C        stopped       0.2  stopped\n");

  EXPECT_EQ(ProductionLogHeading(), "time,station,target,image,crc32,outcome,duration_s,first_error\n");
  EXPECT_EQ(ProductionLogLine("2026-01-02T03:04:05Z", "line 3", "fw.bin", 0xCBF43926u, outcomes[0]),
            "2026-01-02T03:04:05Z,line 3,A,fw.bin,CBF43926,ok,2.0,\n");
  // Commas, quotes and line breaks stay inside their field.
  const TargetOutcome odd{"x,y", 1, 1, "Error: \"a\",\nb"};
  EXPECT_EQ(ProductionLogLine("t", "s", "", std::nullopt, odd), "t,s,\"x,y\",,,failed,1.0,\"Error: \"\"a\"\", b\"\n");
}

TEST(BatchResults, Crc32OfTheImage) {
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32("", 0), 0u);
  // In pieces as in one.
  EXPECT_EQ(Crc32("56789", 5, Crc32("1234", 4)), 0xCBF43926u);
  EXPECT_FALSE(FileCrc32("/nonexistent/image.bin"));
  EXPECT_EQ(UtcTimeText().size(), 20u);
}

}  // namespace
}  // namespace romsmith
