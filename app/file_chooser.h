// The file dialogs of the window and its pages, behind one small interface so
// that tests can answer them.
#pragma once

#include <QString>
#include <QWidget>

namespace romsmith::gui {

class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // An existing file; empty when cancelled. `filter` in Qt's form
  // ("Name (*.ext);;All Files (*)").
  virtual QString OpenFile(QWidget* parent, const QString& caption, const QString& filter) = 0;
  // A file to write; no default extension is added and no overwrite question
  // is asked (the callers ask their own).
  virtual QString SaveFile(QWidget* parent, const QString& caption, const QString& filter) = 0;
};

// The desktop's file dialogs.
class DialogFileChooser : public FileChooser {
 public:
  QString OpenFile(QWidget* parent, const QString& caption, const QString& filter) override;
  QString SaveFile(QWidget* parent, const QString& caption, const QString& filter) override;
};

}  // namespace romsmith::gui
