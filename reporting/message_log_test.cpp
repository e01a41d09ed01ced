#include "reporting/message_log.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <unistd.h>

#include "reporting/testing/recording_frontend.h"
#include "platform/message_box.h"
#include "platform/paths.h"

namespace fs = std::filesystem;
using romsmith::MessageLog;
using romsmith::testing::RecordingFrontend;

namespace {

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class MessageLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = platform::TempDirectory() / ("romsmith-log-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    log_.SetFrontend(&frontend_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
  RecordingFrontend frontend_;
  MessageLog log_;
};

}  // namespace

TEST_F(MessageLogTest, FileGetsEveryLineWithCarriageReturnAfterIt) {
  log_.SetLogToFile(true);
  log_.OpenLogFile(dir_ / "Info.log");
  log_.Info("Info: start erase...\n");
  log_.Info("debug: raw\n");
  log_.Info("Info: programming, waiting 3 s");
  EXPECT_EQ(ReadAll(dir_ / "Info.log"),
            "Info: start erase...\n\rdebug: raw\n\rInfo: programming, waiting 3 s\r");
}

TEST_F(MessageLogTest, FlagOffLeavesFileEmptyButLabelStillShowsLines) {
  log_.OpenLogFile(dir_ / "Info.log");
  log_.Info("Info: one\n");
  EXPECT_TRUE(fs::exists(dir_ / "Info.log"));
  EXPECT_EQ(fs::file_size(dir_ / "Info.log"), 0u);
  EXPECT_EQ(frontend_.Texts(), std::vector<std::string>{"Info: one\n"});
}

TEST_F(MessageLogTest, OpeningTruncatesTheLastRunsLog) {
  std::ofstream(dir_ / "Info.log") << "old run";
  log_.OpenLogFile(dir_ / "Info.log");
  EXPECT_EQ(fs::file_size(dir_ / "Info.log"), 0u);
}

TEST_F(MessageLogTest, DebugAndCpuLinesNeverReachTheLabel) {
  std::vector<std::pair<std::string, bool>> tapped;
  log_.SetLineTap([&](const std::string& text, bool, bool label) { tapped.emplace_back(text, label); });
  log_.Info("DEBUG: capitals\n");
  log_.Info("debugging\n");
  log_.Info("Info: CPU registers\n");
  log_.Info("info: cpu lower\n");
  log_.Info("Info: CP shown\n");
  log_.Info("");
  EXPECT_EQ(frontend_.Texts(), std::vector<std::string>{"Info: CP shown\n"});
  ASSERT_EQ(tapped.size(), 5u);
  EXPECT_FALSE(tapped[0].second);
  EXPECT_TRUE(tapped[4].second);
}

TEST_F(MessageLogTest, ErrorThenPlainLineEndsBlueAndSteady) {
  log_.Error("Error: x\n");
  log_.Info("Info: y\n");
  ASSERT_EQ(frontend_.lines.size(), 2u);
  EXPECT_TRUE(frontend_.lines[0].error);
  EXPECT_TRUE(frontend_.lines[0].blink);
  EXPECT_FALSE(frontend_.lines[1].error);
  EXPECT_FALSE(frontend_.lines[1].blink);
}

TEST_F(MessageLogTest, UnopenableFileClearsFlagAndSaysSo) {
  log_.SetLogToFile(true);
  log_.OpenLogFile(dir_ / "no-such-dir" / "Info.log");
  EXPECT_FALSE(log_.log_to_file());
  EXPECT_EQ(frontend_.Texts(), std::vector<std::string>{"Error: open log file failed.\n"});
}

TEST_F(MessageLogTest, UnwritableFileShowsBoxAndLineStillReachesLabel) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::vector<std::string> boxes;
  platform::ScopedMessageHandler handler([&](const platform::MessageRequest& request) {
    boxes.push_back(request.text);
    return platform::MessageAnswer::Ok;
  });
  log_.SetLogToFile(true);
  log_.OpenLogFile("/dev/full");
  log_.Info("Info: still shown\n");
  EXPECT_EQ(boxes, std::vector<std::string>{"Can't write to log file."});
  EXPECT_EQ(frontend_.Texts(), std::vector<std::string>{"Info: still shown\n"});
}
