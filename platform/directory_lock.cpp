#include "platform/directory_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

#include "platform/ticks.h"

namespace platform {

DirectoryLock::~DirectoryLock() { Release(); }

bool DirectoryLock::Acquire(const std::filesystem::path& directory,
                            std::chrono::milliseconds timeout) {
  Release();
  auto lock_path = directory / ".romsmith.lock";
  int fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const auto start = TickCount64();
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (TickCount64() - start >= static_cast<std::uint64_t>(timeout.count())) {
      ::close(fd);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  fd_ = fd;
  return true;
}

void DirectoryLock::Release() {
  if (fd_ >= 0) {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }
  fd_ = -1;
}

}  // namespace platform
