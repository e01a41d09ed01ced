// The progress bar as a command's worker drives it. A body steps the bar
// once a block, up to a thousand times a second, and every change of a
// QProgressBar's value repaints it at once; done one by one, each a blocking
// call, the window thread would spend the command painting and the worker
// would wait for it at every step. So positions from the worker are
// coalesced: the bar shows the latest one at most once every `interval`,
// without the worker waiting. The ends of the range (the start and the
// finished bar) are shown at once and in order with the worker's other
// calls, so a finished command's full bar is always seen.
//
// Lives on the window's thread; SetRange, SetPosition and Step may be called
// from one worker thread at a time (or from the window's thread).
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>

#include <atomic>

namespace romsmith::gui {

class ProgressPacer : public QObject {
  Q_OBJECT

 public:
  ProgressPacer(QProgressBar* bar, int interval_ms, QObject* parent = nullptr);

  void SetRange(int low, int high);
  void SetPosition(int position);
  // One more than the last position, at most the end of the range.
  void Step();

 private:
  void Show(int position);
  // On the window's thread: the latest position onto the bar, or later when
  // the bar was changed less than an interval ago.
  void Refresh();

  QPointer<QProgressBar> bar_;
  const int interval_ms_;
  QTimer later_;
  QElapsedTimer since_shown_;
  // The worker's side: the range it set and the position it wants shown.
  int low_ = 0;
  int high_ = 0;
  std::atomic<int> wanted_{0};
  // A refresh is on its way to the window's thread.
  std::atomic<bool> refresh_pending_{false};
};

}  // namespace romsmith::gui
