// The one-line status text under the progress bar: its own text and
// background colours, either of which can blink between two colours on a
// timer. The message log shows its lines here, red for an error and blue
// otherwise, blinking against black when a line asks for it. The line keeps
// what it has shown in this run, the message list; a click on it asks for
// that list.
#pragma once

#include <QColor>
#include <QLabel>
#include <QList>
#include <QTimer>

namespace romsmith::gui {

class StatusLine : public QLabel {
  Q_OBJECT

 public:
  explicit StatusLine(QWidget* parent = nullptr);

  // Blink rates: 0 every 2000 ms, 1 every 1000 ms, 2 every 500 ms, any other
  // value that many milliseconds.
  static int BlinkIntervalMs(int rate);

  // Steady colours; an invalid colour keeps the desktop's own.
  void SetTextColor(const QColor& color);
  void SetBackgroundColor(const QColor& color);
  // Blinking between the steady colour and `second`; blinking off shows the
  // steady colour again.
  void SetTextBlink(bool on, const QColor& second = Qt::black, int rate = 1);
  void SetBackgroundBlink(bool on, const QColor& second = Qt::black, int rate = 1);

  // A message line: "\n" at its end dropped, red (0x0000FF as the system
  // stores colours, i.e. pure red) for an error, blue otherwise, blinking at
  // rate 1 when asked.
  void ShowLine(const QString& text, bool error, bool blink);

  struct Message {
    QString text;  // without its line break
    bool error = false;
  };
  // The lines shown so far, oldest first, at most kMessageListSize. A
  // loader's waiting line ("..., waiting 3 s", no line break) takes the
  // place of the waiting line before it.
  const QList<Message>& messages() const { return messages_; }
  static constexpr int kMessageListSize = 2000;

  bool text_blinking() const { return text_blink_.on; }
  // True while a blinking colour shows its second colour.
  bool in_second_state() const { return second_state_; }
  QColor shown_text_color() const;
  int blink_interval_ms() const { return timer_.interval(); }

 signals:
  // Each blink step in which a blinking colour shows its second colour.
  void blinkStep();
  // The message list changed: a line was added at its end, or the last
  // line was replaced (`replaced`); the oldest lines may have gone.
  void messageAdded(bool replaced);
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  struct Blink {
    bool on = false;
    QColor second;
    int interval = 1000;
  };
  void Restart();
  void Step();
  void Apply();

  QColor text_color_;
  QColor background_color_;
  Blink text_blink_;
  Blink background_blink_;
  bool second_state_ = false;
  QTimer timer_;
  QList<Message> messages_;
  bool last_was_waiting_ = false;
};

}  // namespace romsmith::gui
