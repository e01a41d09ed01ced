// The Frontend of romsmith-cli: logged lines on standard output as they come,
// a progress bar on standard error when that is a terminal, and questions
// answered by --yes / --no, on the terminal, or else with No/Cancel.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "cli/options.h"
#include "reporting/frontend.h"

namespace romsmith {

struct TerminalStreams {
  std::FILE* out = stdout;   // logged lines and message boxes
  std::FILE* err = stderr;   // the progress bar and the question prompts
  std::FILE* in = stdin;     // answers typed by the user
  bool err_is_terminal = false;  // draw the progress bar
  bool in_is_terminal = false;   // questions can be asked
};

// The streams of the process, with the terminal tests made on them.
TerminalStreams ProcessStreams();

class TerminalFrontend : public Frontend {
 public:
  TerminalFrontend(CliVerbosity verbosity, CliAnswers answers, TerminalStreams streams);

  // The MessageLog line tap: prints the line when the verbosity lets it
  // through, with a "\n" of its own when it has none.
  void PrintLine(const std::string& text, bool error, bool label);

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
  void WriteLineLocked(const std::string& text);
  platform::MessageAnswer PromptLocked(const platform::MessageRequest& request);

  const CliVerbosity verbosity_;
  const CliAnswers answers_;
  const TerminalStreams streams_;

  std::mutex mutex_;
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
