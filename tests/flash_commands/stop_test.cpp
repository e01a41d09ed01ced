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

}  // namespace
}  // namespace flash_commands
