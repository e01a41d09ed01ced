// Diagnostic trace lines for developers: written to standard error only when
// the environment variable ROMSMITH_TRACE is set, so users never see them.
#pragma once

#include <string_view>

namespace romsmith {

bool DebugTraceEnabled();
void DebugTrace(std::string_view line);

}  // namespace romsmith
