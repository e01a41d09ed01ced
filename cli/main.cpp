// romsmith-cli: one flash command, or one file conversion, per call.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_app.h"
#include "cli/interrupt.h"
#include "cli/options.h"

int main(int argc, char** argv) {
  using namespace romsmith;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const CliParseResult parsed = ParseCommandLine(arguments);
  if (!parsed.ok) {
    std::fprintf(stderr, "%s\n%s\n", parsed.error.c_str(), kCliTryHelp);
    return kExitUsage;
  }
  if (parsed.options.help) {
    std::fputs(CliHelpText().c_str(), stdout);
    return kExitSucceeded;
  }
  if (parsed.options.version) {
    std::fputs(CliVersionText().c_str(), stdout);
    return kExitSucceeded;
  }
  InstallInterruptHandler();
  return RunCli(parsed.options, ProcessStreams());
}
