// The program's message boxes: the handler behind platform::ShowMessage that
// shows a modal Qt box over the main window, from whichever thread asks.
#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/message_box.h"

namespace romsmith::gui {

// Shows one box on the thread that owns `parent` (or the application's
// thread when there is none) and returns the button pressed; closing the box
// gives Cancel where there is one, else No, else Ok.
platform::MessageAnswer ShowMessageBox(QWidget* parent, const platform::MessageRequest& request);

// Installs the Qt boxes as the process-wide handler for as long as it lives.
class QtMessageBoxes {
 public:
  explicit QtMessageBoxes(QWidget* parent);
  ~QtMessageBoxes();
  QtMessageBoxes(const QtMessageBoxes&) = delete;
  QtMessageBoxes& operator=(const QtMessageBoxes&) = delete;

 private:
  QPointer<QWidget> parent_;
  platform::MessageHandler previous_;
};

}  // namespace romsmith::gui
