#include "formats/data_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdlib>
#include <random>
#include <set>
#include <vector>

#include "formats/test_files.h"
#include "platform/message_box.h"

namespace romsmith {
namespace {

namespace fs = std::filesystem;
using platform::MessageAnswer;
using platform::MessageRequest;
using romsmith::testing::ReadFile;
using romsmith::testing::ScratchDirectory;
using romsmith::testing::WriteFile;

struct MessageRecorder {
  std::vector<MessageRequest> shown;
  platform::ScopedMessageHandler scope{[this](const MessageRequest& request) {
    shown.push_back(request);
    return MessageAnswer::Ok;
  }};
  std::vector<std::string> texts() const {
    std::vector<std::string> result;
    for (const auto& request : shown) result.push_back(request.text);
    return result;
  }
};

std::string RandomBytes(std::size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(count, '\0');
  for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
  return bytes;
}

TEST(DataFileSubstitution, LettersRotateWithinCaseOthersPassOrSwapInPairs) {
  std::set<int> images;
  int swapped = 0;
  for (int c = 0; c < 256; ++c) {
    auto plain = static_cast<std::uint8_t>(c);
    std::uint8_t scrambled = ScrambleByte(plain);
    images.insert(scrambled);
    EXPECT_EQ(UnscrambleByte(scrambled), plain) << c;
    if (c >= 'A' && c <= 'Z') {
      EXPECT_TRUE(scrambled >= 'A' && scrambled <= 'Z') << c;
      EXPECT_NE(scrambled, plain) << c;
    } else if (c >= 'a' && c <= 'z') {
      EXPECT_TRUE(scrambled >= 'a' && scrambled <= 'z') << c;
      EXPECT_EQ(scrambled - 'a', ScrambleByte(static_cast<std::uint8_t>(c - 'a' + 'A')) - 'A') << c;
    } else if (scrambled != plain) {
      ++swapped;
      EXPECT_EQ(ScrambleByte(scrambled), plain) << c;  // an exchanged pair
      EXPECT_TRUE(std::ispunct(c)) << c;
    }
  }
  EXPECT_EQ(images.size(), 256u);
  EXPECT_EQ(swapped, 4);
  for (char c : std::string("0123456789 \t\r\n")) {
    EXPECT_EQ(ScrambleByte(static_cast<std::uint8_t>(c)), static_cast<std::uint8_t>(c));
  }
  for (int c = 128; c < 256; ++c) EXPECT_EQ(ScrambleByte(static_cast<std::uint8_t>(c)), c);
  // The rotation wraps from Z back to A.
  EXPECT_EQ(UnscrambleByte(ScrambleByte('Z')), 'Z');
  EXPECT_LT(ScrambleByte('Z'), 'Z');
}

TEST(DataFileTransforms, RandomFilesRoundTripAtEveryLength) {
  auto dir = ScratchDirectory();
  for (std::size_t length : {0u, 1u, 2u, 7u, 8191u, 8192u, 8193u, 40001u}) {
    const std::string plain = RandomBytes(length, static_cast<unsigned>(length) + 3);
    WriteFile(dir / "plain", plain);
    ASSERT_TRUE(EncodeDataFile((dir / "plain").string(), (dir / "scrambled").string())) << length;
    const std::string scrambled = ReadFile(dir / "scrambled");
    ASSERT_EQ(scrambled.size(), 2 * length);
    for (std::size_t i = 0; i < length; ++i) {
      ASSERT_EQ(static_cast<std::uint8_t>(scrambled[2 * i]), ScrambleByte(static_cast<std::uint8_t>(plain[i])));
    }
    ASSERT_TRUE(DecodeDataFile((dir / "scrambled").string(), (dir / "decoded").string())) << length;
    EXPECT_EQ(ReadFile(dir / "decoded"), plain) << length;
  }
}

TEST(DataFileTransforms, DecodingIgnoresFillerAndToleratesOddLength) {
  auto dir = ScratchDirectory();
  const std::string text = "[CPU]\r\nName=LPC2106 (Nand)\r\n";
  std::string scrambled;
  std::string fillers = RandomBytes(text.size(), 99);
  for (std::size_t i = 0; i < text.size(); ++i) {
    scrambled += static_cast<char>(ScrambleByte(static_cast<std::uint8_t>(text[i])));
    scrambled += fillers[i];
  }
  WriteFile(dir / "in.xdl", scrambled);
  ASSERT_TRUE(DecodeDataFile((dir / "in.xdl").string(), (dir / "out.ini").string()));
  EXPECT_EQ(ReadFile(dir / "out.ini"), text);

  // Without its last filler byte the file is one byte short of even.
  scrambled.pop_back();
  WriteFile(dir / "odd.xdl", scrambled);
  ASSERT_TRUE(DecodeDataFile((dir / "odd.xdl").string(), (dir / "odd.ini").string()));
  EXPECT_EQ(ReadFile(dir / "odd.ini"), text);
  WriteFile(dir / "one.xdl", std::string(1, static_cast<char>(ScrambleByte('q'))));
  ASSERT_TRUE(DecodeDataFile((dir / "one.xdl").string(), (dir / "one.bin").string()));
  EXPECT_EQ(ReadFile(dir / "one.bin"), "q");
}

TEST(DataFileTransforms, ScramblingIsRepeatableAndHidesLetters) {
  auto dir = ScratchDirectory();
  WriteFile(dir / "cpu.ini", "[Vendor]\r\nName=Example\r\n");
  ASSERT_TRUE(EncodeDataFile((dir / "cpu.ini").string(), (dir / "a.xdl").string()));
  ASSERT_TRUE(EncodeDataFile((dir / "cpu.ini").string(), (dir / "b.xdl").string()));
  EXPECT_EQ(ReadFile(dir / "a.xdl"), ReadFile(dir / "b.xdl"));
  EXPECT_EQ(ReadFile(dir / "a.xdl").find("Vendor"), std::string::npos);
}

TEST(DataFileTransforms, OpenFailuresShowTheirBoxes) {
  auto dir = ScratchDirectory();
  MessageRecorder messages;
  const std::string missing = (dir / "missing.bin").string();
  EXPECT_FALSE(EncodeDataFile(missing, (dir / "out").string()));
  EXPECT_FALSE(DecodeDataFile(dir.string(), (dir / "out").string()));
  WriteFile(dir / "in", "abc");
  EXPECT_FALSE(EncodeDataFile((dir / "in").string(), (dir / "no" / "out").string()));
  // Naming the input as the output must not destroy it.
  EXPECT_FALSE(DecodeDataFile((dir / "in").string(), (dir / "in").string()));
  EXPECT_EQ(ReadFile(dir / "in"), "abc");
  EXPECT_EQ(messages.texts(), (std::vector<std::string>{
                                  "Error: can't open input file" + missing + " !",
                                  "Error: can't open input file" + dir.string() + " !",
                                  "Error: can't create output file!",
                                  "Error: can't create output file!",
                              }));
  for (const auto& shown : messages.shown) EXPECT_EQ(shown.icon, platform::MessageIcon::Warning);
  EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(DataFileTransforms, WriteFailureMidwayIsAFileException) {
  auto dir = ScratchDirectory();
  WriteFile(dir / "big", RandomBytes(64 * 1024, 5));
  MessageRecorder messages;
  struct rlimit old_limit {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old_limit;
  small.rlim_cur = 70 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  bool encoded = EncodeDataFile((dir / "big").string(), (dir / "big.mdl").string());
  bool decoded = DecodeDataFile((dir / "big").string(), (dir / "big.out").string());
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  ::signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(encoded);
  EXPECT_TRUE(decoded);  // half the size fits
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"Error: file exception, e file failed!"});
  EXPECT_LE(fs::file_size(dir / "big.mdl"), 70u * 1024u);
}

TEST(DataFileMaintenance, WrongPasswordDoesNothing) {
  auto dir = ScratchDirectory();
  MessageRecorder messages;
  for (std::string_view password : {"qorin7", "Qorin", "Qorin7 ", ""}) {
    for (auto action : {MaintenanceAction::Scramble, MaintenanceAction::Unscramble}) {
      MaintenanceResult result = RunDataFileMaintenance(password, action, dir.string());
      EXPECT_FALSE(result.password_accepted);
      EXPECT_EQ(result.pairs_done + result.pairs_failed, 0);
    }
  }
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_TRUE(fs::is_empty(dir));
}

TEST(DataFileMaintenance, ScrambleThenUnscrambleAllPairs) {
  auto dir = ScratchDirectory();
  MessageRecorder messages;
  for (const auto& pair : kDataFilePairs) WriteFile(dir / pair.plain, std::string("data of ") + pair.plain);
  MaintenanceResult scrambled = RunDataFileMaintenance("Qorin7", MaintenanceAction::Scramble, dir.string());
  EXPECT_TRUE(scrambled.password_accepted);
  EXPECT_EQ(scrambled.pairs_done, 12);
  EXPECT_TRUE(messages.shown.empty());
  for (const auto& pair : kDataFilePairs) {
    EXPECT_EQ(fs::file_size(dir / pair.scrambled), 2 * fs::file_size(dir / pair.plain)) << pair.scrambled;
  }
  // The plain databases already there are not overwritten by the unscramble.
  WriteFile(dir / "cpu.ini", "edited");
  MaintenanceResult plain = RunDataFileMaintenance("Qorin7", MaintenanceAction::Unscramble, dir.string() + "/");
  EXPECT_EQ(plain.pairs_done, 12);
  EXPECT_EQ(ReadFile(dir / "cpu.ini"), "edited");
  EXPECT_EQ(ReadFile(dir / "cpu.ini.bak"), "data of cpu.ini");
  EXPECT_EQ(ReadFile(dir / "flash.ini.bak"), "data of flash.ini");
  EXPECT_EQ(ReadFile(dir / "str71x.bin"), "data of str71x.bin");
}

TEST(DataFileMaintenance, FailingPairDoesNotStopTheOthers) {
  auto dir = ScratchDirectory();
  MessageRecorder messages;
  WriteFile(dir / "flash.ini", "[Flash]\r\n");
  WriteFile(dir / "nan65l.bin", "\x01\x02");
  MaintenanceResult result = RunDataFileMaintenance("Qorin7", MaintenanceAction::Scramble, dir.string());
  EXPECT_EQ(result.pairs_done, 2);
  EXPECT_EQ(result.pairs_failed, 10);
  ASSERT_EQ(messages.shown.size(), 10u);
  EXPECT_EQ(messages.shown[0].text, "Error: can't open input file" + dir.string() + "/cpu.ini !");
  EXPECT_EQ(messages.shown[9].text, "Error: can't open input file" + dir.string() + "/nan24l.bin !");
  EXPECT_TRUE(fs::exists(dir / "rom.xdl"));
  EXPECT_TRUE(fs::exists(dir / "nan65l.mdl"));
  EXPECT_FALSE(fs::exists(dir / "proc.xdl"));
}

int RunTool(const std::string& arguments, const fs::path& error_file) {
  std::string command = std::string(ROMSMITH_XDL_TOOL) + " " + arguments + " 2>" + error_file.string();
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(DataFileTool, EncodesDecodesAndReportsErrors) {
  auto dir = ScratchDirectory();
  const std::string plain = RandomBytes(1001, 17);
  WriteFile(dir / "arml.bin", plain);
  const fs::path errors = dir / "stderr.txt";
  const std::string in = (dir / "arml.bin").string();
  const std::string mdl = (dir / "parl.mdl").string();
  const std::string back = (dir / "back.bin").string();
  EXPECT_EQ(RunTool("encode " + in + " " + mdl, errors), 0);
  EXPECT_EQ(ReadFile(errors), "");
  EXPECT_EQ(RunTool("decode " + mdl + " " + back, errors), 0);
  EXPECT_EQ(ReadFile(back), plain);
  EXPECT_EQ(ReadFile(mdl).size(), 2002u);

  EXPECT_EQ(RunTool("decode " + (dir / "none").string() + " " + back, errors), 1);
  EXPECT_EQ(ReadFile(errors), "romsmith-xdl: Error: can't open input file" + (dir / "none").string() + " !\n");
  EXPECT_EQ(RunTool("encode " + in, errors), 1);
  EXPECT_NE(ReadFile(errors).find("usage: romsmith-xdl encode PLAIN SCRAMBLED"), std::string::npos);
  EXPECT_EQ(RunTool("scramble " + in + " " + mdl, errors), 1);
  EXPECT_NE(ReadFile(errors).find("unknown command 'scramble'"), std::string::npos);
}

}  // namespace
}  // namespace romsmith
