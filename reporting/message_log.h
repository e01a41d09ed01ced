// The one reporting channel of the program: every step of every command ends
// in one line that goes to the status label and, when the user asked for it,
// to "Info.log" in the program directory.
#pragma once

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace romsmith {

class Frontend;

class MessageLog {
 public:
  // Every line as logged, before filtering: the command line prints from here.
  // `label` is false for the lines that go to the log file only.
  using LineTap = std::function<void(const std::string& text, bool error, bool label)>;

  explicit MessageLog(Frontend* frontend = nullptr) : frontend_(frontend) {}
  ~MessageLog();
  MessageLog(const MessageLog&) = delete;
  MessageLog& operator=(const MessageLog&) = delete;

  void SetFrontend(Frontend* frontend) { frontend_ = frontend; }
  void SetLineTap(LineTap tap) { tap_ = std::move(tap); }

  // The "Option" "Log" flag: write every line to the log file as well.
  void SetLogToFile(bool on) { log_to_file_ = on; }
  bool log_to_file() const { return log_to_file_; }

  // Creates "Info.log" in the program directory anew (or at `path`).
  void OpenLogFile();
  void OpenLogFile(const std::filesystem::path& path);
  // True once a log file was opened and stays open.
  bool file_open() {
    std::lock_guard lock(file_mutex_);
    return file_ != nullptr;
  }

  // One line. An empty text does nothing.
  void Log(std::string_view text, bool error, bool blink);
  // A line logged plainly / logged as an error.
  void Info(std::string_view text) { Log(text, false, false); }
  void Error(std::string_view text) { Log(text, true, true); }

  // The error lines since the last reset: those logged as errors and those
  // that begin "Error: " however they were logged (a driver's own line
  // among them). The Workbench resets it when a command starts and folds it
  // into the command's outcome. Counted from any thread.
  void ResetErrorCount() { error_lines_.store(0); }
  int error_count() const { return error_lines_.load(); }
  static bool IsErrorLine(std::string_view text, bool error);

  // True for lines that never reach the label: those beginning "debug" or
  // "Info: CPU", either ignoring case.
  static bool IsFileOnly(std::string_view text);

 private:
  void WriteToFile(std::string_view text);

  Frontend* frontend_ = nullptr;
  LineTap tap_;
  bool log_to_file_ = false;
  std::atomic<int> error_lines_{0};
  std::FILE* file_ = nullptr;
  std::mutex file_mutex_;
};

}  // namespace romsmith
