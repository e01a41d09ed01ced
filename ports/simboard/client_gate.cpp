#include "ports/simboard/client_gate.h"

#include <linux/membarrier.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

namespace simboard {

namespace {

bool Membarrier(int command) { return ::syscall(__NR_membarrier, command, 0, 0) == 0; }

}  // namespace

// The expedited barrier must be registered before use; without it every
// access locks.
ClientGate::ClientGate() : fast_(Membarrier(MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED)) {}

void ClientGate::TakeOver(std::uint64_t me) {
  handoff_.store(true, std::memory_order_relaxed);
  // Registered at construction, the expedited barrier does not fail; should
  // it ever, it is tried again rather than skipped.
  for (int attempt = 0; attempt < 1000 && !Membarrier(MEMBARRIER_CMD_PRIVATE_EXPEDITED); ++attempt) {
    std::this_thread::yield();
  }
  // The old owner's access in flight, if any, is a handful of port
  // operations long.
  while (in_access_.load(std::memory_order_acquire)) std::this_thread::yield();
  owner_.store(me, std::memory_order_relaxed);
  handoff_.store(false, std::memory_order_release);
  handoffs_.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace simboard
