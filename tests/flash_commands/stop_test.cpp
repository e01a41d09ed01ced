// Stop while a loader runs under real-time timing. Run on its own (serially),
// since it measures how soon the command line answers.
#include <signal.h>

#include <atomic>

#include "tests/flash_commands/flash_commands_fixture.h"

namespace flash_commands {
namespace {

TEST_F(FlashCommands, StopDuringProgramEndsWithinTwoHundredMilliseconds) {
  Target t;
  t.real_time = true;
  t.board_extra = "ProgramTimeUs=1000\n";  // a chunk takes about half a second
  Prepare(t);
  WriteBytes(root_ / "data.bin", Pattern(8192, 1));
  int fd = -1;
  const pid_t pid = Start("-f " + (root_ / "data.bin").string() + " -s 1-1 --no-auto-erase program", fd);
  ASSERT_GT(pid, 0);
  // A command line that never stops must not hang the suite.
  std::atomic<bool> ended{false};
  std::thread guard([pid, &ended] {
    for (int i = 0; i < 600 && !ended; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!ended) ::kill(pid, SIGKILL);  // not reaped yet: the pid is still the child's
  });
  std::string out;
  char buffer[4096];
  const auto read_until = [&](const std::string& line) {
    while (out.find(line) == std::string::npos) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0) return false;
      out.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  };
  ASSERT_TRUE(read_until("Info: start program...\n")) << out;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto stop = std::chrono::steady_clock::now();
  ::kill(pid, SIGINT);
  ASSERT_TRUE(read_until("Info: user stop program.\n")) << out;
  const auto waited = std::chrono::steady_clock::now() - stop;
  EXPECT_LE(std::chrono::duration_cast<std::chrono::milliseconds>(waited).count(), 200) << out;
  while (::read(fd, buffer, sizeof buffer) > 0) {
  }
  ::close(fd);
  ended = true;
  guard.join();
  EXPECT_EQ(Wait(pid), 3) << out;
}

// The words before the stop are in the flash, none after, and none by half.
TEST_F(FlashCommands, StopDuringAStreamLeavesWholeWordsOnly) {
  // Deterministic timing: the core keeps pace with the probe's clock, and
  // 1 MiB takes the stream some seconds.
  Target t;
  Prepare(t);
  const Bytes file = Pattern(1024 * 1024, 5);
  WriteBytes(root_ / "data.bin", file);
  int fd = -1;
  const pid_t pid = Start("-f " + (root_ / "data.bin").string() +
                              " -s 1-19 --no-auto-erase --set Option.StreamProgram=1 program",
                          fd);
  ASSERT_GT(pid, 0);
  std::atomic<bool> ended{false};
  std::thread guard([pid, &ended] {
    for (int i = 0; i < 600 && !ended; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!ended) ::kill(pid, SIGKILL);
  });
  std::string out;
  char buffer[4096];
  const auto read_until = [&](const std::string& line) {
    while (out.find(line) == std::string::npos) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0) return false;
      out.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  };
  ASSERT_TRUE(read_until("Info: start program...\n")) << out;
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const auto stop = std::chrono::steady_clock::now();
  ::kill(pid, SIGINT);
  ASSERT_TRUE(read_until("Info: user stop program.\n")) << out;
  const auto waited = std::chrono::steady_clock::now() - stop;
  EXPECT_LE(std::chrono::duration_cast<std::chrono::milliseconds>(waited).count(), 200) << out;
  while (::read(fd, buffer, sizeof buffer) > 0) {
  }
  ::close(fd);
  ended = true;
  guard.join();
  EXPECT_EQ(Wait(pid), 3) << out;
  const Bytes flash = Flash();
  std::size_t programmed = 0;
  while (programmed < file.size() && flash[programmed] == file[programmed]) ++programmed;
  // Some words went in, not all; a 16-bit word is the file's or erased.
  EXPECT_GT(programmed, 0u);
  EXPECT_LT(programmed, file.size());
  for (std::size_t i = programmed & ~std::size_t{1}; i < file.size(); i += 2)
    ASSERT_TRUE(flash[i] == 0xFF && flash[i + 1] == 0xFF) << "at " << i;
}

}  // namespace
}  // namespace flash_commands
