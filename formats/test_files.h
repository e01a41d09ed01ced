// Small helpers the format tests share: a fresh scratch directory per test
// and whole-file reads and writes.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/file_contents.h"

namespace romsmith::testing {

inline std::filesystem::path ProcessScratchRoot() {
  return std::filesystem::temp_directory_path() / ("romsmith-formats-" + std::to_string(::getpid()));
}

// Removes this process's scratch directories when the test program ends.
inline struct ScratchCleanup {
  ~ScratchCleanup() {
    std::error_code error;
    std::filesystem::remove_all(ProcessScratchRoot(), error);
  }
} scratch_cleanup;

inline std::filesystem::path ScratchDirectory() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  auto dir = ProcessScratchRoot() / (std::string(info->test_suite_name()) + "." + info->name());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const std::filesystem::path& path) {
  return romsmith_tests::ReadFileText(path);
}

}  // namespace romsmith::testing
