#include "app/start_arguments.h"

namespace romsmith::gui {

StartArguments ParseStartArguments(const QStringList& arguments) {
  StartArguments parsed;
  for (int i = 1; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (argument == "--help" || argument == "-h") return {StartArguments::Action::kHelp, {}, {}};
    if (argument == "--version") return {StartArguments::Action::kVersion, {}, {}};
  }
  bool options_end = false;
  for (int i = 1; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (!options_end && argument == "--") {
      options_end = true;
    } else if (!options_end && argument.startsWith('-') && argument.size() > 1) {
      parsed.action = StartArguments::Action::kError;
      parsed.error = QString("unknown option '%1'").arg(argument);
      return parsed;
    } else if (parsed.config_file.isEmpty()) {
      parsed.config_file = argument;
    } else {
      parsed.action = StartArguments::Action::kError;
      parsed.error = "one target configuration at most";
      return parsed;
    }
  }
  return parsed;
}

QString StartUsageText() {
  return "Usage: romsmith [CONFIG.cfg]\n"
         "       romsmith --help | --version\n"
         "\n"
         "Opens the Romsmith window, which programs, erases, verifies and reads back\n"
         "the flash of ARM7 and ARM9 boards over JTAG. CONFIG.cfg, a target\n"
         "configuration, is opened at start; when the window already runs, it opens\n"
         "the configuration there.\n"
         "\n"
         "  -h, --help     print this text and exit\n"
         "      --version  print the version and exit\n"
         "\n"
         "romsmith-cli runs the same commands without a window; see romsmith(1) and\n"
         "romsmith-cli(1).\n";
}

QString StartVersionText(const QString& version) { return "romsmith " + version + "\n"; }

}  // namespace romsmith::gui
