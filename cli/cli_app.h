// One run of romsmith-cli after its arguments were read: the set-up (program
// directory, board file, settings with their overrides, databases, target
// configuration), the command, and the exit status.
#pragma once

#include "cli/options.h"
#include "cli/terminal_frontend.h"

namespace romsmith {

// Runs the command; returns the exit status (kExitSucceeded ... kExitStopped).
// Usage and set-up errors of its own go to streams.err as one
// "romsmith-cli: ..." line. Ctrl-C is read from InterruptCount().
int RunCli(const CliOptions& options, const TerminalStreams& streams);

}  // namespace romsmith
