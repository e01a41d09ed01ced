// What the desktop program's tests share: a program directory of their own
// made from the staged one, a profile, a virtual board, scripted answers to
// message boxes and file dialogs, and widget look-up by object name.
#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QWidget>

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/file_chooser.h"
#include "app/main_window.h"
#include "platform/message_box.h"
#include "platform/paths.h"

namespace romsmith::gui::testing {

inline QString StageDir() { return QString::fromUtf8(ROMSMITH_STAGE_DIR); }
inline QString SourceDir() { return QString::fromUtf8(ROMSMITH_SOURCE_DIR); }

inline void WriteText(const QString& path, const QByteArray& text) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  file.open(QIODevice::WriteOnly | QIODevice::Truncate);
  file.write(text);
}

inline QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

// A program directory in a temporary folder: the staged databases, loaders
// and help, a romsmith.ini that reaches the staged driver modules and the
// virtual board's port library, a profile beside it, and a copy of the
// default board whose flash image lives in the folder too.
class ProgramFolder {
 public:
  ProgramFolder() {
    program = root.filePath("program");
    profile = root.filePath("profile.ini");
    board = root.filePath("board.ini");
    QDir().mkpath(program);
    QDir stage(StageDir());
    for (const QString& name : stage.entryList({"*.xdl", "*.mdl"}, QDir::Files))
      QFile::copy(stage.filePath(name), QDir(program).filePath(name));
    CopyTree(stage.filePath("help"), QDir(program).filePath("help"));
    WriteSettings("osprey7.so", "Parallel", "LPT1");
    QFile::copy(stage.filePath("ports/simboard/board.ini"), board);
    QFile::setPermissions(board, QFile::ReadOwner | QFile::WriteOwner);
    platform::SetProgramDirectory(program.toStdString());
    qputenv("ROMSMITH_PROFILE", profile.toUtf8());
    qputenv("ROMSMITH_BOARD", board.toUtf8());
  }

  void WriteSettings(const QString& device, const QString& comm_type, const QString& port,
                     const QString& extra = {}) {
    WriteText(QDir(program).filePath("romsmith.ini"),
              QString("[Directory]\r\nDriver=%1/ports/simboard/\r\nDevice=%1/drivers/\r\n"
                      "[Remote]\r\nDevice=%2\r\nCommType=%3\r\nParallel=%4\r\nIPAddr=\r\n"
                      "Speed=0\r\n[Option]\r\nRegChkPop=1\r\n[Tevrin]\r\nDebug=0\r\n%5")
                  .arg(StageDir(), device, comm_type, port, extra)
                  .toUtf8());
  }

  // The board file with `from` replaced by `to` (timing, faults).
  void EditBoard(const QByteArray& from, const QByteArray& to) {
    QByteArray text = ReadBytes(board);
    text.replace(from, to);
    WriteText(board, text);
  }

  // A copy of a shipped example configuration in the folder, so that a
  // test that saves never writes the source tree.
  QString Example(const QString& name) const {
    const QString copy = root.filePath(name);
    if (!QFile::exists(copy)) {
      QFile::copy(SourceDir() + "/data/examples/" + name, copy);
      QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
    }
    return copy;
  }

  QString Path(const QString& name) const { return QDir(program).filePath(name); }
  QString RootPath(const QString& name) const { return root.filePath(name); }

  QTemporaryDir root;
  QString program;
  QString profile;
  QString board;

 private:
  static void CopyTree(const QString& from, const QString& to) {
    QDir source(from);
    QDir().mkpath(to);
    for (const QFileInfo& entry : source.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
      const QString target = QDir(to).filePath(entry.fileName());
      if (entry.isDir()) {
        CopyTree(entry.filePath(), target);
      } else {
        QFile::copy(entry.filePath(), target);
      }
    }
  }
};

// Answers every message box from a script (the default button when the
// script is empty) and keeps what was asked. Boxes may come from the
// command's thread.
class ScriptedBoxes {
 public:
  ScriptedBoxes()
      : scope_([this](const platform::MessageRequest& request) {
          std::lock_guard lock(mutex_);
          asked_.push_back(request);
          if (answers_.empty()) return platform::DefaultAnswer(request.buttons);
          const platform::MessageAnswer answer = answers_.front();
          answers_.pop_front();
          return answer;
        }) {}

  void Answer(platform::MessageAnswer answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(answer);
  }
  std::vector<platform::MessageRequest> asked() const {
    std::lock_guard lock(mutex_);
    return asked_;
  }
  QStringList texts() const {
    QStringList list;
    for (const platform::MessageRequest& request : asked()) list << QString::fromStdString(request.text);
    return list;
  }
  void Clear() {
    std::lock_guard lock(mutex_);
    asked_.clear();
    answers_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::deque<platform::MessageAnswer> answers_;
  std::vector<platform::MessageRequest> asked_;
  platform::ScopedMessageHandler scope_;
};

// Answers the file dialogs with the next queued path ("" for Cancel).
class ScriptedFiles : public FileChooser {
 public:
  explicit ScriptedFiles(QStringList* paths) : paths_(paths) {}
  QString OpenFile(QWidget*, const QString&, const QString& filter, const QString& start) override {
    filters.append(filter);
    starts.append(start);
    return paths_->isEmpty() ? QString() : paths_->takeFirst();
  }
  QString SaveFile(QWidget*, const QString&, const QString& filter, const QString& start) override {
    filters.append(filter);
    starts.append(start);
    return paths_->isEmpty() ? QString() : paths_->takeFirst();
  }
  QStringList filters;
  // Where each dialog was to open.
  QStringList starts;

 private:
  QStringList* paths_;
};

template <typename T>
T* Find(QWidget* root, const char* name) {
  T* found = root->findChild<T*>(QString::fromLatin1(name));
  if (!found) qWarning("no child %s", name);
  return found;
}

// A main window on a program folder of its own, with scripted message boxes
// and file dialogs: the window tests' common ground. NewFolder in a test's
// init, Open in the case, Reset in its cleanup.
class WindowFixture {
 protected:
  void NewFolder() { folder_ = std::make_unique<ProgramFolder>(); }
  MainWindow* Open() {
    boxes_ = std::make_unique<ScriptedBoxes>();
    window_ = std::make_unique<MainWindow>();
    auto files = std::make_unique<ScriptedFiles>(&file_answers_);
    files_ = files.get();
    window_->SetFileChooser(std::move(files));
    window_->Start();
    window_->show();
    return window_.get();
  }
  void Reset() {
    window_.reset();
    boxes_.reset();
    folder_.reset();
    file_answers_.clear();
  }
  template <typename T>
  T* W(const char* name) {
    return Find<T>(window_.get(), name);
  }

  std::unique_ptr<ProgramFolder> folder_;
  std::unique_ptr<ScriptedBoxes> boxes_;
  std::unique_ptr<MainWindow> window_;
  // The answers the file dialogs give, in order.
  QStringList file_answers_;
  ScriptedFiles* files_ = nullptr;
};

// The modal dialog on top, once it shows.
template <typename T>
T* ActiveDialog() {
  return qobject_cast<T*>(QApplication::activeModalWidget());
}

}  // namespace romsmith::gui::testing
