#include "app/window_frontend.h"

#include "app/gui_thread.h"

namespace romsmith::gui {

template <typename Function>
void WindowFrontend::OnWindow(Function&& function) {
  if (!widgets_.window) return;
  RunOnGuiThread(widgets_.window.data(), std::forward<Function>(function));
}

void WindowFrontend::SetProgressRange(int low, int high) {
  if (widgets_.progress) widgets_.progress->SetRange(low, high);
}

void WindowFrontend::SetProgressPosition(int position) {
  if (widgets_.progress) widgets_.progress->SetPosition(position);
}

void WindowFrontend::StepProgress() {
  if (widgets_.progress) widgets_.progress->Step();
}

void WindowFrontend::StartAnimation() {
  OnWindow([&] { widgets_.animation->Start(); });
}

void WindowFrontend::StopAnimation() {
  OnWindow([&] { widgets_.animation->Stop(); });
}

void WindowFrontend::ShowStatusLine(const std::string& text, bool error, bool blink) {
  OnWindow([&] { widgets_.status->ShowLine(QString::fromStdString(text), error, blink); });
}

void WindowFrontend::SetCommandControls(bool enable, bool stoppable) {
  OnWindow([&] {
    if (widgets_.set_controls) widgets_.set_controls(enable, stoppable);
  });
}

platform::MessageAnswer WindowFrontend::Ask(const platform::MessageRequest& request) {
  // On the window's thread the program's own box handler answers (a Qt box,
  // or a test's script); the worker's thread has a handler of its own that
  // leads here. A close may have come while the question was on its way.
  platform::MessageAnswer answer = platform::DefaultAnswer(request.buttons);
  OnWindow([&] {
    if (widgets_.closing && widgets_.closing()) return;
    answer = platform::ShowMessage(request.text, request.caption, request.icon, request.buttons);
  });
  return answer;
}

}  // namespace romsmith::gui
