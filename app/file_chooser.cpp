#include "app/file_chooser.h"

#include <QFileDialog>

namespace romsmith::gui {

QString DialogFileChooser::OpenFile(QWidget* parent, const QString& caption,
                                    const QString& filter) {
  return QFileDialog::getOpenFileName(parent, caption, QString(), filter, nullptr,
                                      QFileDialog::ReadOnly);
}

QString DialogFileChooser::SaveFile(QWidget* parent, const QString& caption,
                                    const QString& filter) {
  return QFileDialog::getSaveFileName(parent, caption, QString(), filter, nullptr,
                                      QFileDialog::DontConfirmOverwrite);
}

}  // namespace romsmith::gui
