#include "app/help_files.h"

#include <QDir>

namespace romsmith::gui {

QString HelpStartPage(const QString& program_directory, const QLocale& locale) {
  const bool chinese = locale.language() == QLocale::Chinese;
  return QDir(program_directory).filePath(chinese ? "help/zh/index.html" : "help/en/index.html");
}

}  // namespace romsmith::gui
