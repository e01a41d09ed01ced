#include "platform/ticks.h"

#include <chrono>

namespace platform {

std::uint64_t TickCount64() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::uint32_t TickCount() { return static_cast<std::uint32_t>(TickCount64()); }

}  // namespace platform
