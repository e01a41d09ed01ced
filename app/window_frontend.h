// The Workbench's Frontend on the main window's widgets. Calls from the
// command's worker thread run on the window's thread and return when done,
// except the progress positions between the ends of the range, which are
// coalesced (see ProgressPacer); questions go through platform::ShowMessage,
// the program's one box handler.
#pragma once

#include <QPointer>

#include <functional>

#include "app/busy_indicator.h"
#include "app/progress_pacer.h"
#include "app/status_line.h"
#include "reporting/frontend.h"

namespace romsmith::gui {

class WindowFrontend : public Frontend {
 public:
  struct Widgets {
    QPointer<QWidget> window;
    QPointer<ProgressPacer> progress;
    QPointer<BusyIndicator> animation;
    QPointer<StatusLine> status;
    std::function<void(bool enable, bool stoppable)> set_controls;
    // True once the window was asked to close during a command: a question
    // that reaches the window after that takes its default unseen.
    std::function<bool()> closing;
  };

  // Until Attach, calls are dropped (nothing to show them on yet).
  void Attach(Widgets widgets) { widgets_ = std::move(widgets); }

  void SetProgressRange(int low, int high) override;
  void SetProgressPosition(int position) override;
  void StepProgress() override;
  void StartAnimation() override;
  void StopAnimation() override;
  void ShowStatusLine(const std::string& text, bool error, bool blink) override;
  void SetCommandControls(bool enable, bool stoppable) override;
  platform::MessageAnswer Ask(const platform::MessageRequest& request) override;

 private:
  template <typename Function>
  void OnWindow(Function&& function);

  Widgets widgets_;
};

}  // namespace romsmith::gui
