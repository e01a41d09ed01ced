// The Workbench as a window drives it: start-up, the completion callback, a
// close while a question waits, the configuration a command works on, the
// register read on the worker, boxes raised on the worker.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "operations/testing/workbench_fixture.h"

namespace romsmith::testing {
namespace {

using Texts = std::vector<std::string>;
using std::chrono::milliseconds;

// Waits up to five seconds for `done`, polling.
bool WaitUntil(const std::function<bool()>& done) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return true;
}

TEST_F(WorkbenchTest, StartLoadsTheSettingsAndMakesTheLogFileAsAsked) {
  keep_.insert("Info.log");
  profile_extra_ = "Log=0\n";
  WriteSettings();
  ASSERT_TRUE(bench_->Start({StartOptions::LogFile::kCreateWhenLogging, false}));
  EXPECT_EQ(bench_->settings().time_out_polls, 120);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "Info.log"));

  // The desktop program makes it anew whatever the option says.
  WriteFileBytes(dir_ / "Info.log", "last run\n");
  ASSERT_TRUE(bench_->Start({StartOptions::LogFile::kCreate, false}));
  EXPECT_EQ(ReadFileText(dir_ / "Info.log"), "");

  profile_extra_ = "Log=1\n";
  WriteSettings();
  ASSERT_TRUE(bench_->Start({StartOptions::LogFile::kCreateWhenLogging, false}));
  EXPECT_EQ(Run(&Workbench::OnChecksum), CommandOutcome::kSucceeded);
  EXPECT_NE(ReadFileText(dir_ / "Info.log").find("Info: start checksum...\n\r"),
            std::string::npos);

  std::filesystem::remove(dir_ / "romsmith.ini");
  platform::ScopedMessageHandler quiet(
      [](const platform::MessageRequest&) { return platform::MessageAnswer::Ok; });
  EXPECT_FALSE(bench_->Start());
}

TEST_F(WorkbenchTest, CompletionComesWhenIdleWithTheOutcomeAndMayStartTheNextCommand) {
  std::mutex mutex;
  std::vector<CommandReport> reports;
  std::vector<bool> busy_seen;
  std::vector<CommandOutcome> outcome_seen;
  bool next_started = false;
  bench_->SetCompletionCallback([&](const CommandReport& report) {
    std::lock_guard lock(mutex);
    reports.push_back(report);
    busy_seen.push_back(bench_->IsBusy());
    outcome_seen.push_back(bench_->outcome());
    if (reports.size() == 1) next_started = bench_->OnBlankCheck();
  });
  WriteSettings();
  ASSERT_TRUE(bench_->OnChecksum());
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard lock(mutex);
    return reports.size() == 2;
  }));
  bench_->WaitForCommand();
  EXPECT_TRUE(next_started);
  EXPECT_EQ(busy_seen, (std::vector<bool>{false, false}));
  EXPECT_EQ(outcome_seen, (std::vector<CommandOutcome>{CommandOutcome::kSucceeded,
                                                       CommandOutcome::kSucceeded}));
  EXPECT_EQ(reports[0].code, CommandCode::kChecksum);
  EXPECT_EQ(reports[1].code, CommandCode::kBlankCheck);
  EXPECT_EQ(LastLine(), "Info: blank check success.\n");

  // A command that never got to the target reports too.
  target_->FailAfter("bind", 0);
  EXPECT_EQ(Run(&Workbench::OnChecksum), CommandOutcome::kFailed);
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard lock(mutex);
    return reports.size() == 3;
  }));
  EXPECT_EQ(reports[2].result.outcome, CommandOutcome::kFailed);
}

TEST_F(WorkbenchTest, CloseAnswersLaterQuestionsWithTheirDefaultAndStopsTheCommand) {
  // Both rows read back wrong, so the target test asks twice.
  reg_check_prompt_ = 1;
  target_->FailAfter("write", 0);
  bench_->pages().cpu.current.registers[0].value = 0x1234;
  std::mutex mutex;
  std::condition_variable changed;
  bool asked = false;
  bool released = false;
  frontend_->on_ask = [&](const platform::MessageRequest&) -> std::optional<platform::MessageAnswer> {
    std::unique_lock lock(mutex);
    asked = true;
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
    return platform::MessageAnswer::Yes;
  };
  WriteSettings();
  ASSERT_TRUE(bench_->StartTargetTest());
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(5), [&] { return asked; }));
  }
  // The window closes while the first question is up: not yet.
  EXPECT_FALSE(bench_->RequestClose());
  EXPECT_TRUE(bench_->closing());
  {
    std::lock_guard lock(mutex);
    released = true;
  }
  changed.notify_all();
  bench_->WaitForCommand();
  // The second question never reached the user, and the RAM test saw the
  // stop: a stop, not a failed board.
  EXPECT_EQ(frontend_->questions.size(), 1u);
  EXPECT_EQ(bench_->outcome(), CommandOutcome::kStopped);
  EXPECT_EQ(LastLine(), "Info: user stop target test.\n");
  EXPECT_TRUE(bench_->RequestClose());
}

TEST_F(WorkbenchTest, DestroyingWhileAQuestionWaitsForTheClosingAnswersIt) {
  // A window's Ask waits on its own thread, which answers the default once
  // the Workbench is closing; the owner's destruction must not wait forever.
  WriteFileBytes(dir_ / "upload.bin", "old");
  keep_.insert("upload.bin");
  bench_->pages().program.upload_file = (dir_ / "upload.bin").string();
  std::atomic<bool> asked{false};
  Workbench* bench = bench_.get();
  frontend_->on_ask = [&, bench](const platform::MessageRequest& request)
      -> std::optional<platform::MessageAnswer> {
    asked = true;
    if (!WaitUntil([bench] { return bench->closing(); })) return platform::MessageAnswer::Cancel;
    return platform::DefaultAnswer(request.buttons);
  };
  WriteSettings();
  ASSERT_TRUE(bench_->OnUpload());
  ASSERT_TRUE(WaitUntil([&] { return asked.load(); }));
  const auto start = std::chrono::steady_clock::now();
  bench_.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(WorkbenchTest, ARunningCommandKeepsTheConfigurationItStartedWith) {
  target_->set_dump_delay_ms(3);
  WriteSettings();
  ASSERT_TRUE(bench_->OnChecksum());
  ASSERT_TRUE(WaitUntil([&] { return target_->calls("dump") >= 2; }));
  // What a window does meanwhile: another range, taken into the
  // configuration by the modified check.
  bench_->pages().flash.sector_from = 2;
  bench_->pages().flash.sector_to = 2;
  bench_->document().TakeFromPages();
  bench_->WaitForCommand();
  EXPECT_EQ(bench_->outcome(), CommandOutcome::kSucceeded);
  EXPECT_EQ(target_->calls("dump"), 32);
  EXPECT_EQ(LastLine(), "Info: checksum completed, it is 0x8000.\n");
  // The next command takes the new range.
  target_->set_dump_delay_ms(0);
  EXPECT_EQ(Run(&Workbench::OnChecksum), CommandOutcome::kSucceeded);
  EXPECT_EQ(target_->calls("dump"), 36);
}

TEST_F(WorkbenchTest, RegisterReadStopsAndKeepsRowsItCouldNotRead) {
  target_->SetRegister(0x01D30000, 0x00008021);
  target_->SetRegister(0x01C00000, 0x0000000E);
  bench_->pages().cpu.current.registers[1].value = 0x77;
  target_->FailAfter("read", 1);
  EXPECT_EQ(Run(&Workbench::RegisterRead), CommandOutcome::kFailed);
  EXPECT_EQ(Lines(), (Texts{"Info: start register read...\n", "Error: read memory failed.",
                            "Error: register read failed.\n"}));
  bench_->ApplyRegisterRead(bench_->last_report());
  EXPECT_EQ(bench_->pages().cpu.current.registers[0].value, 0x00008021u);
  EXPECT_EQ(bench_->pages().cpu.current.registers[1].value, 0x77u);

  // Stop as soon as the controls go off: no row is read.
  target_->FailAfter("read", 1 << 30);
  const int reads = target_->calls("read");
  frontend_->on_controls = [&](bool enable) {
    if (!enable) bench_->RequestStop();
  };
  EXPECT_EQ(Run(&Workbench::RegisterRead), CommandOutcome::kStopped);
  EXPECT_EQ(LastLine(), "Info: user stop register read.\n");
  EXPECT_EQ(target_->calls("read"), reads);
  EXPECT_FALSE(target_->bound());
}

TEST_F(WorkbenchTest, BoxesRaisedOnTheWorkerGoThroughTheFrontEnd) {
  // The process-wide handler would be a window's own box, unsafe off its
  // thread: it must not be called from the worker.
  std::atomic<int> direct{0};
  platform::ScopedMessageHandler window([&](const platform::MessageRequest&) {
    ++direct;
    return platform::MessageAnswer::Ok;
  });
  bench_->pages().program.program_file = (dir_ / "missing.hex").string();
  bench_->pages().program.format = "Intel Hex";
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: convert Intel Hex format file failed, program stop.\n");
  EXPECT_EQ(direct.load(), 0);
  ASSERT_EQ(frontend_->questions.size(), 1u);
  EXPECT_EQ(frontend_->questions[0].icon, platform::MessageIcon::Warning);
}

}  // namespace
}  // namespace romsmith::testing
