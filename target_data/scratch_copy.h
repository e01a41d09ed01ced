// A plain working copy of a scrambled data file, made in a directory of its
// own under the system's temporary directory so that two programs reading
// the same database at once never share (or follow a planted link to) one
// copy. The directory and everything in it go when the object does.
#pragma once

#include <filesystem>
#include <string>

namespace romsmith {

class ScratchCopy {
 public:
  // `file_name` is the copy's name ("proc.api"); when no private directory
  // can be made the copy lives in `fallback_directory` instead.
  ScratchCopy(const std::string& file_name, const std::filesystem::path& fallback_directory);
  ~ScratchCopy();
  ScratchCopy(const ScratchCopy&) = delete;
  ScratchCopy& operator=(const ScratchCopy&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path directory_;  // empty when the fallback is used
  std::filesystem::path path_;
};

// True when `path` names a regular file that can be opened for reading.
bool IsReadableFile(const std::filesystem::path& path);

}  // namespace romsmith
