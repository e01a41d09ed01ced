// The monotonic millisecond counter that timeouts and busy loops read.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary start; wraps at 2^32 like the counter the
// drivers were designed for, so compare with unsigned subtraction.
std::uint32_t TickCount();

// The same counter without the wrap.
std::uint64_t TickCount64();

}  // namespace platform
