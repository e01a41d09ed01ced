// The busy animation beside the progress bar: a ring of dots that turns
// while a command runs and is empty otherwise. Drawn in the desktop's text
// colour.
#pragma once

#include <QTimer>
#include <QWidget>

namespace romsmith::gui {

class BusyIndicator : public QWidget {
  Q_OBJECT

 public:
  explicit BusyIndicator(QWidget* parent = nullptr);

  void Start();
  void Stop();
  bool running() const { return timer_.isActive(); }
  int frame() const { return frame_; }

  QSize sizeHint() const override { return {20, 20}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  static constexpr int kDots = 8;
  QTimer timer_;
  int frame_ = 0;
};

}  // namespace romsmith::gui
