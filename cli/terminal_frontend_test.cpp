#include "cli/terminal_frontend.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace romsmith {
namespace {

using platform::MessageAnswer;
using platform::MessageButtons;
using platform::MessageIcon;

// A stream whose text the test reads back.
class Capture {
 public:
  Capture() { stream_ = open_memstream(&buffer_, &size_); }
  ~Capture() {
    std::fclose(stream_);
    std::free(buffer_);
  }
  std::FILE* stream() { return stream_; }
  std::string text() {
    std::fflush(stream_);
    return std::string(buffer_, size_);
  }

 private:
  char* buffer_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* stream_ = nullptr;
};

// Answers typed by the "user".
class Typed {
 public:
  explicit Typed(const std::string& text) : text_(text) {
    stream_ = fmemopen(text_.data(), text_.size(), "r");
  }
  ~Typed() { std::fclose(stream_); }
  std::FILE* stream() { return stream_; }

 private:
  std::string text_;
  std::FILE* stream_ = nullptr;
};

struct Terminal {
  Capture out, err;
  Typed in;
  TerminalFrontend frontend;
  Terminal(CliVerbosity verbosity, CliAnswers answers, bool err_tty = false, bool in_tty = false,
           const std::string& typed = "")
      : in(typed),
        frontend(verbosity, answers,
                 TerminalStreams{out.stream(), err.stream(), in.stream(), err_tty, in_tty}) {}
};

void LogEveryKind(TerminalFrontend& frontend) {
  frontend.PrintLine("Info: start blank check...\n", false, true);
  frontend.PrintLine("Debug: scan chain 1 selected\n", false, false);
  frontend.PrintLine("Error: flash not blank at 0x00000010.\n", true, true);
  frontend.PrintLine("Info: waiting for the loader", false, true);  // no "\n" of its own
  frontend.PrintLine("Error: read memory failed.", true, true);
}

TEST(TerminalFrontend, VerbosityChoosesTheLinesAndEveryLineEnds) {
  Terminal normal(CliVerbosity::kNormal, CliAnswers::kNo);
  LogEveryKind(normal.frontend);
  EXPECT_EQ(normal.out.text(),
            "Info: start blank check...\n"
            "Info: waiting for the loader\n");
  EXPECT_EQ(normal.err.text(),
            "Error: flash not blank at 0x00000010.\n"
            "Error: read memory failed.\n");

  Terminal verbose(CliVerbosity::kVerbose, CliAnswers::kNo);
  LogEveryKind(verbose.frontend);
  EXPECT_EQ(verbose.out.text(),
            "Info: start blank check...\n"
            "Debug: scan chain 1 selected\n"
            "Info: waiting for the loader\n");

  // Quiet: no "Info:" lines, but results, warnings and errors.
  Terminal quiet(CliVerbosity::kQuiet, CliAnswers::kNo);
  LogEveryKind(quiet.frontend);
  quiet.frontend.PrintLine("Info: checksum completed, it is 0x1234.\n", false, true, true);
  quiet.frontend.PrintLine("Warning: JTAG speed lowered\n", false, true);
  quiet.frontend.PrintResult("Bad blocks in sectors 1-4: 2\n");
  EXPECT_EQ(quiet.out.text(),
            "Info: checksum completed, it is 0x1234.\n"
            "Bad blocks in sectors 1-4: 2\n");
  EXPECT_EQ(quiet.err.text(),
            "Error: flash not blank at 0x00000010.\n"
            "Error: read memory failed.\n"
            "Warning: JTAG speed lowered\n");

  // The status label has no twin on the terminal: nothing printed twice.
  normal.frontend.ShowStatusLine("Info: again\n", false, false);
  EXPECT_EQ(normal.out.text().find("again"), std::string::npos);
}

TEST(TerminalFrontend, LineKindsByTheirOpeningWord) {
  const struct {
    const char* text;
    bool error;
    LineKind kind;
  } cases[] = {
      {"Info: start program...\n", false, LineKind::kInfo},
      {"Error: time out, program failed.\n", true, LineKind::kError},
      {"error: lower case too", false, LineKind::kError},
      {"Warning: JTAG speed", false, LineKind::kWarning},
      {"Debug: scan", false, LineKind::kDebug},
      {"debug file written", false, LineKind::kDebug},
      // An error without the word is still an error.
      {"the chip does not support it", true, LineKind::kError},
      // A failure told as an "Info:" line is still an info line.
      {"Info: the chip does not support protect function, protect end.\n", true, LineKind::kInfo},
      {"Err", false, LineKind::kInfo},
  };
  for (const auto& c : cases) EXPECT_EQ(KindOfLine(c.text, c.error), c.kind) << c.text;
}

TEST(TerminalFrontend, RoutingKeepsStandardOutputForDataOrTheRecord) {
  const struct {
    LineRouting routing;
    const char* out;
    const char* err;
  } cases[] = {
      {LineRouting::kSplit, "Info: a\nQ? -> No\n", "Error: b\nWarning: c\n"},
      {LineRouting::kErrorsOnly, "", "Error: b\nWarning: c\n"},
      {LineRouting::kAllToError, "", "Info: a\nError: b\nWarning: c\nQ? -> No\n"},
      {LineRouting::kChild, "", "Info: a\nError: b\nWarning: c\nQ? -> No\n"},
  };
  for (const auto& c : cases) {
    Capture out, err;
    Typed in("");
    TerminalFrontend frontend(CliVerbosity::kNormal, CliAnswers::kNo,
                              TerminalStreams{out.stream(), err.stream(), in.stream(), false, false}, c.routing);
    frontend.PrintLine("Info: a\n", false, true);
    frontend.PrintLine("Error: b\n", true, true);
    frontend.PrintLine("Warning: c", false, true);
    frontend.Ask({"Q?", "Romsmith", MessageIcon::Question, MessageButtons::YesNo});
    EXPECT_EQ(out.text(), c.out) << static_cast<int>(c.routing);
    EXPECT_EQ(err.text(), c.err) << static_cast<int>(c.routing);
    // The record has every line with its kind, whatever was printed.
    const std::vector<PrintedLine> lines = frontend.Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].text, "Info: a");
    EXPECT_EQ(lines[1].kind, LineKind::kError);
    EXPECT_EQ(lines[2].kind, LineKind::kWarning);
    EXPECT_EQ(lines[3].kind, LineKind::kQuestion);
    EXPECT_EQ(lines[3].text, "Q? -> No");
  }
}

TEST(TerminalFrontend, ABatchTargetReportsItsProgressAsLines) {
  Capture out, err;
  Typed in("");
  // A terminal on standard error changes nothing: no bar for a target.
  TerminalFrontend child(CliVerbosity::kNormal, CliAnswers::kNo,
                         TerminalStreams{out.stream(), err.stream(), in.stream(), true, false}, LineRouting::kChild);
  child.SetProgressRange(0, 200);
  child.SetProgressPosition(50);
  child.SetProgressPosition(51);  // still 25 %: no second line
  child.SetProgressPosition(200);
  child.SetProgressPosition(0);
  EXPECT_EQ(err.text(), "@progress 25\n@progress 100\n@progress 0\n");
  EXPECT_DOUBLE_EQ(child.ProgressReached(), 1.0);
  child.SetProgressRange(0, 10);  // the next phase starts from nothing
  EXPECT_DOUBLE_EQ(child.ProgressReached(), 0.0);
  // Several lines of one result are recorded one by one.
  child.PrintResult("R0 = 0x00000001\nR1 = 0x00000002\n");
  const std::vector<PrintedLine> lines = child.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].text, "R1 = 0x00000002");
  EXPECT_EQ(lines[1].kind, LineKind::kResult);
}

TEST(TerminalFrontend, ScriptedAnswersAndTheSafeDefault) {
  const platform::MessageRequest save{"Save changed to target config file?", "Romsmith",
                                      MessageIcon::Question, MessageButtons::YesNoCancel};
  const platform::MessageRequest go_on{"Continue?", "Romsmith", MessageIcon::Question,
                                       MessageButtons::YesNo};
  const platform::MessageRequest ok_cancel{"Overwrite?", "Romsmith", MessageIcon::Warning,
                                           MessageButtons::OkCancel};

  Terminal yes(CliVerbosity::kNormal, CliAnswers::kYes);
  EXPECT_EQ(yes.frontend.Ask(save), MessageAnswer::Yes);
  EXPECT_EQ(yes.frontend.Ask(ok_cancel), MessageAnswer::Ok);
  EXPECT_EQ(yes.out.text(), "Save changed to target config file? -> Yes\nOverwrite? -> OK\n");

  Terminal no(CliVerbosity::kNormal, CliAnswers::kNo);
  EXPECT_EQ(no.frontend.Ask(save), MessageAnswer::Cancel);
  EXPECT_EQ(no.frontend.Ask(go_on), MessageAnswer::No);
  EXPECT_EQ(no.frontend.Ask(ok_cancel), MessageAnswer::Cancel);

  // No terminal to ask on: No/Cancel, and the prompt is never written.
  Terminal piped(CliVerbosity::kNormal, CliAnswers::kAsk, false, false, "y\n");
  EXPECT_EQ(piped.frontend.Ask(go_on), MessageAnswer::No);
  EXPECT_EQ(piped.frontend.Ask(save), MessageAnswer::Cancel);
  EXPECT_EQ(piped.out.text(), "Continue? -> No\nSave changed to target config file? -> Cancel\n");
  EXPECT_EQ(piped.err.text(), "");

  // A notice box is printed and needs no answer; quiet keeps only errors.
  Terminal quiet(CliVerbosity::kQuiet, CliAnswers::kAsk);
  EXPECT_EQ(quiet.frontend.Ask({"Done.", "Romsmith", MessageIcon::Information, MessageButtons::Ok}),
            MessageAnswer::Ok);
  EXPECT_EQ(quiet.frontend.Ask({"Can't open romsmith.ini file!", "Error", MessageIcon::Error,
                                MessageButtons::Ok}),
            MessageAnswer::Ok);
  EXPECT_EQ(quiet.out.text(), "");
  EXPECT_EQ(quiet.err.text(), "Can't open romsmith.ini file!\n");
}

TEST(TerminalFrontend, QuestionsOnTheTerminal) {
  const platform::MessageRequest go_on{"Continue?", "Romsmith", MessageIcon::Question,
                                       MessageButtons::YesNo};
  // A word that is no answer asks again; answers ignore case and blanks.
  Terminal t(CliVerbosity::kNormal, CliAnswers::kAsk, false, true, "maybe\n  YES \n");
  EXPECT_EQ(t.frontend.Ask(go_on), MessageAnswer::Yes);
  EXPECT_EQ(t.err.text(), "Continue? [y]es/[n]o: Continue? [y]es/[n]o: ");
  EXPECT_EQ(t.out.text(), "");

  Terminal c(CliVerbosity::kNormal, CliAnswers::kAsk, false, true, "c\n");
  EXPECT_EQ(c.frontend.Ask({"Save?", "Romsmith", MessageIcon::Question,
                            MessageButtons::YesNoCancel}),
            MessageAnswer::Cancel);
  // "c" is no answer where there is no Cancel; the end of input is No.
  Terminal eof(CliVerbosity::kNormal, CliAnswers::kAsk, false, true, "c\n");
  EXPECT_EQ(eof.frontend.Ask(go_on), MessageAnswer::No);
  Terminal ok(CliVerbosity::kNormal, CliAnswers::kAsk, false, true, "ok");
  EXPECT_EQ(ok.frontend.Ask({"Go?", "Romsmith", MessageIcon::Question, MessageButtons::OkCancel}),
            MessageAnswer::Ok);
  // --yes wins over the terminal.
  Terminal yes(CliVerbosity::kNormal, CliAnswers::kYes, false, true, "n\n");
  EXPECT_EQ(yes.frontend.Ask(go_on), MessageAnswer::Yes);
  EXPECT_EQ(yes.err.text(), "");
}

TEST(TerminalFrontend, ProgressBarOnlyOnATerminalAndOutOfTheLinesWay) {
  Terminal piped(CliVerbosity::kNormal, CliAnswers::kNo, false);
  piped.frontend.SetProgressRange(0, 100);
  piped.frontend.StartAnimation();
  piped.frontend.SetProgressPosition(50);
  piped.frontend.StepProgress();
  EXPECT_EQ(piped.err.text(), "");

  Terminal tty(CliVerbosity::kNormal, CliAnswers::kNo, true);
  tty.frontend.SetProgressRange(0, 200);  // nothing done yet: no bar
  EXPECT_EQ(tty.err.text(), "");
  tty.frontend.SetProgressPosition(100);
  const std::string half = "\r[" + std::string(20, '#') + std::string(20, ' ') + "]  50%";
  EXPECT_EQ(tty.err.text(), half);
  tty.frontend.SetProgressPosition(100);  // unchanged: not drawn again
  EXPECT_EQ(tty.err.text(), half);
  // A line clears the bar, goes to standard output, and the bar comes back.
  tty.frontend.PrintLine("Info: sector 3 done.\n", false, true);
  EXPECT_EQ(tty.out.text(), "Info: sector 3 done.\n");
  EXPECT_EQ(tty.err.text(), half + "\r\033[K" + half);
  // Beyond the range it stays full; back at 0 (the end of a body) it goes.
  tty.frontend.SetProgressPosition(500);
  EXPECT_NE(tty.err.text().find("[" + std::string(40, '#') + "] 100%"), std::string::npos);
  tty.frontend.SetProgressPosition(0);
  const std::string all = tty.err.text();
  EXPECT_EQ(all.substr(all.size() - 4), "\r\033[K");

  // The animation alone shows an empty bar with a turning mark.
  Terminal busy(CliVerbosity::kNormal, CliAnswers::kNo, true);
  busy.frontend.SetProgressRange(0, 10);
  busy.frontend.StartAnimation();
  EXPECT_EQ(busy.err.text(), "\r[" + std::string(40, ' ') + "]   0% |");
  busy.frontend.StepProgress();
  EXPECT_NE(busy.err.text().find("  10% |"), std::string::npos);
  // The mark turns with time, not with the steps.
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  busy.frontend.StepProgress();
  EXPECT_NE(busy.err.text().find("  20% /"), std::string::npos);
  const std::size_t drawn = busy.err.text().size();
  busy.frontend.SetProgressPosition(2);  // nothing changed: not drawn again
  EXPECT_EQ(busy.err.text().size(), drawn);
  busy.frontend.FinishProgress();
  const std::string text = busy.err.text();
  EXPECT_EQ(text.substr(text.size() - 4), "\r\033[K");
}

}  // namespace
}  // namespace romsmith
