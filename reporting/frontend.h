// What the core asks of a front end (the Qt window, the terminal, a test
// recorder). Calls may come from the worker thread; an implementation that
// owns widgets hands them to its own thread and returns when they are done,
// so a line is on screen before Log returns.
#pragma once

#include <string>

#include "platform/message_box.h"

namespace romsmith {

class Frontend {
 public:
  virtual ~Frontend() = default;

  // Progress bar: range (low, high), absolute position, one step forward.
  virtual void SetProgressRange(int low, int high) = 0;
  virtual void SetProgressPosition(int position) = 0;
  virtual void StepProgress() = 0;

  // Busy animation: all frames, repeating until stopped.
  virtual void StartAnimation() = 0;
  virtual void StopAnimation() = 0;

  // The one-line status label: the latest line, red for an error and blue
  // otherwise, flashing against black every 1000 ms when blink is set.
  virtual void ShowStatusLine(const std::string& text, bool error, bool blink) = 0;

  // Command buttons enabled or not; the Close button reads Close (enabled),
  // Stop (while a stoppable command runs) or is disabled.
  virtual void SetCommandControls(bool enable, bool stoppable) = 0;

  // A question or notice box. Called on the command worker too; a front end
  // that hands it to its own thread answers with the default button at once
  // when the Workbench is closing (Workbench::closing), so that a window
  // closing while a question waits never waits on itself.
  virtual platform::MessageAnswer Ask(const platform::MessageRequest& request) = 0;
};

}  // namespace romsmith
