// The module's one reporting channel: printf-style lines handed to the host's
// message callback with kind 2048. Without a callback lines are dropped.
#pragma once

#include <cstdint>

namespace drivers {

inline constexpr std::int32_t kMessageKind = 2048;
using MessageSink = void (*)(std::int32_t kind, const char* text);

class Messenger {
 public:
  void set_sink(MessageSink sink) { sink_ = sink; }
  MessageSink sink() const { return sink_; }

  // Formats into a 1024-byte buffer and hands the text over.
  void Report(const char* format, ...) const __attribute__((format(printf, 2, 3)));

 private:
  MessageSink sink_ = nullptr;
};

}  // namespace drivers
