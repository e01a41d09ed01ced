#include "app/about_dialogs.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace romsmith::gui {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("aboutDialog");
  setWindowTitle(tr("About Romsmith"));
  auto* icon = new QLabel(this);
  icon->setObjectName("aboutIcon");
  icon->setPixmap(QIcon(":/icons/romsmith.svg").pixmap(48, 48));
  auto* title = new QLabel(tr("Romsmith Version %1").arg(QApplication::applicationVersion()), this);
  title->setObjectName("aboutTitle");
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->setObjectName("buttonBox");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* row = new QHBoxLayout;
  row->addWidget(icon);
  row->addWidget(title, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

PasswordDialog::PasswordDialog(QWidget* parent) : QDialog(parent) {
  setObjectName("passwordDialog");
  setWindowTitle(tr("Input Password"));
  password_ = new QLineEdit(this);
  password_->setObjectName("passwordEdit");
  password_->setEchoMode(QLineEdit::Password);
  auto* encrypt = new QPushButton(tr("Encrypt"), this);
  encrypt->setObjectName("encryptButton");
  encrypt->setDefault(true);
  auto* decrypt = new QPushButton(tr("Decrypt"), this);
  decrypt->setObjectName("decryptButton");
  connect(encrypt, &QPushButton::clicked, this, &QDialog::accept);
  connect(decrypt, &QPushButton::clicked, this, &QDialog::reject);

  auto* form = new QFormLayout;
  form->addRow(tr("Password:"), password_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(encrypt);
  buttons->addWidget(decrypt);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addLayout(buttons);
}

}  // namespace romsmith::gui
