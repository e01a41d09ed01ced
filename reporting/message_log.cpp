#include "reporting/message_log.h"

#include "reporting/frontend.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace romsmith {

MessageLog::~MessageLog() {
  if (file_) std::fclose(file_);
}

bool MessageLog::IsFileOnly(std::string_view text) {
  return StartsWithIgnoringCase(text, "debug") || StartsWithIgnoringCase(text, "Info: CPU");
}

bool MessageLog::IsErrorLine(std::string_view text, bool error) {
  return error || text.starts_with("Error: ");
}

void MessageLog::OpenLogFile() { OpenLogFile(platform::ProgramDirectory() / "Info.log"); }

void MessageLog::OpenLogFile(const std::filesystem::path& path) {
  {
    std::lock_guard lock(file_mutex_);
    if (file_) std::fclose(file_);
    file_ = std::fopen(path.c_str(), "wb");
  }
  if (!file_) {
    log_to_file_ = false;
    Error("Error: open log file failed.\n");
  }
}

void MessageLog::WriteToFile(std::string_view text) {
  bool failed;
  {
    std::lock_guard lock(file_mutex_);
    // The line's own "\n" is followed by a carriage return: the file format
    // the log readers expect.
    failed = !file_ || std::fwrite(text.data(), 1, text.size(), file_) != text.size() ||
             std::fputc('\r', file_) == EOF || std::fflush(file_) != 0;
  }
  if (failed) {
    platform::ShowMessage("Can't write to log file.", "Romsmith", platform::MessageIcon::Error,
                          platform::MessageButtons::Ok);
  }
}

void MessageLog::Log(std::string_view text, bool error, bool blink) {
  if (text.empty()) return;
  if (IsErrorLine(text, error)) error_lines_.fetch_add(1);
  if (log_to_file_) WriteToFile(text);
  const bool label = !IsFileOnly(text);
  if (tap_) tap_(std::string(text), error, label);
  if (label && frontend_) frontend_->ShowStatusLine(std::string(text), error, blink);
}

}  // namespace romsmith
