#include "cli/standard_streams.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace romsmith {
namespace {

constexpr std::size_t kChunk = 64 * 1024;

std::string Reason() { return std::strerror(errno); }

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

PrivateDirectory::~PrivateDirectory() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

bool PrivateDirectory::Create(std::string& error) {
  std::error_code failed;
  std::string pattern = (std::filesystem::temp_directory_path(failed) / "romsmith-cli-XXXXXX").string();
  if (failed) {
    error = "no temporary directory: " + failed.message();
    return false;
  }
  // mkdtemp makes it with mode 0700.
  if (::mkdtemp(pattern.data()) == nullptr) {
    error = "cannot make a directory in " + pattern + ": " + Reason();
    return false;
  }
  path_ = pattern;
  return true;
}

bool CopyDescriptorToNewFile(int fd, const std::filesystem::path& file, std::uint64_t limit,
                             std::string& error) {
  const int out = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out < 0) {
    error = "cannot create " + file.string() + ": " + Reason();
    return false;
  }
  std::vector<char> buffer(kChunk);
  std::uint64_t total = 0;
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = "cannot read standard input: " + Reason();
      ok = false;
      break;
    }
    if (n == 0) break;
    total += static_cast<std::uint64_t>(n);
    if (total > limit) {
      error = "standard input holds more than " + std::to_string(limit) + " bytes";
      ok = false;
      break;
    }
    if (!WriteAll(out, buffer.data(), static_cast<std::size_t>(n))) {
      error = "cannot write " + file.string() + ": " + Reason();
      ok = false;
      break;
    }
  }
  if (::close(out) != 0 && ok) {
    error = "cannot write " + file.string() + ": " + Reason();
    ok = false;
  }
  if (!ok) ::unlink(file.c_str());
  return ok;
}

bool CopyFileToDescriptor(const std::filesystem::path& file, int fd, std::string& error) {
  const int in = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) {
    error = "cannot open " + file.string() + ": " + Reason();
    return false;
  }
  std::vector<char> buffer(kChunk);
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(in, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = "cannot read " + file.string() + ": " + Reason();
      ok = false;
      break;
    }
    if (n == 0) break;
    if (!WriteAll(fd, buffer.data(), static_cast<std::size_t>(n))) {
      error = "cannot write standard output: " + Reason();
      ok = false;
      break;
    }
  }
  ::close(in);
  return ok;
}

}  // namespace romsmith
