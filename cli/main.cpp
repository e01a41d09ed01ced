// romsmith-cli: one flash command, or one file conversion, per call; or a
// batch of them on the targets of a station file.
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/batch.h"
#include "cli/cli_app.h"
#include "cli/interrupt.h"
#include "cli/options.h"
#include "cli/run_record.h"
#include "cli/station.h"

int main(int argc, char** argv) {
  using namespace romsmith;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  // A reader that goes away (a pipe closed early) is a write error, not the
  // end of the process.
  signal(SIGPIPE, SIG_IGN);
  if (IsBatchCommandLine(arguments)) {
    InstallInterruptHandler();
    return RunBatch(arguments, ProcessStreams());
  }
  const CliParseResult parsed = ParseCommandLine(arguments);
  if (!parsed.ok) {
    std::fprintf(stderr, "%s\n%s\n", parsed.error.c_str(), kCliTryHelp);
    if (std::find(arguments.begin(), arguments.end(), "--json") != arguments.end()) {
      RunRecord record;
      record.exit_status = kExitUsage;
      record.messages.push_back({LineKind::kError, parsed.error});
      std::fputs((RecordJson(record).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n").c_str(),
                 stdout);
    }
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
  if (parsed.options.list_settings) {
    for (const std::string& name : KnownSettingNames()) std::printf("%s\n", name.c_str());
    return kExitSucceeded;
  }
  InstallInterruptHandler();
  return RunCli(parsed.options, ProcessStreams());
}
