// Whole commands through the driver binding and the test driver module:
// the Workbench as the program runs it, with flash that persists in files.
#include <cstdlib>
#include <chrono>
#include <thread>

#include "operations/driver_link.h"
#include "operations/testing/workbench_fixture.h"

namespace romsmith::testing {
namespace {

using Texts = std::vector<std::string>;
using std::chrono::milliseconds;

std::string Pattern(std::size_t length) {
  std::string bytes(length, '\0');
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 7 + i / 97) & 0xFF);
  return bytes;
}

class DriverTest : public WorkbenchTest {
 protected:
  void SetUp() override { Start(BenchOptions()); }
  void TearDown() override {
    for (const std::string& name : set_) ::unsetenv(name.c_str());
    WorkbenchTest::TearDown();
  }

  void Start(const BenchOptions& options) {
    driver_directory_ = ROMSMITH_TEST_DRIVER_DIR;
    driver_module_ = "test_driver.so";
    Build(options);
    state_ = dir_ / "state";
    keep_.insert("state");
    Set("TESTDRIVER_STATE_DIR", state_.string());
    Set("TESTDRIVER_NOR", "0x0:8x0x1000");
    bench_->SetTargetLink(
        std::make_unique<DriverLink>(bench_->log()));
  }
  void Set(const std::string& name, const std::string& value) {
    ::setenv(name.c_str(), value.c_str(), 1);
    set_.push_back(name);
  }
  void UseProgram(const std::string& bytes) {
    WriteFileBytes(dir_ / "image.bin", bytes);
    keep_.insert("image.bin");
    bench_->pages().program.program_file = (dir_ / "image.bin").string();
  }

  std::filesystem::path state_;
  std::vector<std::string> set_;
};

TEST_F(DriverTest, DriverListingComesThroughTheWorkbench) {
  ASSERT_TRUE(bench_->Start({StartOptions::LogFile::kNone, false}));
  const std::vector<DriverEntry> drivers = bench_->Drivers();
  const auto found = std::find_if(drivers.begin(), drivers.end(), [](const DriverEntry& entry) {
    return entry.file_name == "test_driver.so";
  });
  ASSERT_NE(found, drivers.end());
  EXPECT_EQ(found->title, "test_driver");
}

TEST_F(DriverTest, ProgramVerifyUploadAndEraseOnTheFlash) {
  const std::string image = Pattern(10000);
  UseProgram(image);
  bench_->pages().program.auto_erase = true;
  bench_->pages().program.auto_verify = true;
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kSucceeded);
  EXPECT_EQ(Lines(), (Texts{"Info: start erase...\n", "Info: erase completed.\n",
                            "Info: start program...\n", "Info: program suceess.\n"}));
  EXPECT_EQ(ReadFileText(state_ / "nor.bin").substr(0, image.size()), image);
  EXPECT_EQ(ReadFileText(state_ / "nor.bin")[image.size()], '\xFF');

  EXPECT_EQ(Run(&Workbench::OnVerify), CommandOutcome::kSucceeded);
  EXPECT_EQ(LastLine(), "Info: verify success.\n");
  EXPECT_EQ(Run(&Workbench::OnBlankCheck), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: blank check failed, address 0x00000000 contain data 0x00.\n");

  bench_->pages().program.upload_file = (dir_ / "up.bin").string();
  keep_.insert("up.bin");
  bench_->pages().flash.sector_to = 3;
  EXPECT_EQ(Run(&Workbench::OnUpload), CommandOutcome::kSucceeded);
  EXPECT_EQ(ReadFileText(dir_ / "up.bin"), image + std::string(3 * 4096 - image.size(), '\xFF'));

  bench_->pages().flash.sector_to = 8;
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kSucceeded);
  EXPECT_EQ(Run(&Workbench::OnBlankCheck), CommandOutcome::kSucceeded);
  EXPECT_TRUE(StrayFiles().empty());
}

TEST_F(DriverTest, BigEndianTargetProgramsTheFileAsItIs) {
  BenchOptions options;
  options.little_endian = false;
  Start(options);
  const std::string image = Pattern(3000);
  UseProgram(image);
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kSucceeded);
  EXPECT_EQ(ReadFileText(state_ / "nor.bin").substr(0, image.size()), image);
}

TEST_F(DriverTest, StopDuringALoaderRunAndTheNextCommandRunsNormally) {
  Set("TESTDRIVER_RUN_NEVER_ENDS", "1");
  WriteSettings();
  ASSERT_TRUE(bench_->OnErase());
  while (LastLine() != "Info: start erase...\n") std::this_thread::sleep_for(milliseconds(1));
  std::this_thread::sleep_for(milliseconds(150));
  const auto asked = std::chrono::steady_clock::now();
  bench_->OnCloseOrStop();
  bench_->WaitForCommand();
  EXPECT_LT(std::chrono::steady_clock::now() - asked, milliseconds(150));
  EXPECT_EQ(bench_->outcome(), CommandOutcome::kStopped);
  EXPECT_EQ(LastLine(), "Info: user stop erase.\n");

  ::unsetenv("TESTDRIVER_RUN_NEVER_ENDS");
  EXPECT_EQ(Run(&Workbench::OnErase), CommandOutcome::kSucceeded);
  EXPECT_EQ(LastLine(), "Info: erase completed.\n");
}

TEST_F(DriverTest, LoaderRunsThatOutlastTheTimeOut) {
  Set("TESTDRIVER_RUN_POLLS", "1000");
  time_out_ = 1;
  bench_->set_loader_poll_interval(milliseconds(2));
  UseProgram(Pattern(100));
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: time out, program failed.\n");
}

TEST_F(DriverTest, TargetTestAndRamFault) {
  EXPECT_EQ(Run(&Workbench::StartTargetTest), CommandOutcome::kSucceeded);
  EXPECT_EQ(LastLine(), "Info: device code is 0x2249, target test success.\n");
  Set("TESTDRIVER_RAM_FAULT", "0x0C000101");
  EXPECT_EQ(Run(&Workbench::StartTargetTest), CommandOutcome::kFailed);
  ASSERT_FALSE(frontend_->questions.empty());
  EXPECT_EQ(frontend_->questions.back().text,
            "Write 55aa55aa to memory 0x0C000100, but read value is 0x55AAAAAA, target test "
            "failed!");
  EXPECT_EQ(LastLine(), "Error: target board test failed.\n");
}

TEST_F(DriverTest, DriverThatCannotConnectEndsTheCommandUnbound) {
  Set("TESTDRIVER_FAIL", "17");
  Set("TESTDRIVER_SAY", "17:Error: no probe found.");
  EXPECT_EQ(Run(&Workbench::OnChecksum), CommandOutcome::kFailed);
  EXPECT_EQ(Lines(), (Texts{"Error: no probe found.\n", "Error: no connection to the probe on LPT1 (result 7).\n"}));
  EXPECT_TRUE(frontend_->events.empty());

  driver_module_ = "missing.so";
  EXPECT_EQ(Run(&Workbench::OnChecksum), CommandOutcome::kFailed);
  EXPECT_EQ(LastLine(), "Error: unable to load emulator module.\n");
}

TEST_F(DriverTest, NandFamilyCheckProgramAndUpload) {
  BenchOptions options;
  options.cpu_name = "S3C2410 (Nand)";
  options.width = 8;
  options.sector_sizes = std::vector<std::int32_t>(8, 16384);
  options.nand = true;
  Start(options);
  Set("TESTDRIVER_NAND", "8:32:512");
  Set("TESTDRIVER_NAND_BAD", "1");
  WriteFileBytes(dir_ / "loader.bin", std::string(2500, '\x44'));
  EXPECT_EQ(Run(&Workbench::OnProtect), CommandOutcome::kSucceeded);
  EXPECT_EQ(bench_->bad_block_table()[1], 1);
  EXPECT_EQ(bench_->bad_block_table()[0], 0);
  EXPECT_EQ(bench_->bad_block_table()[2], 0);

  const std::string image = Pattern(20000);
  UseProgram(image);
  bench_->pages().program.auto_erase = true;
  bench_->pages().program.auto_verify = true;
  EXPECT_EQ(Run(&Workbench::OnProgram), CommandOutcome::kSucceeded);
  EXPECT_EQ(LastLine(), "Info: program suceess.\n");
  const std::string nand = ReadFileText(state_ / "nand.bin");
  ASSERT_EQ(nand.size(), 8u * 16384);
  EXPECT_EQ(nand.substr(0, 16384), image.substr(0, 16384));
  EXPECT_EQ(nand.substr(16384, 16384), std::string(16384, '\xFF'));  // the bad block
  EXPECT_EQ(nand.substr(32768, 20000 - 16384), image.substr(16384));

  EXPECT_EQ(Run(&Workbench::OnVerify), CommandOutcome::kSucceeded);
  bench_->pages().program.upload_file = (dir_ / "nand-up.bin").string();
  keep_.insert("nand-up.bin");
  bench_->pages().flash.sector_to = 4;
  EXPECT_EQ(Run(&Workbench::OnUpload), CommandOutcome::kSucceeded);
  EXPECT_EQ(LastLine(), "Info: upload success.\n");
  EXPECT_EQ(ReadFileText(dir_ / "nand-up.bin"), nand.substr(0, 16384) + nand.substr(32768, 32768));
  EXPECT_TRUE(StrayFiles().empty());
}

}  // namespace
}  // namespace romsmith::testing
