#include "simboard/memory/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace simboard {

namespace {

// Moves all `count` bytes with pread or pwrite, resuming after short
// transfers and signals.
template <typename Byte, typename Transfer>
bool MoveAll(int fd, Byte* bytes, std::size_t count, off_t offset, Transfer transfer) {
  while (count > 0) {
    ssize_t done = transfer(fd, bytes, count, offset);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    bytes += done;
    count -= static_cast<std::size_t>(done);
    offset += done;
  }
  return true;
}

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t count, off_t offset) {
  return MoveAll(fd, bytes, count, offset,
                 [](int f, const std::uint8_t* b, std::size_t n, off_t o) { return ::pwrite(f, b, n, o); });
}

bool ReadAll(int fd, std::uint8_t* bytes, std::size_t count) {
  return MoveAll(fd, bytes, count, 0,
                 [](int f, std::uint8_t* b, std::size_t n, off_t o) { return ::pread(f, b, n, o); });
}

}  // namespace

ImageFile::~ImageFile() { Close(); }

bool ImageFile::Open(const std::filesystem::path& path, std::size_t size, std::uint8_t erased,
                     std::string& error) {
  Close();
  path_ = path;
  // On failure the file is left as it was found.
  auto fail = [&](std::string text) {
    error = std::move(text);
    bytes_.clear();
    dirty_begin_ = SIZE_MAX;
    dirty_end_ = 0;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return false;
  };
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  struct stat info {};
  if (fd_ < 0 || ::fstat(fd_, &info) != 0) {
    return fail("cannot open or create " + path.string() + ": " + std::strerror(errno));
  }
  auto file_size = static_cast<std::uint64_t>(info.st_size);
  if (file_size != 0 && file_size != size) {
    // Growing or cutting it would silently change what the user keeps in it.
    return fail(path.string() + " is " + std::to_string(file_size) + " bytes, not the " +
                std::to_string(size) + " bytes of the memory it holds");
  }
  bytes_.assign(size, erased);
  if (file_size == 0) {
    Touch(0, size);
    Flush();
    if (dirty()) {
      return fail("cannot write " + path.string() + ": " + std::strerror(errno));
    }
  } else if (!ReadAll(fd_, bytes_.data(), size)) {
    return fail("cannot read " + path.string() + ": " + std::strerror(errno));
  }
  return true;
}

// A failed write keeps the range dirty, so the next change or the close
// tries again; the board's contents are never lost meanwhile.
void ImageFile::WriteDirty() {
  if (fd_ < 0 || WriteAll(fd_, bytes_.data() + dirty_begin_, dirty_end_ - dirty_begin_,
               static_cast<off_t>(dirty_begin_))) {
    dirty_begin_ = SIZE_MAX;
    dirty_end_ = 0;
  }
}

void ImageFile::Close() {
  if (fd_ < 0) return;
  Flush();
  // Another process may have replaced or cut the file while the board ran:
  // the image under the file's name is made whole again, beside it first and
  // then renamed over it, so the name always holds a complete image.
  struct stat open_file {};
  struct stat named_file {};
  bool ours = ::fstat(fd_, &open_file) == 0 && ::stat(path_.c_str(), &named_file) == 0 &&
              open_file.st_dev == named_file.st_dev && open_file.st_ino == named_file.st_ino &&
              static_cast<std::uint64_t>(named_file.st_size) == bytes_.size();
  ::close(fd_);
  fd_ = -1;
  if (ours || bytes_.empty()) return;
  auto temporary = path_;
  temporary += ".new";
  int out = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) return;
  bool written = WriteAll(out, bytes_.data(), bytes_.size(), 0);
  written = ::close(out) == 0 && written;
  if (!written || ::rename(temporary.c_str(), path_.c_str()) != 0) ::unlink(temporary.c_str());
}

}  // namespace simboard
