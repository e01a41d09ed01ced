#include "cli/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace romsmith {
namespace {

std::atomic<int> interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnInterrupt(int) {
  if (interrupts.fetch_add(1) >= 1) {
    // Only async-signal-safe calls here.
    static const char kLine[] = "\nInfo: stopped at once.\n";
    const ssize_t ignored = write(STDERR_FILENO, kLine, sizeof kLine - 1);
    (void)ignored;
    _exit(kExitStopped);
  }
}

}  // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  // A terminal closed (SIGHUP) or a supervisor's request to end (SIGTERM)
  // stops the command as Ctrl-C does, so it ends at its next stop check and
  // removes its temporary files on the way out.
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal_number, &action, nullptr);
}

int InterruptCount() { return interrupts.load(); }

}  // namespace romsmith
