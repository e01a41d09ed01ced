// Help > About: the About box, and the password dialog of the data-file
// maintenance that the About command opens instead when the settings enable
// it.
#pragma once

#include <QDialog>
#include <QLineEdit>

namespace romsmith::gui {

class AboutDialog : public QDialog {
  Q_OBJECT
 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

// "Encrypt" accepts, "Decrypt" and every other way out reject; the password
// is taken in every case.
class PasswordDialog : public QDialog {
  Q_OBJECT
 public:
  explicit PasswordDialog(QWidget* parent = nullptr);
  QString password() const { return password_->text(); }

 private:
  QLineEdit* password_;
};

}  // namespace romsmith::gui
