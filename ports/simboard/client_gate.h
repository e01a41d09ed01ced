// One thread at a time through the virtual board's port, without a lock on
// every access. A driver reaches the port from one thread for a whole
// command (its worker thread), so the thread that last came through owns the
// gate and passes with two plain stores and two loads; only a thread that is
// not the owner takes the mutex and moves the ownership to itself, waiting
// for an access in flight to end.
//
// The owner's fast path and a newcomer's hand-off form a Dekker pair: the
// owner stores "in access" then loads "hand-off"; the newcomer stores
// "hand-off" then loads "in access". The owner's side has only a compiler
// barrier; the newcomer's process-wide membarrier() supplies the processor
// barrier on both sides at once. Where the kernel has no membarrier every
// access takes the mutex instead.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace simboard {

class ClientGate {
 public:
  ClientGate();
  ClientGate(const ClientGate&) = delete;
  ClientGate& operator=(const ClientGate&) = delete;

  template <typename Access>
  auto Pass(Access&& access) {
    std::uint64_t me = ThreadTag();
    if (fast_ && owner_.load(std::memory_order_relaxed) == me) {
      in_access_.store(true, std::memory_order_relaxed);
      std::atomic_signal_fence(std::memory_order_seq_cst);
      if (!handoff_.load(std::memory_order_acquire) && owner_.load(std::memory_order_relaxed) == me) {
        struct Leave {
          std::atomic<bool>& flag;
          ~Leave() { flag.store(false, std::memory_order_release); }
        } leave{in_access_};
        return access();
      }
      in_access_.store(false, std::memory_order_release);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (fast_ && owner_.load(std::memory_order_relaxed) != me) TakeOver(me);
    return access();
  }

  // Hand-offs since construction (each one costs a membarrier call).
  std::uint64_t handoffs() const { return handoffs_.load(std::memory_order_relaxed); }
  bool lock_free() const { return fast_; }

 private:
  // The calling thread. A thread-local number would cost a TLS lookup per
  // access inside a loaded library; the thread pointer (what pthread_self
  // returns, without the call into the C library) is one register read. A
  // value reused by a new thread means the old one has ended and handed its
  // stack back through the C library's own locking, which orders everything
  // the old thread did before the new thread's first access.
  static std::uint64_t ThreadTag() {
    return reinterpret_cast<std::uintptr_t>(__builtin_thread_pointer());
  }
  // Under mutex_: makes `me` the owner once no access of the old owner is
  // in flight.
  void TakeOver(std::uint64_t me);

  const bool fast_;
  std::mutex mutex_;
  std::atomic<std::uint64_t> owner_{0};  // 0: nobody (no thread is 0)
  std::atomic<bool> in_access_{false};
  std::atomic<bool> handoff_{false};
  std::atomic<std::uint64_t> handoffs_{0};
};

}  // namespace simboard
