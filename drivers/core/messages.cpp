#include "drivers/core/messages.h"

#include <cstdarg>
#include <cstdio>

namespace drivers {

void Messenger::Report(const char* format, ...) const {
  if (!sink_) return;
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  sink_(kMessageKind, text);
}

}  // namespace drivers
