// romsmith-screenshots: opens the desktop program's window on the program
// directory it is given, walks through the pages and dialogs as a user
// would, and saves a picture of each, plus one of a Program run in progress
// on the virtual board; with "nand" it runs Check Block on a NAND board and
// pictures the bad-block list. tools/screenshots.sh runs it under Xvfb.
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <string>
#include <functional>

#include "app/about_dialogs.h"
#include "app/help_window.h"
#include "app/configuration_dialog.h"
#include "app/file_chooser.h"
#include "app/main_window.h"
#include "app/message_boxes.h"
#include "app/option_dialog.h"
#include "platform/paths.h"

namespace {

using namespace romsmith::gui;

// Answers the File menu's dialog with one path.
class OnePath : public FileChooser {
 public:
  explicit OnePath(QString path) : path_(std::move(path)) {}
  QString OpenFile(QWidget*, const QString&, const QString&, const QString&) override { return path_; }
  QString SaveFile(QWidget*, const QString&, const QString&, const QString&) override { return path_; }

 private:
  QString path_;
};

void Settle(int ms = 150) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool Save(QWidget* widget, const QDir& out, const QString& name, int settle_ms = 150) {
  Settle(settle_ms);
  const QString path = out.filePath(name + ".png");
  const bool saved = widget->grab().save(path);
  std::printf("%s %s\n", saved ? "saved" : "FAILED", qPrintable(path));
  return saved;
}

template <typename T>
T* Child(QWidget* root, const char* name) {
  return root->findChild<T*>(QString::fromLatin1(name));
}

// Clicks a command button and serves the window until the command has
// ended (two minutes at most).
void RunCommand(MainWindow& window, const char* button) {
  bool finished = false;
  const QMetaObject::Connection connection =
      QObject::connect(&window, &MainWindow::commandFinished, [&] { finished = true; });
  Child<QPushButton>(&window, button)->click();
  QElapsedTimer waited;
  waited.start();
  while (!finished && waited.elapsed() < 120000) QApplication::processEvents(QEventLoop::AllEvents, 20);
  QObject::disconnect(connection);
}

// Check Block over the first twelve blocks of the NAND board: the window
// with its result line, and the bad-block list.
bool CheckBlockTour(MainWindow& window, const QDir& out) {
  bool ok = true;
  Child<QAction>(&window, "openAction")->trigger();
  auto* tabs = Child<QTabWidget>(&window, "pageTabs");
  tabs->setCurrentIndex(2);
  Child<QLineEdit>(Child<QWidget>(&window, "flashPage"), "sectorFromEdit")->setText("1");
  Child<QLineEdit>(Child<QWidget>(&window, "flashPage"), "sectorToEdit")->setText("12");
  tabs->setCurrentIndex(0);
  RunCommand(window, "protectButton");
  auto* list = Child<QWidget>(&window, "badBlockWindow");
  if (!list) {
    std::fprintf(stderr, "Check Block showed no bad-block list\n");
    return false;
  }
  list->move(window.geometry().topRight() + QPoint(16, 0));
  ok &= Save(&window, out, "16-check-block-finished");
  ok &= Save(list, out, "17-bad-block-list");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Romsmith");
  QApplication::setApplicationVersion(ROMSMITH_VERSION);
  if (argc < 3) {
    std::fprintf(stderr, "usage: romsmith-screenshots PROGRAM_DIR OUTPUT_DIR [nand]\n");
    return 2;
  }
  const bool nand = argc > 3 && std::string(argv[3]) == "nand";
  platform::SetProgramDirectory(std::filesystem::absolute(argv[1]));
  const QDir program(QString::fromLocal8Bit(argv[1]));
  QDir out(QString::fromLocal8Bit(argv[2]));
  out.mkpath(".");
  bool ok = true;

  MainWindow window;
  QtMessageBoxes boxes(&window);
  window.SetFileChooser(std::make_unique<OnePath>(program.filePath(
      nand ? "examples/s3c2410-nand-k9f1208u0b.cfg" : "examples/s3c44b0x-am29lv160db.cfg")));
  window.Start();
  window.resize(900, 580);
  window.show();
  if (nand) return CheckBlockTour(window, out) ? 0 : 1;
  ok &= Save(&window, out, "01-main-window-empty");

  Child<QAction>(&window, "openAction")->trigger();
  auto* tabs = Child<QTabWidget>(&window, "pageTabs");
  Child<QLineEdit>(&window, "programFileEdit")->setText(program.filePath("examples/demo.bin"));
  Child<QLineEdit>(&window, "uploadFileEdit")->setText(QDir::temp().filePath("romsmith-upload.bin"));
  tabs->setCurrentIndex(1);
  ok &= Save(&window, out, "03-cpu-page");
  tabs->setCurrentIndex(2);
  Child<QLineEdit>(Child<QWidget>(&window, "flashPage"), "sectorFromEdit")->setText("1");
  Child<QLineEdit>(Child<QWidget>(&window, "flashPage"), "sectorToEdit")->setText("4");
  ok &= Save(&window, out, "04-flash-page");
  tabs->setCurrentIndex(0);
  ok &= Save(&window, out, "02-program-page");

  // The window as small as its layout lets it be, and large.
  const QSize size = window.size();
  window.resize(window.minimumSizeHint());
  ok &= Save(&window, out, "10-main-window-smallest");
  tabs->setCurrentIndex(1);
  ok &= Save(&window, out, "11-cpu-page-smallest");
  tabs->setCurrentIndex(2);
  ok &= Save(&window, out, "12-flash-page-smallest");
  window.resize(1280, 900);
  ok &= Save(&window, out, "13-flash-page-large");
  tabs->setCurrentIndex(0);
  window.resize(size);

  {
    ConfigurationDialog dialog(window.workbench().Drivers(),
                               ChoiceFromSettings(window.workbench().settings().remote), &window);
    dialog.show();
    ok &= Save(&dialog, out, "05-configuration-dialog");
  }
  {
    OptionDialog dialog(OptionsFromSettings(window.workbench().settings()), &window);
    dialog.show();
    ok &= Save(&dialog, out, "06-option-dialog");
  }
  {
    AboutDialog dialog(&window);
    dialog.show();
    ok &= Save(&dialog, out, "07-about-box");
  }

  // Program, pictured while it writes, its bar part way.
  auto* progress = Child<QProgressBar>(&window, "progressBar");
  auto* status = Child<QLabel>(&window, "statusLine");
  bool pictured = false;
  QObject::connect(progress, &QProgressBar::valueChanged, [&](int value) {
    if (pictured || !status->text().contains("start program") || value * 3 < progress->maximum() ||
        value >= progress->maximum())
      return;
    pictured = true;
    ok &= Save(&window, out, "08-program-running", 0);
  });
  RunCommand(window, "programButton");
  if (!pictured) {
    std::fprintf(stderr, "the Program run ended before it could be pictured\n");
    ok = false;
  }
  ok &= Save(&window, out, "09-program-finished");

  // The run's messages, and the help in the program's own window (as on a
  // desktop without a browser).
  window.ShowMessageList();
  if (auto* list = Child<QWidget>(&window, "messageListWindow")) ok &= Save(list, out, "14-message-list");
  window.SetUrlOpener([](const QUrl&) { return false; });
  Child<QAction>(&window, "helpContentsAction")->trigger();
  if (auto* help = Child<QWidget>(&window, "helpWindow")) ok &= Save(help, out, "15-help-window", 400);
  return ok ? 0 : 1;
}
