// A Frontend for tests: keeps every call and answers questions from a script.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "reporting/frontend.h"

namespace romsmith::testing {

class RecordingFrontend : public Frontend {
 public:
  struct StatusLine {
    std::string text;
    bool error;
    bool blink;
  };

  void SetProgressRange(int low, int high) override {
    std::lock_guard lock(mutex_);
    range_low = low;
    range_high = high;
    events.push_back("range " + std::to_string(low) + " " + std::to_string(high));
  }
  void SetProgressPosition(int position) override {
    std::lock_guard lock(mutex_);
    this->position = position;
    events.push_back("position " + std::to_string(position));
  }
  void StepProgress() override {
    std::lock_guard lock(mutex_);
    ++position;
    ++steps;
  }
  void StartAnimation() override {
    std::lock_guard lock(mutex_);
    animating = true;
    events.push_back("animation start");
  }
  void StopAnimation() override {
    std::lock_guard lock(mutex_);
    animating = false;
    events.push_back("animation stop");
  }
  void ShowStatusLine(const std::string& text, bool error, bool blink) override {
    std::lock_guard lock(mutex_);
    lines.push_back({text, error, blink});
  }
  void SetCommandControls(bool enable, bool stoppable) override {
    {
      std::lock_guard lock(mutex_);
      controls_enabled = enable;
      controls_stoppable = stoppable;
      events.push_back(std::string("controls ") + (enable ? "on" : "off") +
                       (stoppable ? " stoppable" : ""));
    }
    if (on_controls) on_controls(enable);
  }
  platform::MessageAnswer Ask(const platform::MessageRequest& request) override {
    {
      std::lock_guard lock(mutex_);
      questions.push_back(request);
    }
    // Outside the lock: the hook may wait, as a window's own thread would.
    if (on_ask) {
      if (auto answer = on_ask(request)) return *answer;
    }
    std::lock_guard lock(mutex_);
    if (answers.empty()) return platform::DefaultAnswer(request.buttons);
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }

  std::vector<std::string> Texts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    for (const auto& line : lines) texts.push_back(line.text);
    return texts;
  }

  // Test hooks, called on the caller's thread: an answer of the hook's own
  // (nothing: the scripted one), and the controls as they change.
  std::function<std::optional<platform::MessageAnswer>(const platform::MessageRequest&)> on_ask;
  std::function<void(bool enable)> on_controls;

  std::vector<StatusLine> lines;
  std::vector<std::string> events;
  std::vector<platform::MessageRequest> questions;
  std::deque<platform::MessageAnswer> answers;  // scripted, oldest first
  int range_low = 0, range_high = 0, position = 0, steps = 0;
  bool animating = false;
  bool controls_enabled = true, controls_stoppable = false;

 private:
  mutable std::mutex mutex_;
};

}  // namespace romsmith::testing
