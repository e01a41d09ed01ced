#include "app/message_boxes.h"

#include <QApplication>
#include <QMessageBox>

#include "app/gui_thread.h"

namespace romsmith::gui {
namespace {

QMessageBox::Icon BoxIcon(platform::MessageIcon icon) {
  switch (icon) {
    case platform::MessageIcon::Information:
      return QMessageBox::Information;
    case platform::MessageIcon::Warning:
      return QMessageBox::Warning;
    case platform::MessageIcon::Error:
      return QMessageBox::Critical;
    case platform::MessageIcon::Question:
      return QMessageBox::Question;
    case platform::MessageIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

struct ButtonSet {
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton default_button;
  QMessageBox::StandardButton escape_button;
};

ButtonSet Buttons(platform::MessageButtons buttons) {
  switch (buttons) {
    case platform::MessageButtons::OkCancel:
      return {QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok, QMessageBox::Cancel};
    case platform::MessageButtons::YesNo:
      return {QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, QMessageBox::No};
    case platform::MessageButtons::YesNoCancel:
      return {QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes,
              QMessageBox::Cancel};
    case platform::MessageButtons::Ok:
      break;
  }
  return {QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Ok};
}

platform::MessageAnswer Answer(int button, platform::MessageButtons buttons) {
  switch (button) {
    case QMessageBox::Ok:
      return platform::MessageAnswer::Ok;
    case QMessageBox::Yes:
      return platform::MessageAnswer::Yes;
    case QMessageBox::No:
      return platform::MessageAnswer::No;
    case QMessageBox::Cancel:
      return platform::MessageAnswer::Cancel;
    default:
      return platform::NegativeAnswer(buttons);
  }
}

}  // namespace

platform::MessageAnswer ShowMessageBox(QWidget* parent, const platform::MessageRequest& request) {
  QObject* context = parent ? static_cast<QObject*>(parent) : QCoreApplication::instance();
  platform::MessageAnswer answer = platform::DefaultAnswer(request.buttons);
  if (context == nullptr) return answer;
  RunOnGuiThread(context, [&] {
    const ButtonSet set = Buttons(request.buttons);
    QMessageBox box(BoxIcon(request.icon), QString::fromStdString(request.caption),
                    QString::fromStdString(request.text), set.buttons, parent);
    box.setObjectName("messageBox");
    box.setDefaultButton(set.default_button);
    box.setEscapeButton(set.escape_button);
    answer = Answer(box.exec(), request.buttons);
  });
  return answer;
}

QtMessageBoxes::QtMessageBoxes(QWidget* parent) : parent_(parent) {
  previous_ = platform::SetMessageHandler([this](const platform::MessageRequest& request) {
    return ShowMessageBox(parent_.data(), request);
  });
}

QtMessageBoxes::~QtMessageBoxes() { platform::SetMessageHandler(std::move(previous_)); }

}  // namespace romsmith::gui
