#include "app/busy_indicator.h"

#include <QPainter>
#include <QtMath>

namespace romsmith::gui {

BusyIndicator::BusyIndicator(QWidget* parent) : QWidget(parent) {
  setObjectName("busyAnimation");
  setFixedSize(20, 20);
  timer_.setInterval(100);
  connect(&timer_, &QTimer::timeout, this, [this] {
    frame_ = (frame_ + 1) % kDots;
    update();
  });
}

void BusyIndicator::Start() {
  frame_ = 0;
  timer_.start();
  update();
}

void BusyIndicator::Stop() {
  timer_.stop();
  update();
}

void BusyIndicator::paintEvent(QPaintEvent*) {
  if (!running()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  const QColor base = palette().color(QPalette::WindowText);
  const QPointF centre(width() / 2.0, height() / 2.0);
  const qreal radius = qMin(width(), height()) / 2.0 - 3.0;
  for (int i = 0; i < kDots; ++i) {
    // The dot at the current frame is the strongest; the ones behind it fade.
    const int age = (frame_ - i + kDots) % kDots;
    QColor colour = base;
    colour.setAlphaF(1.0 - age / static_cast<qreal>(kDots));
    painter.setBrush(colour);
    const qreal angle = 2 * M_PI * i / kDots - M_PI / 2;
    painter.drawEllipse(centre + QPointF(radius * qCos(angle), radius * qSin(angle)), 2.0, 2.0);
  }
}

}  // namespace romsmith::gui
