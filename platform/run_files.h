// Files a command makes for itself and files the process holds.
//
// A command's temporary files (decoded loaders, converted program files) go
// into a directory of its own under the system's temporary directory, made
// new with owner-only access, so no other user can plant a link under a name
// the command is about to write. The directory's name carries the process
// id, so a run that was killed before it could clean up is recognised and
// swept by the next one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace platform {

class RunDirectory {
 public:
  RunDirectory() = default;
  ~RunDirectory();
  RunDirectory(const RunDirectory&) = delete;
  RunDirectory& operator=(const RunDirectory&) = delete;

  // Makes the directory on first use; empty when it cannot be made.
  const std::filesystem::path& path();
  // A name inside it for `file_name`; empty when the directory cannot be
  // made.
  std::filesystem::path File(const std::string& file_name);

 private:
  std::filesystem::path path_;
  bool tried_ = false;
};

// Removes the run directories of processes that no longer run (this user's
// only) from the system's temporary directory. Returns how many went.
int SweepDeadRunDirectories();

// Whether this process holds `path` open (the same file, through any name or
// link): the files a loaded library keeps open, the log file.
bool IsOpenInThisProcess(const std::filesystem::path& path);

// Whether `path` names a regular file (after links) of at most `max_bytes`;
// `size` gets its length. Never opens it, so a FIFO cannot block.
enum class PlainFileCheck { kRegular, kMissing, kNotRegular, kTooLarge };
PlainFileCheck CheckPlainFile(const std::filesystem::path& path, std::uintmax_t max_bytes,
                              std::uintmax_t* size = nullptr);

}  // namespace platform
