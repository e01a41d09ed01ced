// Shared by the target data tests: a scratch directory of each test's own,
// whole-file reads and writes, and a recorder for message boxes.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/message_box.h"

namespace romsmith::test {

inline std::filesystem::path TestDirectory() {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const auto dir = std::filesystem::temp_directory_path() /
                   ("romsmith-target-data-" + std::to_string(::getpid())) /
                   (std::string(test->test_suite_name()) + "-" + test->name());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Keeps every message box shown while it lives and answers each with
// `answer` (the first button when left at Ok).
class MessageRecorder {
 public:
  explicit MessageRecorder(platform::MessageAnswer answer = platform::MessageAnswer::Ok)
      : scoped_([this, answer](const platform::MessageRequest& request) {
          shown_.push_back(request);
          return answer == platform::MessageAnswer::Ok ? platform::DefaultAnswer(request.buttons)
                                                       : answer;
        }) {}

  const std::vector<platform::MessageRequest>& shown() const { return shown_; }
  std::vector<std::string> texts() const {
    std::vector<std::string> texts;
    for (const auto& request : shown_) texts.push_back(request.text);
    return texts;
  }

 private:
  std::vector<platform::MessageRequest> shown_;
  platform::ScopedMessageHandler scoped_;
};

}  // namespace romsmith::test
