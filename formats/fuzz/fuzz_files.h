// Helpers shared by the libFuzzer targets: a scratch directory of the
// process, fuzz input written to a file there, quiet message boxes, and the
// input split into lines or fields.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <string>
#include <string_view>
#include <vector>

#include "platform/message_box.h"

namespace romsmith::fuzz {

inline std::string_view AsText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// Message boxes of the parsers answer at once and print nothing.
inline void QuietMessages() {
  static const platform::ScopedMessageHandler quiet{
      [](const platform::MessageRequest&) { return platform::MessageAnswer::Ok; }};
}

// A path of this process's own with the given ending, in memory when the
// machine offers /dev/shm: rewriting a file on disk thousands of times a
// second waits for the disk.
// The path (a file or a directory) is removed when the fuzzer exits.
inline std::string ScratchPath(const std::string& ending) {
  static const std::string base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  static std::vector<std::string>* made = [] {
    static std::vector<std::string> paths;
    std::atexit([] {
      std::error_code error;
      for (const std::string& path : paths) std::filesystem::remove_all(path, error);
    });
    return &paths;
  }();
  made->push_back(base + "/romsmith-fuzz-" + std::to_string(::getpid()) + ending);
  return made->back();
}

inline bool WriteBytes(const std::string& path, std::string_view bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

inline std::string ReadBytes(const std::string& path) {
  std::string bytes;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
    std::fclose(file);
  }
  return bytes;
}

// The text cut at every `separator`; a trailing separator gives no extra
// empty field.
inline std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> fields;
  while (!text.empty()) {
    const std::size_t end = text.find(separator);
    fields.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return fields;
}

}  // namespace romsmith::fuzz
