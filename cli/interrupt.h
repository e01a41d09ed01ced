// Ctrl-C for romsmith-cli: the first one asks the running command to stop
// (the caller polls the count and signals the stop event), the second ends
// the process at once with the stopped status.
#pragma once

namespace romsmith {

inline constexpr int kExitSucceeded = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitStopped = 3;

// Installs the SIGINT handler.
void InstallInterruptHandler();
// How many SIGINTs arrived since the handler was installed.
int InterruptCount();

}  // namespace romsmith
