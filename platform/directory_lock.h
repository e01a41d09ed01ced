// An exclusive lock on a directory, held by a command for its whole run, so
// two runs on one program directory wait for each other instead of sharing
// temporary files.
#pragma once

#include <chrono>
#include <filesystem>

namespace platform {

class DirectoryLock {
 public:
  DirectoryLock() = default;
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

  // Takes the lock on `directory` (through a hidden lock file in it), waiting
  // up to `timeout`; false when the lock file cannot be made or the wait ran out.
  [[nodiscard]] bool Acquire(const std::filesystem::path& directory,
                             std::chrono::milliseconds timeout);
  void Release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace platform
