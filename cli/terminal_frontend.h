// The Frontend of romsmith-cli: logged lines as they come, results and
// "Info:" lines on standard output, "Warning:" and "Error:" lines on
// standard error; a progress bar on standard error when that is a terminal;
// questions answered by --yes / --no, on the terminal, or else with
// No/Cancel. Every line is also kept, with its kind, for the --json record.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "cli/options.h"
#include "reporting/frontend.h"

namespace romsmith {

struct TerminalStreams {
  std::FILE* out = stdout;   // results, "Info:" lines, notices and answered questions
  std::FILE* err = stderr;   // "Warning:" and "Error:" lines, the progress bar, the prompts
  std::FILE* in = stdin;     // answers typed by the user
  bool err_is_terminal = false;  // draw the progress bar
  bool in_is_terminal = false;   // questions can be asked
};

// The streams of the process, with the terminal tests made on them.
TerminalStreams ProcessStreams();

// What a printed line is, by its opening word (or the error flag it was
// logged with, or the icon of its box).
enum class LineKind { kInfo, kResult, kWarning, kError, kDebug, kQuestion };

// "info", "result", "warning", "error", "debug", "question".
const char* LineKindName(LineKind kind);
// The kind of a logged line: "Error"/"Warning"/"Debug"/"Info" at its start
// (in any case), else an error when logged as one, else info.
LineKind KindOfLine(const std::string& text, bool error);

struct PrintedLine {
  LineKind kind;
  std::string text;  // without its final "\n"
};

// How a batch target's progress reaches the batch: this word, a space and
// the percentage, as a line of its own on standard error.
inline constexpr char kChildProgressMark[] = "@progress";

// Where the lines go besides the record.
enum class LineRouting {
  kSplit,       // results and info on `out`, warnings and errors on `err`
  kAllToError,  // everything on `err`: `out` carries data (upload -f -)
  kErrorsOnly,  // warnings and errors on `err`, nothing on `out` (--json)
  kChild,       // every line and the progress on `err` (a batch target)
};

class TerminalFrontend : public Frontend {
 public:
  TerminalFrontend(CliVerbosity verbosity, CliAnswers answers, TerminalStreams streams,
                   LineRouting routing = LineRouting::kSplit);

  // The MessageLog line tap: prints the line when the verbosity lets it
  // through, with a "\n" of its own when it has none. A result line (the
  // checksum, a device code) is printed also when quiet.
  void PrintLine(const std::string& text, bool error, bool label, bool result = false);
  // A result that the command line writes itself (bad blocks, registers).
  void PrintResult(const std::string& text);

  // Every line logged or shown so far, in order (any thread).
  std::vector<PrintedLine> Lines() const;
  // How far the progress of the last range got, 0 to 1 (any thread).
  double ProgressReached() const;

  void SetProgressRange(int low, int high) override;
  void SetProgressPosition(int position) override;
  void StepProgress() override;
  void StartAnimation() override;
  void StopAnimation() override;
  // The lines come through PrintLine; the status label has no twin here.
  void ShowStatusLine(const std::string& text, bool error, bool blink) override;
  // There are no buttons on a terminal.
  void SetCommandControls(bool enable, bool stoppable) override;
  platform::MessageAnswer Ask(const platform::MessageRequest& request) override;

  // Ends a progress bar left on the screen (before the process exits).
  void FinishProgress();

 private:
  void DrawBarLocked();
  void ClearBarLocked();
  void EmitLocked(LineKind kind, const std::string& text, bool print);
  void WriteLineLocked(std::FILE* stream, const std::string& text);
  std::FILE* StreamFor(LineKind kind) const;
  void ReportProgressLocked();
  platform::MessageAnswer PromptLocked(const platform::MessageRequest& request);

  const CliVerbosity verbosity_;
  const CliAnswers answers_;
  TerminalStreams streams_;
  const LineRouting routing_;

  mutable std::mutex mutex_;
  std::vector<PrintedLine> lines_;
  double reached_ = 0;
  int reported_percent_ = -1;
  int low_ = 0;
  int high_ = 0;
  int position_ = 0;
  bool animating_ = false;
  unsigned spin_ = 0;
  std::chrono::steady_clock::time_point last_turn_{};
  bool bar_shown_ = false;
  std::string last_bar_;
};

// The words a prompt offers and accepts for each set of buttons.
std::string ButtonChoices(platform::MessageButtons buttons);

}  // namespace romsmith
