#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "platform/directory_lock.h"
#include "platform/event.h"
#include "platform/mapped_file.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/shared_library.h"
#include "platform/ticks.h"

namespace fs = std::filesystem;
using namespace platform;

namespace {

fs::path FreshDirectory(const char* name) {
  auto dir = TempDirectory() / ("romsmith-platform-" + std::to_string(::getpid())) / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

}  // namespace

TEST(Paths, DirectoryTextsEndInOneSeparator) {
  EXPECT_EQ(WithTrailingSeparator("drivers"), "drivers/");
  EXPECT_EQ(WithTrailingSeparator("drivers/"), "drivers/");
  EXPECT_EQ(WithTrailingSeparator(""), "");
  SetProgramDirectory("/opt/romsmith/");
  EXPECT_EQ(ProgramDirectoryText(), "/opt/romsmith/");
  SetProgramDirectory("/opt/romsmith");
  EXPECT_EQ(ProgramDirectoryText(), "/opt/romsmith/");
}

TEST(Paths, NamesWithColonOrRootAreAbsolute) {
  EXPECT_TRUE(IsAbsoluteName("/usr/share/x.mdl"));
  EXPECT_TRUE(IsAbsoluteName("C:loader.mdl"));
  EXPECT_FALSE(IsAbsoluteName("loaders/x.mdl"));
  EXPECT_EQ(StripSharedLibrarySuffix("osprey7.so"), "osprey7");
  EXPECT_EQ(StripSharedLibrarySuffix("osprey7"), "osprey7");
}

TEST(Paths, ProfileEnvironmentVariableWins) {
  ::setenv("ROMSMITH_PROFILE", "/tmp/some-profile.ini", 1);
  EXPECT_EQ(ProfilePath(), fs::path("/tmp/some-profile.ini"));
  ::unsetenv("ROMSMITH_PROFILE");
  ::setenv("XDG_CONFIG_HOME", "/tmp/xdg", 1);
  EXPECT_EQ(ProfilePath(), fs::path("/tmp/xdg/Romsmith/Romsmith.ini"));
}

TEST(MessageBox, HandlerSeesRequestAndAnswers) {
  MessageRequest seen;
  {
    ScopedMessageHandler scoped([&](const MessageRequest& request) {
      seen = request;
      return MessageAnswer::No;
    });
    EXPECT_EQ(ShowMessage("Save?", "Romsmith", MessageIcon::Question, MessageButtons::YesNo),
              MessageAnswer::No);
  }
  EXPECT_EQ(seen.text, "Save?");
  EXPECT_EQ(seen.icon, MessageIcon::Question);
  // With the handler gone the default answers the first button.
  testing::internal::CaptureStderr();
  EXPECT_EQ(ShowMessage("x", "c", MessageIcon::Error, MessageButtons::YesNoCancel),
            MessageAnswer::Yes);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "c: x\n");
  EXPECT_EQ(NegativeAnswer(MessageButtons::YesNoCancel), MessageAnswer::Cancel);
  EXPECT_EQ(NegativeAnswer(MessageButtons::YesNo), MessageAnswer::No);
}

TEST(MessageBox, ThreadHandlerServesOnlyItsThreadAndNests) {
  ScopedMessageHandler process([](const MessageRequest&) { return MessageAnswer::Ok; });
  ScopedThreadMessageHandler outer([](const MessageRequest&) { return MessageAnswer::No; });
  {
    ScopedThreadMessageHandler inner([](const MessageRequest&) { return MessageAnswer::Cancel; });
    EXPECT_EQ(ShowMessage("q"), MessageAnswer::Cancel);
  }
  EXPECT_EQ(ShowMessage("q"), MessageAnswer::No);
  MessageAnswer other = MessageAnswer::Yes;
  std::thread([&] { other = ShowMessage("q"); }).join();
  EXPECT_EQ(other, MessageAnswer::Ok);
}

TEST(MappedFile, MappingLengthensAndTruncateRestores) {
  auto dir = FreshDirectory("mapped");
  auto path = dir / "text.ini";
  std::ofstream(path, std::ios::binary) << "[A]\r\nk=v\r\n";
  MappedFile file;
  ASSERT_TRUE(file.Open(path, MappedFile::OpenMode::ExistingOnly));
  ASSERT_EQ(file.Size().value(), 10u);
  ASSERT_TRUE(file.Map(10 + 0x100000));
  EXPECT_EQ(fs::file_size(path), 10u + 0x100000);
  EXPECT_EQ(std::string(file.data(), 3), "[A]");
  file.Unmap();
  ASSERT_TRUE(file.Truncate(10));
  file.Close();
  EXPECT_EQ(fs::file_size(path), 10u);
}

TEST(MappedFile, ExistingOnlyRefusesMissingFileAndCreateMakesIt) {
  auto dir = FreshDirectory("missing");
  MappedFile file;
  EXPECT_FALSE(file.Open(dir / "absent", MappedFile::OpenMode::ExistingOnly));
  ASSERT_TRUE(file.Open(dir / "absent", MappedFile::OpenMode::OpenOrCreate));
  EXPECT_EQ(file.Size().value(), 0u);
}

TEST(SharedLibrary, FindsExportsAndReportsFailure) {
  SharedLibrary library;
  EXPECT_FALSE(library.Open("/nonexistent/module.so"));
  EXPECT_FALSE(library.error().empty());
  ASSERT_TRUE(library.Open("libm.so.6"));
  auto cosine = library.Get<double (*)(double)>("cos");
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(library.Symbol("no_such_export_here"), nullptr);
  SharedLibrary moved = std::move(library);
  EXPECT_TRUE(moved.IsOpen());
  EXPECT_FALSE(library.IsOpen());
}

TEST(Event, StaysSetUntilReset) {
  Event event;
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.WaitFor(std::chrono::milliseconds(1)));
  std::thread setter([&] { event.Set(); });
  EXPECT_TRUE(event.WaitFor(std::chrono::seconds(5)));
  setter.join();
  EXPECT_TRUE(event.IsSet());
  event.Reset();
  EXPECT_FALSE(event.IsSet());
}

TEST(Ticks, CounterAdvancesWithTime) {
  auto start = TickCount64();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  auto elapsed = TickCount64() - start;
  EXPECT_GE(elapsed, 25u);
  EXPECT_LT(elapsed, 5000u);
}

TEST(DirectoryLock, SecondHolderWaitsUntilRelease) {
  auto dir = FreshDirectory("lock");
  DirectoryLock first, second;
  ASSERT_TRUE(first.Acquire(dir, std::chrono::milliseconds(0)));
  EXPECT_FALSE(second.Acquire(dir, std::chrono::milliseconds(50)));
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    first.Release();
  });
  EXPECT_TRUE(second.Acquire(dir, std::chrono::seconds(5)));
  releaser.join();
}
