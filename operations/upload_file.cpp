#include "operations/upload_file.h"

#include <utility>

#include "platform/run_files.h"

namespace romsmith {

UploadName ConfirmUploadName(const CommandContext& context, const std::string& name) {
  if (name.size() >= kMaxPathLength) {
    CheckFileName(name, context.log);
    return UploadName::kRefused;
  }
  if (name.empty()) {
    context.log.Error("Error: no upload file is named, upload stopped.\n");
    return UploadName::kRefused;
  }
  std::error_code error;
  const std::filesystem::path path(name);
  if (std::filesystem::is_directory(path, error)) {
    context.log.Error("Error: upload file " + name + " is a directory, upload stopped.\n");
    return UploadName::kRefused;
  }
  const std::filesystem::path parent = path.has_parent_path() ? path.parent_path() : ".";
  if (!std::filesystem::is_directory(parent, error)) {
    context.log.Error("Error: the directory of upload file " + name +
                      " does not exist, upload stopped.\n");
    return UploadName::kRefused;
  }
  if (platform::IsOpenInThisProcess(path)) {
    // Written beside it and renamed over it, the upload would be lost when
    // its holder writes it back (the virtual board's flash image); written
    // in place, it would corrupt what the holder keeps there.
    context.log.Error("Error: upload file " + name +
                      " is held open by this program (the target board's flash image or the log "
                      "file); it is kept, upload stopped.\n");
    return UploadName::kRefused;
  }
  if (CheckFileName(name, context.log) &&
      context.Ask("Overwrite " + name + "?", platform::MessageIcon::Question,
                  platform::MessageButtons::OkCancel) != platform::MessageAnswer::Ok)
    return UploadName::kCancelled;
  return UploadName::kGoOn;
}

CommandResult UploadCancelled() {
  CommandResult result{CommandOutcome::kStopped, false, std::nullopt, {}};
  result.cancelled = true;
  return result;
}

UploadFile::UploadFile(std::filesystem::path name) : name_(std::move(name)) {
  std::error_code kind_error;
  beside_ = !std::filesystem::exists(name_, kind_error) ||
            std::filesystem::is_regular_file(name_, kind_error);
  written_ = beside_ ? SiblingPartPath(name_) : name_;
}

UploadFile::~UploadFile() { Discard(); }

bool UploadFile::Create() {
  if (!beside_) return file_.CreateForWriting(written_);
  // A file of that name left by an earlier run, or a link planted there, goes
  // first: the file is made new and never written through a link.
  RemovePart(written_);
  return file_.CreateNew(written_);
}

std::error_code UploadFile::Commit() {
  std::error_code error;
  if (settled_ || !beside_) {
    settled_ = true;
    return error;
  }
  std::filesystem::rename(written_, name_, error);
  if (error) RemovePart(written_);
  settled_ = true;
  return error;
}

void UploadFile::Discard() {
  if (settled_) return;
  settled_ = true;
  // The file must be closed before it goes; its close errors no longer
  // matter.
  if (file_.IsOpen()) {
    try {
      file_.Close();
    } catch (const FileException&) {
    }
  }
  if (beside_) RemovePart(written_);
}

}  // namespace romsmith
