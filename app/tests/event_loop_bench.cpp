// How long the window's event loop can be kept from running while commands
// run on the virtual board: Upload of the whole 2 MB flash and Program of the
// demo image, started through the buttons under the offscreen platform. A
// 1 ms timer ticks throughout; the longest gap between two ticks is the
// longest time the window could not have answered the user.
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <cstdio>

#include "app/main_window.h"
#include "app/tests/gui_test_support.h"

using namespace romsmith;
using namespace romsmith::gui;
using namespace romsmith::gui::testing;

namespace {

struct Run {
  const char* name;
  const char* button;
  int first_sector;
  int last_sector;
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ProgramFolder folder;
  ScriptedBoxes boxes;  // overwrite questions: yes
  QStringList answers{folder.Example("s3c44b0x-am29lv160db.cfg")};
  MainWindow window;
  window.SetFileChooser(std::make_unique<ScriptedFiles>(&answers));
  window.Start();
  window.show();
  window.findChild<QAction*>("openAction")->trigger();
  window.findChild<QLineEdit*>("programFileEdit")->setText(SourceDir() + "/data/examples/demo.bin");
  window.findChild<QLineEdit*>("uploadFileEdit")->setText(folder.RootPath("upload.bin"));

  QElapsedTimer clock;
  qint64 last_tick = 0;
  qint64 longest_gap = 0;
  long ticks = 0;
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  ticker.setInterval(1);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    longest_gap = std::max(longest_gap, now - last_tick);
    last_tick = now;
    ++ticks;
  });

  const Run runs[] = {{"upload 2 MB", "uploadButton", 1, 35},
                      {"program demo.bin (48 KiB, erase + verify)", "programButton", 1, 4}};
  int status = 0;
  for (const Run& run : runs) {
    auto* tabs = window.findChild<QTabWidget*>("pageTabs");
    tabs->setCurrentIndex(2);
    QWidget* flash = window.findChild<QWidget*>("flashPage");
    flash->findChild<QLineEdit*>("sectorFromEdit")->setText(QString::number(run.first_sector));
    flash->findChild<QLineEdit*>("sectorToEdit")->setText(QString::number(run.last_sector));
    tabs->setCurrentIndex(0);

    bool finished = false;
    CommandOutcome outcome = CommandOutcome::kNone;
    const QMetaObject::Connection done =
        QObject::connect(&window, &MainWindow::commandFinished, [&](CommandOutcome o) {
          finished = true;
          outcome = o;
        });
    longest_gap = 0;
    ticks = 0;
    clock.start();
    last_tick = clock.nsecsElapsed();
    ticker.start();
    window.findChild<QPushButton*>(run.button)->click();
    while (!finished && clock.elapsed() < 120000) app.processEvents(QEventLoop::WaitForMoreEvents, 50);
    ticker.stop();
    QObject::disconnect(done);
    const double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("%-44s %s in %.2f s, %ld ticks, longest event-loop gap %.1f ms\n", run.name,
                outcome == CommandOutcome::kSucceeded ? "succeeded" : "did NOT succeed", seconds,
                ticks, longest_gap / 1e6);
    if (outcome != CommandOutcome::kSucceeded) status = 1;
  }
  return status;
}
