#include "platform/message_box.h"

#include <cstdio>
#include <mutex>

namespace platform {
namespace {

std::mutex g_handler_mutex;
MessageHandler g_handler;
thread_local const MessageHandler* t_thread_handler = nullptr;

MessageAnswer WriteToStandardError(const MessageRequest& request) {
  std::fprintf(stderr, "%s: %s\n", request.caption.c_str(), request.text.c_str());
  return DefaultAnswer(request.buttons);
}

}  // namespace

MessageAnswer DefaultAnswer(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::YesNo:
    case MessageButtons::YesNoCancel:
      return MessageAnswer::Yes;
    case MessageButtons::Ok:
    case MessageButtons::OkCancel:
      break;
  }
  return MessageAnswer::Ok;
}

MessageAnswer NegativeAnswer(MessageButtons buttons) {
  switch (buttons) {
    case MessageButtons::OkCancel:
    case MessageButtons::YesNoCancel:
      return MessageAnswer::Cancel;
    case MessageButtons::YesNo:
      return MessageAnswer::No;
    case MessageButtons::Ok:
      break;
  }
  return MessageAnswer::Ok;
}

MessageHandler SetMessageHandler(MessageHandler handler) {
  std::lock_guard lock(g_handler_mutex);
  auto previous = std::move(g_handler);
  g_handler = std::move(handler);
  return previous;
}

ScopedThreadMessageHandler::ScopedThreadMessageHandler(MessageHandler handler)
    : handler_(std::move(handler)), previous_(t_thread_handler) {
  t_thread_handler = &handler_;
}

ScopedThreadMessageHandler::~ScopedThreadMessageHandler() { t_thread_handler = previous_; }

MessageAnswer ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon,
                          MessageButtons buttons) {
  MessageRequest request{text, caption, icon, buttons};
  if (t_thread_handler && *t_thread_handler) return (*t_thread_handler)(request);
  MessageHandler handler;
  {
    std::lock_guard lock(g_handler_mutex);
    handler = g_handler;
  }
  // Called outside the lock: a handler may block on a dialog for a long time.
  return handler ? handler(request) : WriteToStandardError(request);
}

}  // namespace platform
