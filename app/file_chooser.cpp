#include "app/file_chooser.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace romsmith::gui {

QString DialogFileChooser::OpenFile(QWidget* parent, const QString& caption, const QString& filter,
                                    const QString& start) {
  return QFileDialog::getOpenFileName(parent, caption, start, filter, nullptr, QFileDialog::ReadOnly);
}

QString DialogFileChooser::SaveFile(QWidget* parent, const QString& caption, const QString& filter,
                                    const QString& start) {
  return QFileDialog::getSaveFileName(parent, caption, start, filter, nullptr,
                                      QFileDialog::DontConfirmOverwrite);
}

QString DialogStart(const QString& field_path, const QString& fallback) {
  const QString path = field_path.trimmed();
  if (!path.isEmpty()) {
    const QFileInfo file(path);
    if (file.isDir()) return file.absoluteFilePath();
    if (file.absoluteDir().exists()) return file.absoluteFilePath();
    // The folder has gone: the nearest one above it that is still there,
    // unless that is only the root.
    QString above = file.absolutePath();
    while (!QFileInfo(above).isDir()) {
      const QString parent = QFileInfo(above).path();
      if (parent == above) break;
      above = parent;
    }
    if (QFileInfo(above).isDir() && !QDir(above).isRoot()) return above;
  }
  if (!fallback.isEmpty() && QFileInfo(fallback).isDir()) return QFileInfo(fallback).absoluteFilePath();
  return QDir::homePath();
}

}  // namespace romsmith::gui
