#include "app/progress_pacer.h"

#include <algorithm>

#include "app/gui_thread.h"

namespace romsmith::gui {

ProgressPacer::ProgressPacer(QProgressBar* bar, int interval_ms, QObject* parent)
    : QObject(parent), bar_(bar), interval_ms_(interval_ms) {
  low_ = bar->minimum();
  high_ = bar->maximum();
  wanted_ = bar->value();
  later_.setSingleShot(true);
  connect(&later_, &QTimer::timeout, this, &ProgressPacer::Refresh);
}

void ProgressPacer::SetRange(int low, int high) {
  low_ = low;
  high_ = std::max(low, high);
  RunOnGuiThread(this, [&] {
    if (!bar_) return;
    bar_->setRange(low, high);
    // The bar may have moved its value into the new range.
    wanted_ = bar_->value();
  });
}

void ProgressPacer::SetPosition(int position) {
  wanted_ = position;
  if (position <= low_ || position >= high_ || QThread::currentThread() == thread()) {
    Show(position);
    return;
  }
  if (!refresh_pending_.exchange(true))
    QMetaObject::invokeMethod(this, [this] { Refresh(); }, Qt::QueuedConnection);
}

void ProgressPacer::Step() { SetPosition(std::min(wanted_.load() + 1, high_)); }

void ProgressPacer::Show(int position) {
  RunOnGuiThread(this, [&] {
    if (bar_) bar_->setValue(position);
    since_shown_.start();
  });
}

void ProgressPacer::Refresh() {
  if (since_shown_.isValid() && since_shown_.elapsed() < interval_ms_) {
    // Still pending: the timer shows whatever is latest by then.
    if (!later_.isActive()) later_.start(interval_ms_ - static_cast<int>(since_shown_.elapsed()));
    return;
  }
  refresh_pending_ = false;
  if (bar_) bar_->setValue(wanted_.load());
  since_shown_.start();
}

}  // namespace romsmith::gui
