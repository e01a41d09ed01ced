#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

MappedFile::~MappedFile() { Close(); }

bool MappedFile::Open(const std::filesystem::path& path, OpenMode mode) {
  Close();
  int flags = O_RDWR | O_CLOEXEC;
  if (mode == OpenMode::OpenOrCreate) flags |= O_CREAT;
  fd_ = ::open(path.c_str(), flags, 0644);
  if (fd_ < 0) return false;
  // Readers may share the file; a writer that asks for an exclusive lock waits.
  if (::flock(fd_, LOCK_SH | LOCK_NB) != 0) {
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

std::optional<std::uint64_t> MappedFile::Size() const {
  struct stat info {};
  if (fd_ < 0 || ::fstat(fd_, &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

bool MappedFile::IsFileAt(const std::filesystem::path& path) const {
  struct stat open_file {};
  struct stat named_file {};
  if (fd_ < 0 || ::fstat(fd_, &open_file) != 0 || ::stat(path.c_str(), &named_file) != 0) return false;
  return open_file.st_dev == named_file.st_dev && open_file.st_ino == named_file.st_ino;
}

bool MappedFile::Map(std::size_t length) {
  Unmap();
  if (fd_ < 0 || length == 0) return false;
  auto size = Size();
  if (!size) return false;
  if (*size < length && ::ftruncate(fd_, static_cast<off_t>(length)) != 0) return false;
  void* view = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
  if (view == MAP_FAILED) return false;
  view_ = view;
  mapped_length_ = length;
  return true;
}

void MappedFile::Unmap() {
  if (view_) ::munmap(view_, mapped_length_);
  view_ = nullptr;
  mapped_length_ = 0;
}

bool MappedFile::Truncate(std::uint64_t length) {
  return fd_ >= 0 && ::ftruncate(fd_, static_cast<off_t>(length)) == 0;
}

void MappedFile::Close() {
  Unmap();
  if (fd_ >= 0) {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }
  fd_ = -1;
}

}  // namespace platform
