// The desktop program's command line: `romsmith [CONFIG.cfg]`, or --help and
// --version, which print and end before any window (or display) is opened.
#pragma once

#include <QString>
#include <QStringList>

namespace romsmith::gui {

struct StartArguments {
  enum class Action { kRun, kHelp, kVersion, kError };
  Action action = Action::kRun;
  // A target configuration to open at start (the desktop entry's %f).
  QString config_file;
  // For kError: what was wrong, one line.
  QString error;
};

// `arguments` as the program got them, the program's name first. --help and
// --version win over anything else; the toolkit's own options must have
// been taken out before (QApplication does) for kError to be right.
StartArguments ParseStartArguments(const QStringList& arguments);

// What --help and --version print.
QString StartUsageText();
QString StartVersionText(const QString& version);

}  // namespace romsmith::gui
