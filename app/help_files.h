// Help > Contents: which help page to open. The program directory holds the
// help in two languages; Chinese desktops get the Chinese pages, every other
// the English ones.
#pragma once

#include <QLocale>
#include <QString>

namespace romsmith::gui {

// The start page of the help for `locale`, under `program_directory`.
QString HelpStartPage(const QString& program_directory, const QLocale& locale);

}  // namespace romsmith::gui
