#include "operations/file_checks.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>

#include "formats/address_image.h"
#include "formats/intel_hex.h"
#include "reporting/message_log.h"

namespace romsmith {
namespace {

constexpr std::array<const char*, 15> kCauseTexts = {
    "No error occurred",
    "An unspecified error occurred",
    "The file could not be located",
    "All or part of the path is invalid",
    "The permitted number of open files was exceeded",
    "The file could not be accessed",
    "There was an attempt to use an invalid file handle",
    "The current working directory cannot be removed",
    "There are no more directory entries",
    "There was an error trying to set the file pointer",
    "There was a hardware error",
    "SHARE.EXE was not loaded, or a shared region was locked",
    "There was an attempt to lock a region that was already locked",
    "The disk is full",
    "The end of file was reached",
};

}  // namespace

bool CheckFileName(const std::string& path, MessageLog& log) {
  if (path.size() >= kMaxPathLength) {
    log.Error("Error: file name error.\n");
    return false;
  }
  if (path.empty()) return false;
  // Names are taken literally: the file system here gives wildcard
  // characters no meaning of their own.
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return false;
  return !S_ISDIR(status.st_mode);
}

std::filesystem::path SiblingPartPath(const std::filesystem::path& path) {
  std::filesystem::path part = path;
  part += "." + std::to_string(::getpid()) + ".part";
  return part;
}

void RemovePart(const std::filesystem::path& part) {
  std::error_code ignored;
  std::filesystem::remove(part, ignored);
}

std::string FileErrorText(int cause) {
  if (cause < 0 || cause >= static_cast<int>(kCauseTexts.size())) return {};
  return kCauseTexts[static_cast<std::size_t>(cause)];
}

FileCause FileCauseFromErrno(int error_number) {
  switch (error_number) {
    case 0:
      return FileCause::kNone;
    case ENOENT:
    case ENXIO:
      return FileCause::kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return FileCause::kBadPath;
    case EMFILE:
    case ENFILE:
      return FileCause::kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EEXIST:
      return FileCause::kAccessDenied;
    case EBADF:
      return FileCause::kInvalidFile;
    case EBUSY:
      return FileCause::kRemoveCurrentDirectory;
    case ENOTEMPTY:
      return FileCause::kDirectoryFull;
    case ESPIPE:
    case EOVERFLOW:
      return FileCause::kBadSeek;
    case EIO:
      return FileCause::kHardIo;
    case ETXTBSY:
      return FileCause::kSharingViolation;
    case EDEADLK:
    case ENOLCK:
      return FileCause::kLockViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return FileCause::kDiskFull;
    default:
      return FileCause::kGeneric;
  }
}

FileCause FileCauseFromError(const std::error_code& error) {
  if (!error) return FileCause::kNone;
  if (error.category() == std::generic_category() || error.category() == std::system_category())
    return FileCauseFromErrno(error.value());
  return FileCause::kGeneric;
}

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool BinaryFile::OpenForReading(const std::filesystem::path& path) {
  Close();
  writing_ = false;
  // Opened without waiting, so a FIFO cannot block the open, and taken only
  // when it is a regular file: a FIFO or a device would block a read or
  // never end.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return false;
  }
  file_ = ::fdopen(fd, "rb");
  if (!file_) ::close(fd);
  return file_ != nullptr;
}

bool BinaryFile::CreateForWriting(const std::filesystem::path& path) {
  Close();
  file_ = std::fopen(path.c_str(), "wb");
  writing_ = true;
  return file_ != nullptr;
}

bool BinaryFile::CreateNew(const std::filesystem::path& path) {
  Close();
  writing_ = true;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  file_ = ::fdopen(fd, "wb");
  if (!file_) ::close(fd);
  return file_ != nullptr;
}

std::uint64_t BinaryFile::Length() {
  if (!file_) throw FileException{FileCause::kInvalidFile};
  struct stat status {};
  if (::fstat(::fileno(file_), &status) != 0) throw FileException{FileCauseFromErrno(errno)};
  return static_cast<std::uint64_t>(status.st_size);
}

std::size_t BinaryFile::Read(void* buffer, std::size_t count) {
  if (!file_) throw FileException{FileCause::kInvalidFile};
  const std::size_t got = std::fread(buffer, 1, count, file_);
  if (got < count && std::ferror(file_)) {
    const int error_number = errno;
    std::clearerr(file_);
    throw FileException{FileCauseFromErrno(error_number == 0 ? EIO : error_number)};
  }
  return got;
}

void BinaryFile::Write(const void* bytes, std::size_t count) {
  if (!file_) throw FileException{FileCause::kInvalidFile};
  errno = 0;
  if (std::fwrite(bytes, 1, count, file_) != count) {
    const int error_number = errno;
    throw FileException{FileCauseFromErrno(error_number == 0 ? EIO : error_number)};
  }
}

void BinaryFile::Close() {
  if (!file_) return;
  std::FILE* file = file_;
  file_ = nullptr;
  errno = 0;
  const bool flushed = !writing_ || std::fflush(file) == 0;
  const int error_number = errno;
  const bool closed = std::fclose(file) == 0;
  if (writing_ && (!flushed || !closed))
    throw FileException{FileCauseFromErrno(error_number == 0 ? EIO : error_number)};
}

std::uint64_t ProgramFileLength(const std::string& file, bool intel_hex,
                                const std::filesystem::path& scratch) {
  std::error_code error;
  if (!intel_hex) {
    const auto size = std::filesystem::file_size(file, error);
    return error ? 0 : size;
  }
  const std::filesystem::path flat = scratch / "length.bin";
  std::filesystem::remove(flat, error);
  if (!HexToBinary(file, flat.string())) return 0;
  const auto size = std::filesystem::file_size(flat, error);
  std::filesystem::remove(flat, error);
  return error ? 0 : size;
}

ImageExtent ImageExtentOf(const std::string& file) {
  std::string error;
  const std::optional<AddressImage> image = ReadAddressImage(file, error);
  if (!image) return {};
  return {image->byte_count(), image->low_address(), image->high_end()};
}

}  // namespace romsmith
