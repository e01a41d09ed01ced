// A file mapped into memory for reading and writing: the primitive under the
// profile reader. The mapping may be longer than the file; mapping lengthens
// the file on disk to the mapped length, and Truncate cuts it back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>

namespace platform {

class MappedFile {
 public:
  enum class OpenMode { ExistingOnly, OpenOrCreate };

  MappedFile() = default;
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // Opens for reading and writing. While open, other processes that honour
  // advisory locks may read but not write (a shared lock is refused to
  // writers taking an exclusive one).
  [[nodiscard]] bool Open(const std::filesystem::path& path, OpenMode mode);
  bool IsOpen() const { return fd_ >= 0; }

  std::optional<std::uint64_t> Size() const;

  // Whether `path` still names the open file (not a file put in its place).
  bool IsFileAt(const std::filesystem::path& path) const;

  // Lengthens the file to `length` bytes (never shortens it) and maps all of
  // it shared, so writes reach the file.
  [[nodiscard]] bool Map(std::size_t length);
  void Unmap();

  // Sets the file's length on disk.
  [[nodiscard]] bool Truncate(std::uint64_t length);
  void Close();

  char* data() const { return static_cast<char*>(view_); }
  std::size_t mapped_length() const { return mapped_length_; }

 private:
  int fd_ = -1;
  void* view_ = nullptr;
  std::size_t mapped_length_ = 0;
};

}  // namespace platform
