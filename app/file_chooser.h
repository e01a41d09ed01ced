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
  // ("Name (*.ext);;All Files (*)"). The dialog opens at `start`: a folder,
  // or a file, whose folder it opens in with the file's name chosen.
  virtual QString OpenFile(QWidget* parent, const QString& caption, const QString& filter,
                           const QString& start) = 0;
  // A file to write; no default extension is added and no overwrite question
  // is asked (the callers ask their own).
  virtual QString SaveFile(QWidget* parent, const QString& caption, const QString& filter,
                           const QString& start) = 0;
};

// The desktop's file dialogs.
class DialogFileChooser : public FileChooser {
 public:
  QString OpenFile(QWidget* parent, const QString& caption, const QString& filter,
                   const QString& start) override;
  QString SaveFile(QWidget* parent, const QString& caption, const QString& filter,
                   const QString& start) override;
};

// Where a dialog for the path in a field opens: the path itself when its
// folder exists, else the nearest folder above it that exists; for an empty
// field (or nothing left of it) `fallback` when that folder exists, else the
// user's home folder.
QString DialogStart(const QString& field_path, const QString& fallback);

}  // namespace romsmith::gui
