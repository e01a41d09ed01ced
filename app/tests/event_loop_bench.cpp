// How long the window's event loop can be kept from running while commands
// run on the virtual board: Upload of the whole 2 MB flash and Program of the
// demo image, started through the buttons under the offscreen platform. A
// 1 ms timer ticks throughout; the gaps between two ticks are how long the
// window could not have answered the user. Each run prints the longest gap
// and the 99th percentile, and, to tell our own work from a busy machine,
// the window thread's CPU time inside the longest gap and the longest single
// event it handled. `gui_event_loop_bench N` repeats the runs N times.
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/tests/gui_test_support.h"

using namespace romsmith;
using namespace romsmith::gui;
using namespace romsmith::gui::testing;

namespace {

qint64 ThreadCpuNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// How long the thread that made it has waited for a CPU while it could
// have run (the scheduler's own figure; 0 where the kernel does not keep
// it). Opened once: the meter reads it at every tick.
class RunDelay {
 public:
  RunDelay() : fd_(open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC)) {}
  ~RunDelay() {
    if (fd_ >= 0) close(fd_);
  }
  RunDelay(const RunDelay&) = delete;
  RunDelay& operator=(const RunDelay&) = delete;

  qint64 Nanoseconds() const {
    char text[128];
    const ssize_t length = fd_ >= 0 ? pread(fd_, text, sizeof text - 1, 0) : -1;
    if (length <= 0) return 0;
    text[length] = '\0';
    unsigned long long on_cpu = 0, waiting = 0;
    if (std::sscanf(text, "%llu %llu", &on_cpu, &waiting) != 2) return 0;
    return static_cast<qint64>(waiting);
  }

 private:
  int fd_;
};

std::string LoadAverage() {
  std::ifstream file("/proc/loadavg");
  std::string one, five, fifteen;
  file >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

// Times every event the window thread delivers, so that a long gap can be
// put down to the handler that took it.
class TimedApplication : public QApplication {
 public:
  using QApplication::QApplication;

  bool notify(QObject* receiver, QEvent* event) override {
    if (QThread::currentThread() != thread()) return QApplication::notify(receiver, event);
    const int type = event->type();
    const char* receiver_class = receiver->metaObject()->className();
    const QString receiver_name = receiver->objectName();
    ++depth_;
    const qint64 start = clock_.nsecsElapsed();
    const qint64 start_cpu = ThreadCpuNanoseconds();
    const bool handled = QApplication::notify(receiver, event);
    const qint64 took = clock_.nsecsElapsed() - start;
    const qint64 took_cpu = ThreadCpuNanoseconds() - start_cpu;
    --depth_;
    // Nested deliveries are inside their outer one; the outer counts.
    if (depth_ == 0) {
      const QString what =
          QString("event %1 to %2 \"%3\"").arg(type).arg(receiver_class, receiver_name);
      if (took > longest_event) {
        longest_event = took;
        longest_event_text = what;
      }
      if (took_cpu > longest_event_cpu) {
        longest_event_cpu = took_cpu;
        longest_event_cpu_text = what;
      }
      EventTotal& total = totals[QString("event %1 to %2").arg(type).arg(receiver_class)];
      ++total.count;
      total.cpu += took_cpu;
    }
    return handled;
  }

  void ResetEvents() {
    clock_.start();
    longest_event = longest_event_cpu = 0;
    longest_event_text.clear();
    longest_event_cpu_text.clear();
    totals.clear();
  }

  struct EventTotal {
    long count = 0;
    qint64 cpu = 0;
  };
  qint64 longest_event = 0;
  QString longest_event_text;
  qint64 longest_event_cpu = 0;
  QString longest_event_cpu_text;
  std::map<QString, EventTotal> totals;

 private:
  QElapsedTimer clock_;
  int depth_ = 0;
};

// The intervals between the ticks of a 1 ms timer on the window thread.
class GapMeter {
 public:
  GapMeter() {
    ticker_.setTimerType(Qt::PreciseTimer);
    ticker_.setInterval(1);
    QObject::connect(&ticker_, &QTimer::timeout, [this] { Tick(); });
  }

  void Start() {
    gaps_.clear();
    longest_ = 0;
    longest_cpu_ = longest_wait_ = 0;
    clock_.start();
    last_tick_ = clock_.nsecsElapsed();
    last_cpu_ = ThreadCpuNanoseconds();
    last_wait_ = run_delay_.Nanoseconds();
    ticker_.start();
  }
  void Stop() { ticker_.stop(); }

  qint64 longest() const { return longest_; }
  qint64 longest_cpu() const { return longest_cpu_; }
  qint64 longest_wait() const { return longest_wait_; }
  std::size_t ticks() const { return gaps_.size(); }
  qint64 Percentile(double fraction) const {
    if (gaps_.empty()) return 0;
    std::vector<qint64> sorted = gaps_;
    const std::size_t index =
        std::min(sorted.size() - 1, static_cast<std::size_t>(fraction * sorted.size()));
    std::nth_element(sorted.begin(), sorted.begin() + index, sorted.end());
    return sorted[index];
  }

 private:
  void Tick() {
    const qint64 now = clock_.nsecsElapsed();
    const qint64 cpu = ThreadCpuNanoseconds();
    const qint64 wait = run_delay_.Nanoseconds();
    const qint64 gap = now - last_tick_;
    gaps_.push_back(gap);
    if (gap > longest_) {
      longest_ = gap;
      longest_cpu_ = cpu - last_cpu_;
      longest_wait_ = wait - last_wait_;
    }
    last_tick_ = now;
    last_cpu_ = cpu;
    last_wait_ = wait;
  }

  QTimer ticker_;
  RunDelay run_delay_;  // of the window thread, which makes the meter
  QElapsedTimer clock_;
  qint64 last_tick_ = 0;
  qint64 last_cpu_ = 0;
  qint64 last_wait_ = 0;
  qint64 longest_ = 0;
  qint64 longest_cpu_ = 0;
  qint64 longest_wait_ = 0;
  std::vector<qint64> gaps_;
};

struct Run {
  const char* name;
  const char* button;
  int first_sector;
  int last_sector;
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  TimedApplication app(argc, argv);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
  const bool detail = argc > 2 && std::string(argv[2]) == "detail";
  ProgramFolder folder;
  ScriptedBoxes boxes;  // overwrite questions: yes
  QStringList answers{folder.Example("s3c44b0x-am29lv160db.cfg")};
  MainWindow window;
  window.SetFileChooser(std::make_unique<ScriptedFiles>(&answers));
  window.Start();
  window.show();
  // The window's first paint is the start-up's, not a command's.
  QElapsedTimer shown;
  shown.start();
  while (!(window.windowHandle() && window.windowHandle()->isExposed()) && shown.elapsed() < 5000)
    app.processEvents(QEventLoop::AllEvents, 10);
  app.processEvents();
  window.findChild<QAction*>("openAction")->trigger();
  window.findChild<QLineEdit*>("programFileEdit")->setText(SourceDir() + "/data/examples/demo.bin");
  window.findChild<QLineEdit*>("uploadFileEdit")->setText(folder.RootPath("upload.bin"));

  const Run runs[] = {{"upload 2 MB", "uploadButton", 1, 35},
                      {"program demo.bin (48 KiB, erase + verify)", "programButton", 1, 4}};
  GapMeter meter;
  int status = 0;
  for (int round = 0; round < rounds; ++round) {
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
      const std::string load_before = LoadAverage();
      QElapsedTimer clock;
      clock.start();
      app.ResetEvents();
      meter.Start();
      // The click runs the command's start on this thread: the entry checks
      // and the configuration snapshot.
      const qint64 click_cpu = ThreadCpuNanoseconds();
      window.findChild<QPushButton*>(run.button)->click();
      const double click_ms = (ThreadCpuNanoseconds() - click_cpu) / 1e6;
      while (!finished && clock.elapsed() < 120000)
        app.processEvents(QEventLoop::WaitForMoreEvents, 50);
      meter.Stop();
      QObject::disconnect(done);
      std::printf(
          "%-42s %s in %.2f s, %zu ticks; event-loop gap: longest %.1f ms (window thread on a "
          "CPU %.1f ms, waiting for one %.1f ms), 99th percentile %.1f ms; longest event %.1f "
          "ms (%s); load %s\n",
          run.name, outcome == CommandOutcome::kSucceeded ? "succeeded" : "did NOT succeed",
          clock.nsecsElapsed() / 1e9, meter.ticks(), meter.longest() / 1e6,
          meter.longest_cpu() / 1e6, meter.longest_wait() / 1e6, meter.Percentile(0.99) / 1e6, app.longest_event / 1e6,
          qPrintable(app.longest_event_text), load_before.c_str());
      if (detail) {
        std::printf("  the click took %.2f ms CPU\n", click_ms);
        std::printf("  most CPU in one event %.2f ms (%s)\n", app.longest_event_cpu / 1e6,
                    qPrintable(app.longest_event_cpu_text));
        for (const auto& [what, total] : app.totals)
          std::printf("  %-60s %7ld x, %8.1f ms CPU\n", qPrintable(what), total.count,
                      total.cpu / 1e6);
      }
      std::fflush(stdout);
      if (outcome != CommandOutcome::kSucceeded) status = 1;
    }
  }
  return status;
}
