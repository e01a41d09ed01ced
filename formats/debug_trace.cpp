#include "formats/debug_trace.h"

#include <cstdio>
#include <cstdlib>

namespace romsmith {

bool DebugTraceEnabled() {
  const char* value = std::getenv("ROMSMITH_TRACE");
  return value != nullptr && *value != '\0';
}

void DebugTrace(std::string_view line) {
  if (!DebugTraceEnabled()) return;
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace romsmith
