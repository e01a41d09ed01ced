// Two windows beside the main window that list what a run reported, for the
// user to read back and copy: every line the status line has shown (its
// message list), and the bad blocks that the last Check Block found.
// Neither is modal; the main window keeps one of each and raises it again.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "app/status_line.h"
#include "operations/bad_block_summary.h"

namespace romsmith::gui {

// The lines of a StatusLine, oldest first, errors in red, following the
// line as it shows more. Ctrl+C or Copy puts the selected lines (all of
// them when none is selected) on the clipboard, one a line.
class MessageListWindow : public QDialog {
  Q_OBJECT

 public:
  MessageListWindow(const StatusLine& status, QWidget* parent = nullptr);

  // The text Copy puts on the clipboard.
  QString CopyText() const;

 private:
  void Refill();
  void OnMessageAdded(bool replaced);
  static QListWidgetItem* Item(const StatusLine::Message& message);

  const StatusLine& status_;
  QListWidget* list_;
};

// What a check block found: its range and result line, and one row for each
// bad block (the sector number as the Program tab counts sectors). Copy
// puts the selected numbers on the clipboard, or the whole result line when
// none is selected.
class BadBlockWindow : public QDialog {
  Q_OBJECT

 public:
  explicit BadBlockWindow(QWidget* parent = nullptr);

  void Show(const BadBlockSummary& summary);
  QString CopyText() const;

 private:
  QLabel* summary_;
  QListWidget* list_;
  QString summary_text_;
};

}  // namespace romsmith::gui
