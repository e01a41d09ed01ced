// Ctrl-C for romsmith-cli, and SIGTERM and SIGHUP taken the same way: the
// first one asks the running command to stop (the caller polls the count and
// signals the stop event), the second ends the process at once with the
// stopped status (what it leaves in its temporary directory is swept by the
// next run).
#pragma once

namespace romsmith {

inline constexpr int kExitSucceeded = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitStopped = 3;

// Installs the handler of SIGINT, SIGTERM and SIGHUP.
void InstallInterruptHandler();
// How many of them arrived since the handler was installed.
int InterruptCount();

}  // namespace romsmith
