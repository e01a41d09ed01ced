// A manual-reset event: once set it stays set until reset; IsSet is the
// zero-timeout wait the stop checks use.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

class Event {
 public:
  void Set();
  void Reset();
  bool IsSet() const;
  // Waits up to `timeout`; true when the event is set.
  bool WaitFor(std::chrono::milliseconds timeout) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool set_ = false;
};

}  // namespace platform
