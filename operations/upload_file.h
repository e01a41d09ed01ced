// The output file of an upload. A regular file, or one that does not exist
// yet, is written beside its name and put in its place only at the end, so a
// command that reads nothing keeps the old file and nobody sees a half-written
// one under the user's name; a device or a pipe is written as it is.
#pragma once

#include <filesystem>
#include <system_error>

#include "operations/command_context.h"
#include "operations/file_checks.h"

namespace romsmith {

// Before an upload reads anything for `name`: a name of kMaxPathLength
// characters or more is refused ("Error: file name error."), so is a
// directory, a name in a directory that does not exist, and a file this
// program holds open for another purpose (the target board's own flash
// image, the log file): writing it would be lost or would corrupt it. An
// existing file is replaced only when the user agrees; a cancel is the
// user's choice, not a failure, and logs nothing.
enum class UploadName { kGoOn, kRefused, kCancelled };
UploadName ConfirmUploadName(const CommandContext& context, const std::string& name);
// The result of a command that ended at the overwrite question.
CommandResult UploadCancelled();

class UploadFile {
 public:
  explicit UploadFile(std::filesystem::path name);
  // Removes the file written beside the name unless it was put in place.
  ~UploadFile();
  UploadFile(const UploadFile&) = delete;
  UploadFile& operator=(const UploadFile&) = delete;

  // Creates the file written to; false when it cannot be created.
  bool Create();
  BinaryFile& file() { return file_; }

  // After the file was closed: puts what was written in place of the name.
  // A failed rename removes the written file and gives its error.
  std::error_code Commit();
  // Drops what was written; the old file under the name stays.
  void Discard();

 private:
  std::filesystem::path name_;
  std::filesystem::path written_;
  bool beside_ = true;
  bool settled_ = false;
  BinaryFile file_;
};

}  // namespace romsmith
