#include "app/status_line.h"

#include <QMouseEvent>

#include <algorithm>

namespace romsmith::gui {

StatusLine::StatusLine(QWidget* parent) : QLabel(parent) {
  setObjectName("statusLine");
  setTextFormat(Qt::PlainText);
  setMinimumWidth(50);
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  setToolTip(tr("Click for every message of this run"));
  setCursor(Qt::PointingHandCursor);
  connect(&timer_, &QTimer::timeout, this, &StatusLine::Step);
}

int StatusLine::BlinkIntervalMs(int rate) {
  switch (rate) {
    case 0:
      return 2000;
    case 1:
      return 1000;
    case 2:
      return 500;
    default:
      return std::max(rate, 1);
  }
}

void StatusLine::SetTextColor(const QColor& color) {
  text_color_ = color;
  Apply();
}

void StatusLine::SetBackgroundColor(const QColor& color) {
  background_color_ = color;
  Apply();
}

void StatusLine::SetTextBlink(bool on, const QColor& second, int rate) {
  text_blink_ = {on, second, BlinkIntervalMs(rate)};
  Restart();
}

void StatusLine::SetBackgroundBlink(bool on, const QColor& second, int rate) {
  background_blink_ = {on, second, BlinkIntervalMs(rate)};
  Restart();
}

void StatusLine::ShowLine(const QString& text, bool error, bool blink) {
  QString line = text;
  const bool waiting = !line.endsWith('\n');
  while (line.endsWith('\n') || line.endsWith('\r')) line.chop(1);
  setText(line);
  const bool replaced = waiting && last_was_waiting_ && !messages_.isEmpty();
  if (replaced) {
    messages_.last() = {line, error};
  } else {
    messages_.append({line, error});
    if (messages_.size() > kMessageListSize) messages_.removeFirst();
  }
  last_was_waiting_ = waiting;
  emit messageAdded(replaced);
  SetTextColor(error ? QColor(255, 0, 0) : QColor(0, 0, 255));
  SetTextBlink(blink, Qt::black, 1);
}

void StatusLine::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit clicked();
  QLabel::mousePressEvent(event);
}

QColor StatusLine::shown_text_color() const {
  if (text_blink_.on && second_state_) return text_blink_.second;
  return text_color_.isValid() ? text_color_ : palette().color(QPalette::WindowText);
}

void StatusLine::Restart() {
  second_state_ = false;
  timer_.stop();
  // One timer serves both colours; the text's rate wins when both blink.
  if (text_blink_.on) {
    timer_.start(text_blink_.interval);
  } else if (background_blink_.on) {
    timer_.start(background_blink_.interval);
  }
  Apply();
}

void StatusLine::Step() {
  second_state_ = !second_state_;
  Apply();
  if (second_state_) emit blinkStep();
}

void StatusLine::Apply() {
  QPalette colours = palette();
  const QPalette defaults = parentWidget() ? parentWidget()->palette() : QPalette();
  colours.setColor(QPalette::WindowText,
                   text_color_.isValid() ? shown_text_color() : defaults.color(QPalette::WindowText));
  const bool background_second = background_blink_.on && second_state_;
  if (background_color_.isValid() || background_second) {
    colours.setColor(QPalette::Window,
                     background_second ? background_blink_.second : background_color_);
    setAutoFillBackground(true);
  } else {
    setAutoFillBackground(false);
  }
  setPalette(colours);
}

}  // namespace romsmith::gui
