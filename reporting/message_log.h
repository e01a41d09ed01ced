// The one reporting channel of the program: every step of every command ends
// in one line that goes to the status label and, when the user asked for it,
// to "Info.log" in the program directory.
#pragma once

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

  // One line. An empty text does nothing.
  void Log(std::string_view text, bool error, bool blink);
  // A line logged plainly / logged as an error.
  void Info(std::string_view text) { Log(text, false, false); }
  void Error(std::string_view text) { Log(text, true, true); }

  // True for lines that never reach the label: those beginning "debug" or
  // "Info: CPU", either ignoring case.
  static bool IsFileOnly(std::string_view text);

 private:
  void WriteToFile(std::string_view text);

  Frontend* frontend_ = nullptr;
  LineTap tap_;
  bool log_to_file_ = false;
  std::FILE* file_ = nullptr;
  std::mutex file_mutex_;
};

}  // namespace romsmith
