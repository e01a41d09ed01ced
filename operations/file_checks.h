// File helpers shared by the command bodies: the program-file check, the
// texts of the file exception causes, and a small binary file whose read and
// write failures raise a FileException that the body catches and reports.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace romsmith {

class MessageLog;

// Paths of this many characters or more are refused by CheckFileName.
inline constexpr std::size_t kMaxPathLength = 260;

// True when `path` names an existing entry that is not a directory. A path
// of kMaxPathLength characters or more logs "Error: file name error.\n" as an
// error and gives false.
bool CheckFileName(const std::string& path, MessageLog& log);

// Where a file is written before it replaces `path`: beside it, so the
// rename stays on one file system, under a name of this process.
std::filesystem::path SiblingPartPath(const std::filesystem::path& path);
// Removes such a file, quietly.
void RemovePart(const std::filesystem::path& part);

// The bytes a program file stands for: a flat binary's size, or the size of
// the flat binary an Intel HEX file converts to (converted again into
// `scratch`, a directory of the caller's, and removed). 0 when it cannot tell.
std::uint64_t ProgramFileLength(const std::string& file, bool intel_hex,
                                const std::filesystem::path& scratch);

// What an image file (ELF, S-records, Intel HEX) places: its byte count, its
// lowest address and one past its highest. All 0 when it does not parse.
struct ImageExtent {
  std::uint64_t bytes = 0;
  std::uint64_t low = 0;
  std::uint64_t high = 0;
};
ImageExtent ImageExtentOf(const std::string& file);

// Causes of a file exception, 0 to 14.
enum class FileCause : int {
  kNone = 0,
  kGeneric = 1,
  kFileNotFound = 2,
  kBadPath = 3,
  kTooManyOpenFiles = 4,
  kAccessDenied = 5,
  kInvalidFile = 6,
  kRemoveCurrentDirectory = 7,
  kDirectoryFull = 8,
  kBadSeek = 9,
  kHardIo = 10,
  kSharingViolation = 11,
  kLockViolation = 12,
  kDiskFull = 13,
  kEndOfFile = 14,
};

// The text of a cause code; empty for codes outside 0 to 14.
std::string FileErrorText(int cause);
inline std::string FileErrorText(FileCause cause) { return FileErrorText(static_cast<int>(cause)); }

// The cause that an operating-system error stands for.
FileCause FileCauseFromErrno(int error_number);
FileCause FileCauseFromError(const std::error_code& error);

// ASCII lower case, as the bodies show cause texts.
std::string LowerCase(std::string text);

struct FileException {
  FileCause cause;
};

// A file opened for reading, or created anew for writing, closed with the
// object. Open failures are results; failures of Read and Write throw.
class BinaryFile {
 public:
  BinaryFile() = default;
  // Closes without reporting: bodies that must know call Close first.
  ~BinaryFile() {
    if (file_) std::fclose(file_);
  }
  BinaryFile(const BinaryFile&) = delete;
  BinaryFile& operator=(const BinaryFile&) = delete;

  // Regular files only (a FIFO or a device is refused without waiting).
  bool OpenForReading(const std::filesystem::path& path);
  bool CreateForWriting(const std::filesystem::path& path);
  // Creates the file new: an existing name, also a link, fails.
  bool CreateNew(const std::filesystem::path& path);
  bool IsOpen() const { return file_ != nullptr; }

  // The file's length in bytes (throws when it cannot be told).
  std::uint64_t Length();
  // Up to `count` bytes; fewer at the end of the file.
  std::size_t Read(void* buffer, std::size_t count);
  void Write(const void* bytes, std::size_t count);
  // Closes the file; a failure to write buffered bytes throws.
  void Close();

 private:
  std::FILE* file_ = nullptr;
  bool writing_ = false;
};

}  // namespace romsmith
