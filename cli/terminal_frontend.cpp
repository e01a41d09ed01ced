#include "cli/terminal_frontend.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cctype>

namespace romsmith {
namespace {

constexpr int kBarWidth = 40;

const char* AnswerName(platform::MessageAnswer answer) {
  switch (answer) {
    case platform::MessageAnswer::Ok:
      return "OK";
    case platform::MessageAnswer::Cancel:
      return "Cancel";
    case platform::MessageAnswer::Yes:
      return "Yes";
    case platform::MessageAnswer::No:
      return "No";
  }
  return "";
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The answer a typed word gives for these buttons; false when it is none.
bool ReadAnswer(const std::string& word, platform::MessageButtons buttons,
                platform::MessageAnswer& answer) {
  using platform::MessageAnswer;
  using platform::MessageButtons;
  const std::string w = Lower(word);
  const bool yes_no = buttons == MessageButtons::YesNo || buttons == MessageButtons::YesNoCancel;
  const bool has_cancel =
      buttons == MessageButtons::OkCancel || buttons == MessageButtons::YesNoCancel;
  if (yes_no && (w == "y" || w == "yes")) {
    answer = MessageAnswer::Yes;
  } else if (yes_no && (w == "n" || w == "no")) {
    answer = MessageAnswer::No;
  } else if (has_cancel && (w == "c" || w == "cancel")) {
    answer = MessageAnswer::Cancel;
  } else if (buttons == MessageButtons::OkCancel && (w == "o" || w == "ok")) {
    answer = MessageAnswer::Ok;
  } else {
    return false;
  }
  return true;
}

bool StartsWithWord(const std::string& text, const char* word) {
  std::size_t i = 0;
  for (; word[i] != 0; ++i) {
    if (i >= text.size() ||
        std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(word[i])))
      return false;
  }
  return true;
}

std::string WithoutLineBreak(const std::string& text) {
  std::string line = text;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

}  // namespace

const char* LineKindName(LineKind kind) {
  switch (kind) {
    case LineKind::kInfo:
      return "info";
    case LineKind::kResult:
      return "result";
    case LineKind::kWarning:
      return "warning";
    case LineKind::kError:
      return "error";
    case LineKind::kDebug:
      return "debug";
    case LineKind::kQuestion:
      return "question";
  }
  return "info";
}

LineKind KindOfLine(const std::string& text, bool error) {
  if (StartsWithWord(text, "error")) return LineKind::kError;
  if (StartsWithWord(text, "warning")) return LineKind::kWarning;
  if (StartsWithWord(text, "debug")) return LineKind::kDebug;
  // An "Info:" line stays one also where it ends a command as failed.
  if (StartsWithWord(text, "info")) return LineKind::kInfo;
  return error ? LineKind::kError : LineKind::kInfo;
}

TerminalStreams ProcessStreams() {
  TerminalStreams streams;
  streams.err_is_terminal = isatty(STDERR_FILENO) == 1;
  streams.in_is_terminal = isatty(STDIN_FILENO) == 1;
  return streams;
}

std::string ButtonChoices(platform::MessageButtons buttons) {
  switch (buttons) {
    case platform::MessageButtons::Ok:
      return "";
    case platform::MessageButtons::OkCancel:
      return "[o]k/[c]ancel";
    case platform::MessageButtons::YesNo:
      return "[y]es/[n]o";
    case platform::MessageButtons::YesNoCancel:
      return "[y]es/[n]o/[c]ancel";
  }
  return "";
}

TerminalFrontend::TerminalFrontend(CliVerbosity verbosity, CliAnswers answers,
                                   TerminalStreams streams, LineRouting routing)
    : verbosity_(verbosity), answers_(answers), streams_(streams), routing_(routing) {
  // A batch target's progress goes to the batch, never as a bar.
  if (routing_ == LineRouting::kChild || verbosity_ == CliVerbosity::kQuiet)
    streams_.err_is_terminal = false;
}

void TerminalFrontend::PrintLine(const std::string& text, bool error, bool label, bool result) {
  // A result that is also a failure (the first differing address) stays an
  // error: it goes where errors go.
  LineKind kind = KindOfLine(text, error);
  if (result && kind == LineKind::kInfo) kind = LineKind::kResult;
  bool print = false;
  switch (verbosity_) {
    case CliVerbosity::kNormal:
      print = label;
      break;
    case CliVerbosity::kVerbose:
      print = true;
      break;
    case CliVerbosity::kQuiet:
      // Progress and "Info:" lines go; results, warnings and errors stay.
      print = error || kind == LineKind::kError || kind == LineKind::kWarning ||
              kind == LineKind::kResult;
      break;
  }
  std::lock_guard lock(mutex_);
  EmitLocked(kind, text, print);
}

void TerminalFrontend::PrintResult(const std::string& text) {
  std::lock_guard lock(mutex_);
  EmitLocked(LineKind::kResult, text, true);
}

std::vector<PrintedLine> TerminalFrontend::Lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

double TerminalFrontend::ProgressReached() const {
  std::lock_guard lock(mutex_);
  return reached_;
}

std::FILE* TerminalFrontend::StreamFor(LineKind kind) const {
  const bool to_err = kind == LineKind::kError || kind == LineKind::kWarning;
  switch (routing_) {
    case LineRouting::kSplit:
      return to_err ? streams_.err : streams_.out;
    case LineRouting::kErrorsOnly:
      return to_err ? streams_.err : nullptr;
    case LineRouting::kAllToError:
    case LineRouting::kChild:
      return streams_.err;
  }
  return streams_.out;
}

void TerminalFrontend::EmitLocked(LineKind kind, const std::string& text, bool print) {
  // A result written as several lines is kept as several lines.
  std::size_t at = 0;
  const std::string whole = WithoutLineBreak(text);
  do {
    const std::size_t end = whole.find('\n', at);
    lines_.push_back({kind, whole.substr(at, end == std::string::npos ? std::string::npos : end - at)});
    at = end == std::string::npos ? whole.size() + 1 : end + 1;
  } while (at <= whole.size());
  if (!print) return;
  if (std::FILE* stream = StreamFor(kind)) WriteLineLocked(stream, text);
}

void TerminalFrontend::WriteLineLocked(std::FILE* stream, const std::string& text) {
  const bool redraw = bar_shown_;
  ClearBarLocked();
  // The line and its break in one write, flushed at once: a line never
  // splits, and the two streams keep the order of the log when they share
  // a file.
  std::string line = text;
  if (line.empty() || line.back() != '\n') line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stream);
  std::fflush(stream);
  if (redraw) DrawBarLocked();
}

void TerminalFrontend::SetProgressRange(int low, int high) {
  std::lock_guard lock(mutex_);
  low_ = low;
  high_ = high;
  position_ = low;
  reached_ = 0;
  DrawBarLocked();
}

void TerminalFrontend::SetProgressPosition(int position) {
  std::lock_guard lock(mutex_);
  position_ = position;
  DrawBarLocked();
}

void TerminalFrontend::StepProgress() {
  std::lock_guard lock(mutex_);
  ++position_;
  DrawBarLocked();
}

void TerminalFrontend::StartAnimation() {
  std::lock_guard lock(mutex_);
  animating_ = true;
  DrawBarLocked();
}

void TerminalFrontend::StopAnimation() {
  std::lock_guard lock(mutex_);
  animating_ = false;
  DrawBarLocked();
}

void TerminalFrontend::ShowStatusLine(const std::string&, bool, bool) {}

void TerminalFrontend::SetCommandControls(bool, bool) {}

void TerminalFrontend::FinishProgress() {
  std::lock_guard lock(mutex_);
  ClearBarLocked();
  animating_ = false;
  high_ = low_ = position_ = 0;
}

void TerminalFrontend::ReportProgressLocked() {
  if (high_ <= low_) return;
  const double fraction =
      std::clamp((static_cast<double>(position_) - low_) / (static_cast<double>(high_) - low_), 0.0, 1.0);
  reached_ = std::max(reached_, fraction);
  if (routing_ != LineRouting::kChild) return;
  const int percent = static_cast<int>(fraction * 100);
  if (percent == reported_percent_ || (percent == 0 && reported_percent_ < 0)) return;
  reported_percent_ = percent;
  const std::string line = std::string(kChildProgressMark) + " " + std::to_string(percent) + "\n";
  std::fwrite(line.data(), 1, line.size(), streams_.err);
  std::fflush(streams_.err);
}

void TerminalFrontend::DrawBarLocked() {
  ReportProgressLocked();
  if (!streams_.err_is_terminal) return;
  // The bodies put the bar back to 0 when they end: nothing to show then.
  const bool active = high_ > low_ && (position_ > low_ || animating_);
  if (!active) {
    ClearBarLocked();
    return;
  }
  const long long span = static_cast<long long>(high_) - low_;
  const long long done = std::clamp<long long>(static_cast<long long>(position_) - low_, 0, span);
  const int filled = static_cast<int>(done * kBarWidth / span);
  const int percent = static_cast<int>(done * 100 / span);
  static constexpr char kSpinner[] = "|/-\\";
  std::string bar = "\r[";
  bar.append(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), ' ');
  bar += "] ";
  const std::string number = std::to_string(percent);
  bar.append(3 - std::min<std::size_t>(3, number.size()), ' ');
  bar += number + "%";
  if (animating_) {
    // The mark turns with time, not with every step, so that a fast body
    // does not flood the terminal.
    const auto now = std::chrono::steady_clock::now();
    if (now - last_turn_ >= std::chrono::milliseconds(100)) {
      if (bar_shown_) ++spin_;
      last_turn_ = now;
    }
    bar += ' ';
    bar += kSpinner[spin_ % 4];
  }
  if (bar == last_bar_ && bar_shown_) return;
  last_bar_ = bar;
  std::fputs(bar.c_str(), streams_.err);
  std::fflush(streams_.err);
  bar_shown_ = true;
}

void TerminalFrontend::ClearBarLocked() {
  if (!bar_shown_) return;
  std::fputs("\r\033[K", streams_.err);
  std::fflush(streams_.err);
  bar_shown_ = false;
  last_bar_.clear();
}

platform::MessageAnswer TerminalFrontend::Ask(const platform::MessageRequest& request) {
  std::lock_guard lock(mutex_);
  using platform::MessageButtons;
  const bool question = request.buttons != MessageButtons::Ok;
  if (!question) {
    LineKind kind = KindOfLine(request.text, request.icon == platform::MessageIcon::Error);
    if (kind == LineKind::kInfo && request.icon == platform::MessageIcon::Warning) kind = LineKind::kWarning;
    const bool shown = verbosity_ != CliVerbosity::kQuiet || kind == LineKind::kError ||
                       kind == LineKind::kWarning;
    EmitLocked(kind, request.text, shown);
    return platform::MessageAnswer::Ok;
  }
  platform::MessageAnswer answer = platform::NegativeAnswer(request.buttons);
  switch (answers_) {
    case CliAnswers::kYes:
      answer = platform::DefaultAnswer(request.buttons);
      break;
    case CliAnswers::kNo:
      answer = platform::NegativeAnswer(request.buttons);
      break;
    case CliAnswers::kAsk:
      if (streams_.in_is_terminal) return PromptLocked(request);
      answer = platform::NegativeAnswer(request.buttons);
      break;
  }
  EmitLocked(LineKind::kQuestion, request.text + " -> " + AnswerName(answer), true);
  return answer;
}

platform::MessageAnswer TerminalFrontend::PromptLocked(const platform::MessageRequest& request) {
  const bool redraw = bar_shown_;
  ClearBarLocked();
  platform::MessageAnswer answer = platform::NegativeAnswer(request.buttons);
  for (;;) {
    std::fprintf(streams_.err, "%s %s: ", request.text.c_str(),
                 ButtonChoices(request.buttons).c_str());
    std::fflush(streams_.err);
    std::string line;
    int c;
    while ((c = std::fgetc(streams_.in)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
    if (c == EOF && line.empty()) {
      // The terminal went away: the safe answer.
      std::fputc('\n', streams_.err);
      break;
    }
    if (ReadAnswer(Trimmed(line), request.buttons, answer)) break;
    if (c == EOF) break;
  }
  lines_.push_back({LineKind::kQuestion, request.text + " -> " + AnswerName(answer)});
  std::fflush(streams_.err);
  if (redraw) DrawBarLocked();
  return answer;
}

}  // namespace romsmith
