// Files that come from standard input or go to standard output: the data
// passes through a file of a private directory of the run, so the program
// file's checks see a whole regular file before anything reaches the target.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace romsmith {

// Standard input longer than this is refused.
inline constexpr std::uint64_t kMaxStandardInputBytes = std::uint64_t{1} << 30;

// A directory only this user can enter, made under the system temporary
// directory and removed with everything in it when this goes.
class PrivateDirectory {
 public:
  PrivateDirectory() = default;
  ~PrivateDirectory();
  PrivateDirectory(const PrivateDirectory&) = delete;
  PrivateDirectory& operator=(const PrivateDirectory&) = delete;

  // False with `error` set when it cannot be made.
  bool Create(std::string& error);
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Copies everything readable from `fd` into the new file `file` (never
// through a link, never over an existing file). False with `error` set when
// it cannot be written or holds more than `limit` bytes.
bool CopyDescriptorToNewFile(int fd, const std::filesystem::path& file, std::uint64_t limit,
                             std::string& error);

// Writes the whole of `file` to `fd`. False with `error` set on a read or
// write failure (a closed pipe included).
bool CopyFileToDescriptor(const std::filesystem::path& file, int fd, std::string& error);

}  // namespace romsmith
