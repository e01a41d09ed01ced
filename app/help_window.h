// The program's own help viewer, for a desktop that has no browser to hand
// the help pages to: a browser widget over the same pages, with Back,
// Forward and Contents (the start page). Links out of the help go to the
// desktop's opener.
#pragma once

#include <QTextBrowser>
#include <QWidget>

namespace romsmith::gui {

class HelpWindow : public QWidget {
  Q_OBJECT

 public:
  explicit HelpWindow(QWidget* parent = nullptr);

  // Shows `page` (a local HTML file), raised and active.
  void ShowPage(const QString& page);
  QTextBrowser* browser() const { return browser_; }

 private:
  QTextBrowser* browser_;
  QString start_page_;
};

}  // namespace romsmith::gui
