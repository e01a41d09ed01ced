// Stop while the driver waits on its own (binding, halting, resetting), and
// what a command may not call a success: a board whose set-up rows could not
// be written, a program file with nothing in it.
#include <thread>

#include "operations/testing/workbench_fixture.h"

namespace romsmith::testing {
namespace {

using std::chrono::milliseconds;

bool HasErrorLine(const std::vector<std::string>& lines) {
  for (const std::string& line : lines)
    if (line.rfind("Error", 0) == 0) return true;
  return false;
}

// The driver waits in `hang` (a connect, a halt or a reset that never ends)
// when the user stops: the wait gives up at once, and the command ends as
// stopped with its own stop line and no error.
TEST_F(WorkbenchTest, StopEndsEveryWaitOfTheDriverAsAStop) {
  struct Case {
    const char* hang;
    bool (Workbench::*entry)();
    const char* stop_line;
  };
  const Case cases[] = {
      {"bind", &Workbench::OnChecksum, "Info: user stop checksum.\n"},
      {"bind", &Workbench::OnProgram, "Info: user stop program.\n"},
      {"stop", &Workbench::OnErase, "Info: user stop erase.\n"},
      {"stop", &Workbench::StartTargetTest, "Info: user stop target test.\n"},
      {"stop", &Workbench::RegisterRead, "Info: user stop register read.\n"},
      {"reset", &Workbench::OnUpload, "Info: user stop upload.\n"},
      {"reset", &Workbench::OnVerify, "Info: user stop verify.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.hang) + " / " + c.stop_line);
    Build(BenchOptions());
    target_->HangUntilCancelled(c.hang);
    // The register read halts only a running core.
    ASSERT_TRUE(target_->RunTarget());
    WriteSettings();
    ASSERT_TRUE(((*bench_).*c.entry)());
    std::this_thread::sleep_for(milliseconds(50));
    ASSERT_TRUE(bench_->IsBusy()) << "the wait ended before the stop";
    const auto stop = std::chrono::steady_clock::now();
    bench_->RequestStop();
    bench_->WaitForCommand();
    EXPECT_LT(std::chrono::steady_clock::now() - stop, milliseconds(200));
    EXPECT_TRUE(target_->cancelled());
    EXPECT_EQ(bench_->outcome(), CommandOutcome::kStopped);
    EXPECT_EQ(LastLine(), c.stop_line);
    EXPECT_FALSE(HasErrorLine(Lines()));
  }
}

// Every row is still written, so each one that fails is named; then the
// command ends with the set-up failure instead of running its body.
TEST_F(WorkbenchTest, SetUpRowsThatCannotBeWrittenEndTheCommandBeforeItsBody) {
  target_->FailAfter("write", 0);
  EXPECT_EQ(Run(&Workbench::OnChecksum), CommandOutcome::kFailed);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Error: write memory failed.\n",
                                               "Error: write memory failed.\n",
                                               "Error: initialize taget board failed.\n"}));
  EXPECT_EQ(target_->calls("dump"), 0);
}

}  // namespace
}  // namespace romsmith::testing
