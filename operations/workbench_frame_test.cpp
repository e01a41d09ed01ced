// The command frame: entries, the worker's steps around a body, the board
// initialisation, Stop, and the file helpers.
#include <chrono>
#include <thread>

#include "operations/file_checks.h"
#include "platform/directory_lock.h"
#include "operations/testing/workbench_fixture.h"

namespace romsmith::testing {
namespace {

using Texts = std::vector<std::string>;
using std::chrono::milliseconds;

TEST_F(WorkbenchTest, CommandBindsInitialisesRunsAndUnbindsWithControlsRestored) {
  EXPECT_EQ(Run(&Workbench::OnChecksum), CommandOutcome::kSucceeded);
  EXPECT_EQ(target_->binds(), 1);
  EXPECT_FALSE(target_->bound());
  EXPECT_EQ(target_->calls("reset"), 1);
  // The register rows of the configuration reach the board.
  const auto written = target_->registers_written();
  EXPECT_EQ(written.count(0x01D30000), 1u);
  EXPECT_EQ(written.count(0x01C00000), 1u);
  const auto& events = frontend_->events;
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front(), "controls off stoppable");
  EXPECT_EQ(events.back(), "controls on stoppable");
  // A normal command never tests RAM.
  EXPECT_EQ(LinesFrom("Info: start test RAM").size(), 0u);
}

TEST_F(WorkbenchTest, FailedBindEndsWithControlsUntouched) {
  target_->FailAfter("bind", 0);
  EXPECT_EQ(Run(&Workbench::OnBlankCheck), CommandOutcome::kFailed);
  EXPECT_EQ(Lines(), Texts{"Error: unable to load emulator module.\n"});
  EXPECT_TRUE(frontend_->events.empty());
}

TEST_F(WorkbenchTest, FailedBoardInitialisationHasItsOwnWordingPerMode) {
  target_->FailAfter("reset", 0);
  EXPECT_EQ(Run(&Workbench::OnBlankCheck), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: initialize taget board failed.\n");
  EXPECT_FALSE(target_->bound());
  EXPECT_TRUE(frontend_->controls_enabled);

  target_->FailAfter("stop", 0);
  EXPECT_EQ(Run(&Workbench::StartTargetTest), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: target board test failed.\n");
}

TEST_F(WorkbenchTest, ResetsFollowTheCountExceptForLpcCpus) {
  reset_count_ = 3;
  Run(&Workbench::OnChecksum);
  EXPECT_EQ(target_->calls("reset"), 3);
  reset_count_ = 0;
  Run(&Workbench::OnChecksum);
  EXPECT_EQ(target_->calls("reset"), 3);

  BenchOptions lpc;
  lpc.cpu_name = "LPC2106";
  Build(lpc);
  reset_count_ = 2;
  Run(&Workbench::OnChecksum);
  EXPECT_EQ(target_->calls("reset"), 0);
  // LPC further on in the name is reset like any other.
  lpc.cpu_name = "NXP LPC2106";
  Build(lpc);
  Run(&Workbench::OnChecksum);
  EXPECT_EQ(target_->calls("reset"), 2);
}

TEST_F(WorkbenchTest, ValidationFailureStartsNothing) {
  bench_->pages().flash.chip.clear();
  EXPECT_FALSE(bench_->OnErase());
  EXPECT_FALSE(bench_->IsBusy());
  EXPECT_EQ(Lines(), Texts{"Error: you must select flash chip.\n"});
  EXPECT_EQ(target_->binds(), 0);
}

TEST_F(WorkbenchTest, NandInTheCpuNameChoosesTheSecondFamily) {
  BenchOptions nand;
  nand.cpu_name = "S3C2410 (Nand) board";
  nand.nand = true;
  Build(nand);
  Run(&Workbench::OnErase);
  EXPECT_EQ(bench_->command_code(), CommandCode::kNandErase);
  Run(&Workbench::OnProtect);
  EXPECT_EQ(bench_->command_code(), CommandCode::kNandCheckBlock);
  Run(&Workbench::OnChecksum);
  EXPECT_EQ(bench_->command_code(), CommandCode::kChecksum);

  BenchOptions nor;
  nor.flash_name = "K9F (Nand)";  // the flash name plays no part
  Build(nor);
  Run(&Workbench::OnErase);
  EXPECT_EQ(bench_->command_code(), CommandCode::kErase);
}

TEST_F(WorkbenchTest, CloseWithoutCommandAsksAboutUnsavedChanges) {
  const auto cfg = dir_ / "board.cfg";
  ASSERT_TRUE(bench_->document().SaveAs(cfg.string()));
  bench_->pages().program.ram_start = "0x0C001000";
  platform::ScopedMessageHandler cancel([](const platform::MessageRequest& request) {
    EXPECT_EQ(request.text, "Save changed to target config file?");
    return platform::MessageAnswer::Cancel;
  });
  EXPECT_FALSE(bench_->OnCloseOrStop());
  platform::ScopedMessageHandler no([](const platform::MessageRequest&) {
    return platform::MessageAnswer::No;
  });
  EXPECT_TRUE(bench_->OnCloseOrStop());
}

TEST_F(WorkbenchTest, StopDuringHostReadEndsPromptlyAndNextCommandStartsAfresh) {
  target_->set_dump_delay_ms(5);
  WriteSettings();
  ASSERT_TRUE(bench_->OnBlankCheck());
  while (target_->calls("dump") < 3) std::this_thread::sleep_for(milliseconds(1));
  const auto asked = std::chrono::steady_clock::now();
  EXPECT_FALSE(bench_->OnCloseOrStop());
  bench_->WaitForCommand();
  EXPECT_LT(std::chrono::steady_clock::now() - asked, milliseconds(100));
  EXPECT_EQ(bench_->outcome(), CommandOutcome::kStopped);
  EXPECT_EQ(LastLine(), "Info: user stop blank check.\n");
  EXPECT_EQ(frontend_->position, 0);
  EXPECT_TRUE(frontend_->controls_enabled);

  target_->set_dump_delay_ms(0);
  EXPECT_EQ(Run(&Workbench::OnBlankCheck), CommandOutcome::kSucceeded);
  EXPECT_EQ(LastLine(), "Info: blank check success.\n");
}

TEST_F(WorkbenchTest, SecondRunOnTheProgramDirectoryWaitsForTheFirst) {
  platform::DirectoryLock other;
  ASSERT_TRUE(other.Acquire(dir_, milliseconds(0)));
  bench_->set_directory_lock_timeout(milliseconds(200));
  EXPECT_EQ(Run(&Workbench::OnChecksum), CommandOutcome::kFailed);
  EXPECT_EQ(Lines(), (Texts{"Info: another command is using the program directory, waiting...\n",
                            "Error: program directory is busy, command not run.\n"}));
  EXPECT_EQ(target_->binds(), 0);
  other.Release();
  EXPECT_EQ(Run(&Workbench::OnChecksum), CommandOutcome::kSucceeded);
}

// ---------------------------------------------------------------- target test

TEST_F(WorkbenchTest, TargetTestWritesRamPatternsAndReportsDeviceCode) {
  EXPECT_EQ(Run(&Workbench::StartTargetTest), CommandOutcome::kSucceeded);
  EXPECT_EQ(Lines(), (Texts{"Info: start target test...\n", "Info: start test RAM...\n",
                            "Info: RAM test success.\n", "Info: start get flash device code...\n",
                            "Info: device code is 0x2249, target test success.\n"}));
  // The RAM test's range is the test size; the write pass ends at half.
  const auto& events = frontend_->events;
  EXPECT_NE(std::find(events.begin(), events.end(), "range 0 1024"), events.end());
  EXPECT_NE(std::find(events.begin(), events.end(), "position 510"), events.end());
  EXPECT_NE(std::find(events.begin(), events.end(), "position 1022"), events.end());
  // The target test's checks end with it: the next command runs no RAM test.
  const std::size_t before = Lines().size();
  Run(&Workbench::OnChecksum);
  const auto after = Lines();
  EXPECT_EQ(std::count(after.begin() + static_cast<std::ptrdiff_t>(before), after.end(),
                       "Info: start test RAM...\n"),
            0);
  // Device code, then the software-ID exit with the read sequence.
  const auto runs = target_->runs();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].params[0], 8);
  EXPECT_EQ(runs[0].params[1], 3);
  EXPECT_EQ(runs[1].params[1], 1);

  // With the loader kept out of RAM the test patterns stay to be seen.
  target_->FailAfter("fill", 0);
  Run(&Workbench::StartTargetTest);
  EXPECT_EQ(target_->ReadRamWord(0x0C000000), 0x55AA55AAu);
  EXPECT_EQ(target_->ReadRamWord(0x0C000000 + 1016), 0x55AA55AAu);
  EXPECT_EQ(target_->ReadRamWord(0x0C000000 + 1020), 0xAA55AA55u);
}

TEST_F(WorkbenchTest, DeviceCodeVerdicts) {
  struct Case {
    std::uint32_t value;
    int chips;
    int width;
    const char* line;
    CommandOutcome outcome;
  };
  const Case cases[] = {
      {0x2249, 1, 16, "Info: device code is 0x2249, target test success.\n",
       CommandOutcome::kSucceeded},
      {0x2249 + 0x2249 * 0x100, 2, 8,
       "Info: device code is 0x2249, read value is 0x226B49, target test success.\n",
       CommandOutcome::kSucceeded},
      {0x22492249, 2, 16,
       "Info: device code is 0x2249, read value is 0x22492249, target test success.\n",
       CommandOutcome::kSucceeded},
      {0x49, 1, 16, "Info: device code is 0x2249, read value is 0x49, target test failed.\n",
       CommandOutcome::kFailed},
  };
  for (const Case& c : cases) {
    BenchOptions options;
    options.chips = c.chips;
    options.width = c.width;
    Build(options);
    target_->set_device_code(c.value);
    EXPECT_EQ(Run(&Workbench::StartTargetTest), c.outcome) << c.line;
    EXPECT_EQ(LastLine(), c.line);
  }
  // The second family expects manufacturer code x 256 + device code.
  BenchOptions nand;
  nand.cpu_name = "S3C2410(Nand)";
  nand.nand = true;
  Build(nand);
  target_->set_device_code(0xEC * 256 + 0x2249);
  EXPECT_EQ(Run(&Workbench::StartTargetTest), CommandOutcome::kSucceeded);
  EXPECT_EQ(LastLine(), "Info: device code is 0x10E49, target test success.\n");
  EXPECT_EQ(target_->runs().size(), 1u);  // no software-ID exit follows
  target_->set_device_code(0x76);
  EXPECT_EQ(Run(&Workbench::StartTargetTest), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Info: device code is 0x10E49, read value is 0x76, target test failed.\n");
}

TEST_F(WorkbenchTest, BrokenRamFailsTheTargetTestWithAWarning) {
  target_->set_broken_ram_word(0x0C000000 + 8);
  EXPECT_EQ(Run(&Workbench::StartTargetTest), CommandOutcome::kFailed);
  ASSERT_EQ(frontend_->questions.size(), 1u);
  EXPECT_EQ(frontend_->questions[0].text,
            "Write 55aa55aa to memory 0x0C000008, but read value is 0x55AA5500, target test "
            "failed!");
  EXPECT_EQ(LastLine(), "Error: target board test failed.\n");
}

TEST_F(WorkbenchTest, ReadBackQuestionsOnlyInTheTargetTestWithThePrompt) {
  // SYSCFG is 8 bits wide: the fake keeps it, so only a register whose read
  // differs asks. Make WTCON read back something else.
  reg_check_prompt_ = 1;
  target_->FailAfter("write", 0);  // every write fails: reads give 0 ...
  bench_->pages().cpu.current.registers[0].value = 0x1234;
  frontend_->answers = {platform::MessageAnswer::No};
  EXPECT_EQ(Run(&Workbench::StartTargetTest), CommandOutcome::kFailed);
  ASSERT_EQ(frontend_->questions.size(), 1u);
  EXPECT_EQ(frontend_->questions[0].text,
            "Write 0x00001234 to register WTCON, but read value is 0x00000000, select YES to "
            "continue test!");
  EXPECT_EQ(LastLine(), "Error: target board test failed.\n");

  // A normal command never asks.
  frontend_->questions.clear();
  Run(&Workbench::OnChecksum);
  EXPECT_TRUE(frontend_->questions.empty());
  // Without the prompt the target test does not ask either.
  target_->FailAfter("write", 1 << 30);
  reg_check_prompt_ = 0;
  Run(&Workbench::StartTargetTest);
  EXPECT_TRUE(frontend_->questions.empty());
}

TEST_F(WorkbenchTest, RegisterReadFillsTheCpuPage) {
  target_->SetRegister(0x01D30000, 0x00008021);
  target_->SetRegister(0x01C00000, 0x0000000E);
  EXPECT_EQ(Run(&Workbench::RegisterRead), CommandOutcome::kSucceeded);
  EXPECT_EQ(Lines(), (Texts{"Info: start register read...\n", "Info: register read completed.\n"}));
  bench_->ApplyRegisterRead(bench_->last_report());
  const auto& registers = bench_->pages().cpu.current.registers;
  EXPECT_EQ(registers[0].value, 0x00008021u);
  EXPECT_EQ(registers[1].value, 0x0Eu);
  EXPECT_FALSE(target_->bound());
  // It runs on the worker like every command, and can be stopped.
  EXPECT_EQ(frontend_->events.front(), "controls off stoppable");
  EXPECT_EQ(frontend_->events.back(), "controls on stoppable");

  bench_->pages().cpu.chip.clear();
  EXPECT_FALSE(bench_->RegisterRead());
  EXPECT_EQ(LastLine(), "Error: you must select CPU.\n");
}

// ---------------------------------------------------------------- file helpers

TEST(FileChecks, PathLengthLimitAndDirectories) {
  RecordingFrontend frontend;
  MessageLog log(&frontend);
  const auto dir = platform::TempDirectory() / ("romsmith-files-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string base = dir.string() + "/";
  const std::string name259 = base + std::string(259 - base.size(), 'a');
  const std::string name260 = base + std::string(260 - base.size(), 'b');
  WriteFileBytes(name259, "x");
  EXPECT_TRUE(CheckFileName(name259, log));
  EXPECT_TRUE(frontend.lines.empty());
  EXPECT_FALSE(CheckFileName(name260, log));
  ASSERT_EQ(frontend.lines.size(), 1u);
  EXPECT_EQ(frontend.lines[0].text, "Error: file name error.\n");
  EXPECT_TRUE(frontend.lines[0].error);
  EXPECT_FALSE(CheckFileName(dir.string(), log));
  EXPECT_FALSE(CheckFileName(base + "missing", log));
  std::filesystem::remove_all(dir);
}

TEST(FileChecks, CauseTextsAndErrnoMapping) {
  EXPECT_EQ(FileErrorText(0), "No error occurred");
  EXPECT_EQ(FileErrorText(2), "The file could not be located");
  EXPECT_EQ(FileErrorText(11), "SHARE.EXE was not loaded, or a shared region was locked");
  EXPECT_EQ(FileErrorText(14), "The end of file was reached");
  EXPECT_EQ(FileErrorText(15), "");
  EXPECT_EQ(FileErrorText(-1), "");
  EXPECT_EQ(FileCauseFromErrno(ENOENT), FileCause::kFileNotFound);
  EXPECT_EQ(FileCauseFromErrno(EACCES), FileCause::kAccessDenied);
  EXPECT_EQ(FileCauseFromErrno(ENOSPC), FileCause::kDiskFull);
  EXPECT_EQ(FileCauseFromErrno(EMFILE), FileCause::kTooManyOpenFiles);
  EXPECT_EQ(FileCauseFromErrno(EIO), FileCause::kHardIo);
  EXPECT_EQ(FileCauseFromErrno(ENOTDIR), FileCause::kBadPath);
  EXPECT_EQ(FileCauseFromErrno(EINTR), FileCause::kGeneric);
  EXPECT_EQ(FileCauseFromError(std::make_error_code(std::errc::no_space_on_device)),
            FileCause::kDiskFull);
}

TEST(FileChecks, WritingToAFullDeviceThrowsDiskFull) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  BinaryFile file;
  ASSERT_TRUE(file.CreateForWriting("/dev/full"));
  std::string bytes(1 << 16, 'x');
  try {
    file.Write(bytes.data(), bytes.size());
    file.Close();
    FAIL() << "no exception";
  } catch (const FileException& exception) {
    EXPECT_EQ(exception.cause, FileCause::kDiskFull);
  }
}

}  // namespace
}  // namespace romsmith::testing

namespace romsmith::testing {
namespace {

TEST_F(WorkbenchTest, RamTestSizesOutsideTheOptionRangeFallBackToTheDefault) {
  // The option's range is 1..1024 KiB, as the Option dialog and --set
  // check it; a profile value outside it never reaches the RAM test, which
  // tests the default 4 KiB instead, and one warning says so.
  for (const char* kib : {"-4", "262145", "3000000"}) {
    profile_extra_ = std::string("TestRamSize=") + kib + "\n";
    EXPECT_EQ(Run(&Workbench::StartTargetTest), CommandOutcome::kSucceeded) << kib;
    const std::vector<std::string> lines = Lines();
    const std::string warning = std::string("Warning: TestRamSize=") + kib +
                                " in the profile (section \"Option\") is not an integer between "
                                "1 and 1024; the default 4 is used.\n";
    EXPECT_NE(std::find(lines.begin(), lines.end(), warning), lines.end()) << kib;
  }
}

TEST_F(WorkbenchTest, AnErrorLineDuringAFinishedCommandFailsItForEveryFrontEnd) {
  target_->set_dump_delay_ms(150);
  WriteSettings();
  CommandReport reported;
  bench_->SetCompletionCallback([&reported](const CommandReport& report) { reported = report; });
  ASSERT_TRUE(bench_->OnChecksum());
  EXPECT_FALSE(bench_->WaitForCompletion(std::chrono::milliseconds(0)));
  // A driver's own line arrives while the command runs (the message
  // callback logs it plainly, from the driver's thread).
  bench_->log().Log("Error: probe lost sync once.\n", false, false);
  EXPECT_TRUE(bench_->WaitForCompletion(std::chrono::seconds(10)));
  bench_->WaitForCommand();
  EXPECT_EQ(bench_->outcome(), CommandOutcome::kFailed);
  EXPECT_EQ(bench_->last_report().result.outcome, CommandOutcome::kFailed);
  EXPECT_EQ(reported.result.outcome, CommandOutcome::kFailed);  // what the window shows
  // The next command counts its own lines only.
  target_->set_dump_delay_ms(0);
  EXPECT_EQ(Run(&Workbench::OnChecksum), CommandOutcome::kSucceeded);
  EXPECT_TRUE(bench_->WaitForCompletion(std::chrono::milliseconds(0)));
}

TEST_F(WorkbenchTest, FileJobsRunOnTheWorkerOneAtATime) {
  WriteFileBytes(dir_ / "in.hex", ":0400000001020304F2\n:00000001FF\n");
  ASSERT_TRUE(bench_->RunFileJob(FileJob::kHexToBinary, (dir_ / "in.hex").string(),
                                 (dir_ / "out.bin").string()));
  EXPECT_TRUE(bench_->WaitForCompletion(std::chrono::seconds(10)));
  bench_->WaitForCommand();
  keep_ = {"in.hex", "out.bin"};
  EXPECT_EQ(ReadFileText(dir_ / "out.bin"), std::string("\x01\x02\x03\x04"));
  EXPECT_EQ(bench_->outcome(), CommandOutcome::kSucceeded);
  EXPECT_EQ(LastLine(), "Info: hex2bin " + (dir_ / "in.hex").string() + " " +
                            (dir_ / "out.bin").string() + " done.\n");

  // A failed conversion fails, and leaves no part file.
  ASSERT_TRUE(bench_->RunFileJob(FileJob::kDecode, (dir_ / "missing.mdl").string(),
                                 (dir_ / "out.bin").string()));
  bench_->WaitForCommand();
  EXPECT_EQ(bench_->outcome(), CommandOutcome::kFailed);
  EXPECT_EQ(ReadFileText(dir_ / "out.bin"), std::string("\x01\x02\x03\x04"));
  EXPECT_TRUE(StrayFiles().empty());

  // The maintenance with a wrong password changes nothing and fails.
  ASSERT_TRUE(bench_->RunDataFileMaintenance("wrong", true));
  bench_->WaitForCommand();
  EXPECT_EQ(bench_->outcome(), CommandOutcome::kFailed);

  // None of them, and no settings change, while a command runs.
  target_->set_dump_delay_ms(150);
  WriteSettings();
  ASSERT_TRUE(bench_->OnChecksum());
  EXPECT_FALSE(bench_->RunFileJob(FileJob::kHexToBinary, (dir_ / "in.hex").string(),
                                  (dir_ / "other.bin").string()));
  EXPECT_FALSE(bench_->RunDataFileMaintenance("wrong", true));
  EXPECT_FALSE(bench_->ChangeOptions(bench_->settings()));
  EXPECT_FALSE(bench_->ChangeConnection(bench_->settings().remote));
  bench_->WaitForCommand();
  EXPECT_EQ(bench_->outcome(), CommandOutcome::kSucceeded);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "other.bin"));
}

}  // namespace
}  // namespace romsmith::testing
