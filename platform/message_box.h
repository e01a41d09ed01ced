// Message boxes from any layer. The front end installs a handler (a Qt box,
// a terminal prompt, a scripted answer in tests); without one, the text goes
// to standard error and the default button answers.
#pragma once

#include <functional>
#include <string>

namespace platform {

enum class MessageIcon { None, Information, Warning, Error, Question };
enum class MessageButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MessageAnswer { Ok, Cancel, Yes, No };

struct MessageRequest {
  std::string text;
  std::string caption;
  MessageIcon icon = MessageIcon::None;
  MessageButtons buttons = MessageButtons::Ok;
};

using MessageHandler = std::function<MessageAnswer(const MessageRequest&)>;

// Installs a handler for every later ShowMessage; returns the one it replaces.
// An empty handler restores the default.
MessageHandler SetMessageHandler(MessageHandler handler);

MessageAnswer ShowMessage(const std::string& text, const std::string& caption = "Romsmith",
                          MessageIcon icon = MessageIcon::None,
                          MessageButtons buttons = MessageButtons::Ok);

// The first button of a set: Ok or Yes.
MessageAnswer DefaultAnswer(MessageButtons buttons);

// The answer a scripted "no" gives: Cancel where there is one, else No, else Ok.
MessageAnswer NegativeAnswer(MessageButtons buttons);

// A handler for the calling thread only, consulted before the process-wide
// one while it is installed. The command worker routes the boxes of every
// layer it calls through its front end this way, so a front end whose
// widgets live on another thread is never called from the worker directly.
class ScopedThreadMessageHandler {
 public:
  explicit ScopedThreadMessageHandler(MessageHandler handler);
  ~ScopedThreadMessageHandler();
  ScopedThreadMessageHandler(const ScopedThreadMessageHandler&) = delete;
  ScopedThreadMessageHandler& operator=(const ScopedThreadMessageHandler&) = delete;

 private:
  MessageHandler handler_;
  const MessageHandler* previous_;
};

// RAII: installs a handler for a scope (tests) and puts the old one back.
class ScopedMessageHandler {
 public:
  explicit ScopedMessageHandler(MessageHandler handler)
      : previous_(SetMessageHandler(std::move(handler))) {}
  ~ScopedMessageHandler() { SetMessageHandler(std::move(previous_)); }
  ScopedMessageHandler(const ScopedMessageHandler&) = delete;
  ScopedMessageHandler& operator=(const ScopedMessageHandler&) = delete;

 private:
  MessageHandler previous_;
};

}  // namespace platform
