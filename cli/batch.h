// romsmith-cli batch: the same commands on every target of a station file at
// once, each target in romsmith-cli processes of its own (a driver module
// drives one probe per process), so one target's failure, hang or crash
// never reaches another. Ctrl-C stops them all.
#pragma once

#include <string>
#include <vector>

#include "cli/terminal_frontend.h"

namespace romsmith {

// Runs "batch STATION.ini [OPTIONS] COMMAND..."; returns the worst exit
// status of the targets (2 for a usage or set-up error of the batch).
int RunBatch(const std::vector<std::string>& arguments, const TerminalStreams& streams);

}  // namespace romsmith
