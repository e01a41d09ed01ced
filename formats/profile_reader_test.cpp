#include "formats/profile_reader.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstring>
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
};

// Reads through the shared engine and closes it whatever the test did.
class ProfileReaderTest : public ::testing::Test {
 protected:
  void TearDown() override { CJXINIFile::Instance().FlushViewMMF(); }

  std::string Read(const ProfileReader& reader, const char* section, const char* key) {
    std::string value = "<untouched>";
    bool found = reader.ReadString(section, key, value);
    EXPECT_EQ(found, !value.empty());
    return found ? value : "<missing>";
  }
};

TEST_F(ProfileReaderTest, KeyMatchingIsExactUpToBlanksBeforeEquals) {
  auto dir = ScratchDirectory();
  WriteFile(dir / "db.ini",
            "[CPU]\r\nNamex=y\r\nname=lower\r\nName =x\r\nName=second\r\nTab\t=t\r\nVal=  v  \r\n"
            "Empty=\r\n[Next]\r\nOnlyNext=1\r\n");
  ProfileReader reader;
  ASSERT_TRUE(reader.SetFile((dir / "db.ini").string()));
  EXPECT_FALSE(CJXINIFile::Instance().IsOpen());  // SetFile touches no file
  EXPECT_EQ(Read(reader, "CPU", "Name"), "x");
  EXPECT_EQ(Read(reader, "CPU", "Namex"), "y");
  EXPECT_EQ(Read(reader, "CPU", "name"), "lower");
  EXPECT_EQ(Read(reader, "CPU", "Tab"), "<missing>");
  EXPECT_EQ(Read(reader, "CPU", "Val"), "  v  ");
  EXPECT_EQ(Read(reader, "CPU", "Empty"), "<missing>");
  EXPECT_EQ(Read(reader, "CPU", "OnlyNext"), "<missing>");
  EXPECT_EQ(Read(reader, "Next", "OnlyNext"), "1");
  EXPECT_EQ(Read(reader, "cpu", "Name"), "<missing>");
  EXPECT_EQ(Read(reader, "Absent", "Name"), "<missing>");
  std::string value = "old";
  EXPECT_FALSE(reader.ReadString("CPU", "Nothing", value));
  EXPECT_EQ(value, "");
}

TEST_F(ProfileReaderTest, NumbersFollowDollarAndHexRulesWithoutTrimming) {
  auto dir = ScratchDirectory();
  WriteFile(dir / "n.ini",
            "[N]\nh=$10\nx=0x10\nX=0X10\nd=16\nneg=-5\nall=$FFFFFFFF\nbig=0x80000000\n"
            "blank= $10\nempty=\n");
  ProfileReader reader((dir / "n.ini").string());
  std::int32_t i = 0;
  std::uint32_t u = 0;
  for (const char* key : {"h", "x", "X", "d"}) {
    i = 0;
    u = 0;
    ASSERT_TRUE(reader.ReadInt("N", key, i)) << key;
    ASSERT_TRUE(reader.ReadUnsigned("N", key, u)) << key;
    EXPECT_EQ(i, 16) << key;
    EXPECT_EQ(u, 16u) << key;
  }
  ASSERT_TRUE(reader.ReadInt("N", "neg", i));
  EXPECT_EQ(i, -5);
  ASSERT_TRUE(reader.ReadInt("N", "all", i));
  EXPECT_EQ(i, 2147483647);
  ASSERT_TRUE(reader.ReadUnsigned("N", "all", u));
  EXPECT_EQ(u, 4294967295u);
  ASSERT_TRUE(reader.ReadUnsigned("N", "big", u));
  EXPECT_EQ(u, 0x80000000u);
  ASSERT_TRUE(reader.ReadInt("N", "blank", i));
  EXPECT_EQ(i, 0);
  i = 42;
  u = 42;
  EXPECT_FALSE(reader.ReadInt("N", "empty", i));
  EXPECT_FALSE(reader.ReadUnsigned("N", "missing", u));
  EXPECT_EQ(i, 42);
  EXPECT_EQ(u, 42u);
}

TEST_F(ProfileReaderTest, FileIsMappedOnceAndCutBackOnClose) {
  auto dir = ScratchDirectory();
  const std::string text = "[A]\nk=1\n";
  WriteFile(dir / "a.ini", text);
  CJXINIFile& engine = CJXINIFile::Instance();
  const std::size_t maps = engine.map_count();
  ProfileReader reader((dir / "a.ini").string());
  EXPECT_EQ(Read(reader, "A", "k"), "1");
  EXPECT_EQ(Read(reader, "A", "k"), "1");
  EXPECT_EQ(engine.map_count(), maps + 1);
  EXPECT_EQ(fs::file_size(dir / "a.ini"), text.size() + CJXINIFile::kMappingExtension);
  reader.Close();
  EXPECT_FALSE(engine.IsOpen());
  EXPECT_EQ(ReadFile(dir / "a.ini"), text);
  reader.Close();  // closing again is harmless
}

TEST_F(ProfileReaderTest, TrailingZeroBytesAreNotText) {
  auto dir = ScratchDirectory();
  // As a run that never closed would have left it.
  WriteFile(dir / "z.ini", std::string("[A]\r\nk=v\r\n") + std::string(4096, '\0'));
  ProfileReader reader((dir / "z.ini").string());
  EXPECT_EQ(Read(reader, "A", "k"), "v");
  EXPECT_EQ(CJXINIFile::Instance().text_length(), 10u);
  reader.Close();
  EXPECT_EQ(ReadFile(dir / "z.ini"), "[A]\r\nk=v\r\n");
}

TEST_F(ProfileReaderTest, AnotherFileClosesTheFirstAndReplacesTheIndex) {
  auto dir = ScratchDirectory();
  WriteFile(dir / "a.ini", "[OnlyA]\nk=a\n");
  WriteFile(dir / "b.ini", "[OnlyB]\nk=b\n");
  CJXINIFile& engine = CJXINIFile::Instance();
  const std::size_t maps = engine.map_count();
  ProfileReader a((dir / "a.ini").string());
  ProfileReader b((dir / "b.ini").string());
  EXPECT_EQ(Read(a, "OnlyA", "k"), "a");
  EXPECT_TRUE(engine.IsIndexed("OnlyA"));
  EXPECT_EQ(Read(b, "OnlyB", "k"), "b");
  EXPECT_EQ(fs::file_size(dir / "a.ini"), 12u);  // closed and cut back
  EXPECT_TRUE(engine.IsIndexed("OnlyB"));
  EXPECT_FALSE(engine.IsIndexed("OnlyA"));
  EXPECT_EQ(engine.indexed_section_count(), 1u);
  EXPECT_EQ(Read(a, "OnlyB", "k"), "<missing>");
  EXPECT_EQ(Read(a, "OnlyA", "k"), "a");
  EXPECT_EQ(engine.map_count(), maps + 3);
  EXPECT_EQ(engine.file_name(), (dir / "a.ini").string());
}

TEST_F(ProfileReaderTest, OverlongLinesArePassedOver) {
  auto dir = ScratchDirectory();
  std::string text = "[S]\r\n" + std::string(300, '#') + "\r\nafter=1\r\nlong=" + std::string(256, 'v') +
                     "\r\nfits=" + std::string(255, 'w') + "\r\n";
  WriteFile(dir / "l.ini", text);
  ProfileReader reader((dir / "l.ini").string());
  EXPECT_EQ(Read(reader, "S", "after"), "1");
  EXPECT_EQ(Read(reader, "S", "long"), "<missing>");  // 261 characters
  EXPECT_EQ(Read(reader, "S", "fits"), std::string(255, 'w'));  // 260 characters
}

TEST_F(ProfileReaderTest, SectionRunsToNextHeaderWhateverTheLineEnds) {
  auto dir = ScratchDirectory();
  WriteFile(dir / "e.ini",
            "top=0\r[A]\rk=1\r\r\n[B]\nk=2\n q=3\n[]\nr=4\n[C]\r\nv=x[bracket] in value\r\nw=5");
  ProfileReader reader((dir / "e.ini").string());
  EXPECT_EQ(Read(reader, "A", "k"), "1");
  EXPECT_EQ(Read(reader, "B", "k"), "2");
  EXPECT_EQ(Read(reader, "B", "q"), "<missing>");  // a blank before the key
  // A line of two brackets ends the section, though it names none.
  EXPECT_EQ(Read(reader, "B", "r"), "<missing>");
  EXPECT_EQ(Read(reader, "A", "w"), "<missing>");
  EXPECT_EQ(Read(reader, "C", "v"), "x[bracket] in value");
  EXPECT_EQ(Read(reader, "C", "w"), "5");  // value ends at the end of the text
  EXPECT_TRUE(CJXINIFile::Instance().IsIndexed("bracket"));
  EXPECT_EQ(Read(reader, "top", "top"), "<missing>");
}

TEST_F(ProfileReaderTest, RepeatedHeaderIndexesTheLastOne) {
  auto dir = ScratchDirectory();
  WriteFile(dir / "r.ini", "[A]\nfirst=1\n[B]\nb=2\n[A]\nsecond=3\n");
  ProfileReader reader((dir / "r.ini").string());
  EXPECT_EQ(Read(reader, "A", "second"), "3");
  EXPECT_EQ(Read(reader, "A", "first"), "<missing>");
}

TEST_F(ProfileReaderTest, BufferAndDefaultRules) {
  auto dir = ScratchDirectory();
  const std::string path = (dir / "d.ini").string();
  WriteFile(path, "[S]\nk=abcdef\n");
  CJXINIFile engine;
  char buffer[16];
  std::memset(buffer, 'X', sizeof buffer);
  EXPECT_EQ(engine.ReadProfileString("S", "k", "", buffer, sizeof buffer, path), 6);
  EXPECT_STREQ(buffer, "abcdef");
  EXPECT_EQ(engine.ReadProfileString("S", "k", "", buffer, 4, path), 0);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(engine.ReadProfileString("S", "k", "", buffer, 6, path), 0);
  EXPECT_STREQ(buffer, "abcde");
  EXPECT_EQ(engine.ReadProfileString("S", "missing", "dflt", buffer, sizeof buffer, path), 0);
  EXPECT_STREQ(buffer, "dflt");
  std::strcpy(buffer, "kept");
  EXPECT_EQ(engine.ReadProfileString("S", "missing", "dflt", buffer, 4, path), -1);
  EXPECT_EQ(engine.ReadProfileString("S", "k", nullptr, buffer, sizeof buffer, path), -1);
  EXPECT_EQ(engine.ReadProfileString("S", "k", "", buffer, 0, path), 0);
  EXPECT_STREQ(buffer, "kept");
  EXPECT_EQ(engine.ReadProfileString("S", "k", "", buffer, sizeof buffer, ""), -1);
  EXPECT_EQ(engine.map_count(), 1u);
  engine.FlushViewMMF();
  EXPECT_EQ(ReadFile(path), "[S]\nk=abcdef\n");
}

TEST_F(ProfileReaderTest, MissingFileIsCreatedEmptyAndReadsNothing) {
  auto dir = ScratchDirectory();
  const std::string path = (dir / "new.ini").string();
  CJXINIFile engine;
  char buffer[8];
  std::strcpy(buffer, "kept");
  EXPECT_EQ(engine.ReadProfileString("S", "k", "", buffer, sizeof buffer, path), -1);
  EXPECT_STREQ(buffer, "kept");
  EXPECT_TRUE(engine.IsOpen());
  EXPECT_TRUE(engine.FlushViewMMF());
  ASSERT_TRUE(fs::exists(path));
  EXPECT_EQ(fs::file_size(path), 0u);
}

TEST_F(ProfileReaderTest, OpenAndMappingFailuresShowTheirBoxes) {
  auto dir = ScratchDirectory();
  MessageRecorder messages;
  CJXINIFile engine;
  EXPECT_FALSE(engine.Load((dir / "no" / "such.ini").string()));
  EXPECT_FALSE(engine.Load(dir.string()));
  ASSERT_EQ(messages.shown.size(), 2u);
  for (const auto& shown : messages.shown) {
    EXPECT_EQ(shown.text, "CreateFile Failure");
    EXPECT_EQ(shown.caption, "CJXINIFile::Load");
    EXPECT_EQ(shown.icon, platform::MessageIcon::Error);
    EXPECT_EQ(shown.buttons, platform::MessageButtons::Ok);
  }
  EXPECT_FALSE(engine.IsOpen());

  // The file may not grow by the mapping's room.
  const std::string path = (dir / "small.ini").string();
  WriteFile(path, "[S]\nk=1\n");
  struct rlimit old_limit {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old_limit;
  small.rlim_cur = 64 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  char buffer[8] = "kept";
  int result = engine.ReadProfileString("S", "k", "", buffer, sizeof buffer, path);
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  ::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(result, -1);
  ASSERT_EQ(messages.shown.size(), 3u);
  EXPECT_EQ(messages.shown[2].text, "CreateFileMapping Failure");
  EXPECT_EQ(messages.shown[2].caption, "CJXINIFile::Load");
  EXPECT_FALSE(engine.IsOpen());
  EXPECT_EQ(ReadFile(path), "[S]\nk=1\n");
  // With room again the next read maps the file.
  EXPECT_EQ(engine.ReadProfileString("S", "k", "", buffer, sizeof buffer, path), 1);
  EXPECT_STREQ(buffer, "1");
}

TEST_F(ProfileReaderTest, FileRewrittenWhileOpenIsMappedAfresh) {
  auto dir = ScratchDirectory();
  const fs::path path = dir / "rom.api";
  WriteFile(path, "[Chip]\nSize=1\n");
  ProfileReader reader(path.string());
  CJXINIFile& engine = CJXINIFile::Instance();
  const std::size_t maps = engine.map_count();
  EXPECT_EQ(Read(reader, "Chip", "Size"), "1");
  // Decoded again into the same name without a Close in between.
  WriteFile(path, "[Chip]\nSize=22\n");
  EXPECT_EQ(Read(reader, "Chip", "Size"), "22");
  EXPECT_EQ(engine.map_count(), maps + 2);
  // Rewritten again and then closed: the new text is not cut to the old one.
  WriteFile(path, "[Chip]\nSize=333\n");
  reader.Close();
  EXPECT_EQ(ReadFile(path), "[Chip]\nSize=333\n");
  // Replaced by another file under the same name.
  EXPECT_EQ(Read(reader, "Chip", "Size"), "333");
  WriteFile(dir / "other", "[Chip]\nSize=4\n");
  fs::rename(dir / "other", path);
  EXPECT_EQ(Read(reader, "Chip", "Size"), "4");
  reader.Close();
  EXPECT_EQ(ReadFile(path), "[Chip]\nSize=4\n");
}

TEST_F(ProfileReaderTest, SharedEngineClosesAtDestruction) {
  auto dir = ScratchDirectory();
  WriteFile(dir / "x.ini", "[S]\nk=1\n");
  {
    CJXINIFile engine;
    ASSERT_TRUE(engine.Load((dir / "x.ini").string()));
    EXPECT_TRUE(engine.Load((dir / "x.ini").string()));
    EXPECT_EQ(engine.map_count(), 1u);
    EXPECT_GT(fs::file_size(dir / "x.ini"), CJXINIFile::kMappingExtension);
  }
  EXPECT_EQ(fs::file_size(dir / "x.ini"), 8u);
}

}  // namespace
}  // namespace romsmith
