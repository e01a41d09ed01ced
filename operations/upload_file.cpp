#include "operations/upload_file.h"

#include <utility>

namespace romsmith {

bool ConfirmUploadName(const CommandContext& context, const std::string& name) {
  if (name.size() >= kMaxPathLength) {
    CheckFileName(name, context.log);
    return false;
  }
  if (CheckFileName(name, context.log) &&
      context.Ask("Overwrite " + name + "?", platform::MessageIcon::Question,
                  platform::MessageButtons::OkCancel) != platform::MessageAnswer::Ok) {
    context.log.Error("Error: upload cancelled, " + name + " is kept.\n");
    return false;
  }
  return true;
}

UploadFile::UploadFile(std::filesystem::path name) : name_(std::move(name)) {
  std::error_code kind_error;
  beside_ = !std::filesystem::exists(name_, kind_error) ||
            std::filesystem::is_regular_file(name_, kind_error);
  written_ = beside_ ? SiblingPartPath(name_) : name_;
}

UploadFile::~UploadFile() { Discard(); }

bool UploadFile::Create() { return file_.CreateForWriting(written_); }

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
