#include "formats/ini_document.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

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

// Records every message box and answers OK.
struct MessageRecorder {
  std::vector<MessageRequest> shown;
  platform::ScopedMessageHandler scope{[this](const MessageRequest& request) {
    shown.push_back(request);
    return MessageAnswer::Ok;
  }};
};

IniDocument FromText(std::string_view text) {
  IniDocument document;
  document.LoadFromText(text);
  return document;
}

TEST(IniDocumentFiles, UnchangedFileWithCrLfIsReproducedByteForByte) {
  auto dir = ScratchDirectory();
  const std::string original =
      "; settings\r\n\r\n[Directory]\r\nDevice=drivers/\r\n  odd line = kept \r\n[Empty]\r\n"
      "[Remote]\r\nDevice=wren7.so\r\nKey With Blank =1\r\n\r\n";
  WriteFile(dir / "a.ini", original);
  IniDocument document;
  ASSERT_TRUE(document.Load((dir / "a.ini").string()));
  EXPECT_EQ(document.lines().size(), 10u);
  EXPECT_EQ(document.lines()[4], "  odd line = kept ");
  ASSERT_TRUE(document.Save());
  EXPECT_EQ(ReadFile(dir / "a.ini"), original);
  ASSERT_TRUE(document.SaveAs((dir / "b.ini").string()));
  EXPECT_EQ(ReadFile(dir / "b.ini"), original);
  EXPECT_EQ(document.file_name(), (dir / "a.ini").string());
  // No temporary files stay behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

TEST(IniDocumentFiles, LineEndsBecomeCrLfAndLastLineNeedsNoBreak) {
  auto dir = ScratchDirectory();
  WriteFile(dir / "lf.ini", "[A]\nx=1\n\nlast");
  IniDocument document((dir / "lf.ini").string());
  ASSERT_EQ(document.lines(), (std::vector<std::string>{"[A]", "x=1", "", "last"}));
  ASSERT_TRUE(document.Save());
  EXPECT_EQ(ReadFile(dir / "lf.ini"), "[A]\r\nx=1\r\n\r\nlast\r\n");
  // Only a CR right before the LF goes with it.
  document.LoadFromText("a\r\r\nb\rc\r\n");
  EXPECT_EQ(document.lines(), (std::vector<std::string>{"a\r", "b\rc"}));
  document.LoadFromText("");
  EXPECT_TRUE(document.lines().empty());
  document.LoadFromText("\n");
  EXPECT_EQ(document.lines(), std::vector<std::string>{""});
}

TEST(IniDocumentFiles, LongLinesSurviveWhole) {
  auto dir = ScratchDirectory();
  std::string value(5000, 'v');
  WriteFile(dir / "long.ini", "[S]\r\nk=" + value + "\r\n");
  IniDocument document((dir / "long.ini").string());
  std::string read;
  ASSERT_TRUE(document.GetString("S", "k", read));
  EXPECT_EQ(read, value);
}

TEST(IniDocumentFiles, MissingFileLoadsEmptyAndSaveCreatesIt) {
  auto dir = ScratchDirectory();
  const std::string path = (dir / "new.ini").string();
  IniDocument document;
  document.LoadFromText("[Old]\r\n");
  EXPECT_FALSE(document.Load(path));
  EXPECT_EQ(document.file_name(), path);
  EXPECT_TRUE(document.lines().empty());
  EXPECT_FALSE(fs::exists(path));
  ASSERT_TRUE(document.SetInt("Option", "TimeOut", 5));
  ASSERT_TRUE(document.Save());
  EXPECT_EQ(ReadFile(path), "[Option]\r\nTimeOut=5\r\n");
  EXPECT_FALSE(document.Load(dir.string()));  // a directory is no INI file
}

TEST(IniDocumentFiles, UnwritableTargetShowsMessageAndKeepsLines) {
  auto dir = ScratchDirectory();
  MessageRecorder messages;
  IniDocument document = FromText("[A]\r\nx=1\r\n");
  const std::string path = (dir / "missing" / "c.cfg").string();
  EXPECT_FALSE(document.SaveAs(path));
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "Can not open " + path + " for writing!");
  EXPECT_EQ(messages.shown[0].icon, platform::MessageIcon::Warning);
  EXPECT_EQ(messages.shown[0].buttons, platform::MessageButtons::Ok);
  EXPECT_EQ(document.lines().size(), 2u);
  // A directory in the way fails the same way and stays a directory.
  EXPECT_FALSE(document.SaveAs(dir.string()));
  ASSERT_EQ(messages.shown.size(), 2u);
  EXPECT_EQ(messages.shown[1].text, "Can not open " + dir.string() + " for writing!");
  EXPECT_TRUE(fs::is_directory(dir));
  // An empty document has no file name to save to.
  IniDocument unnamed;
  EXPECT_FALSE(unnamed.Save());
  EXPECT_EQ(messages.shown.size(), 3u);
}

TEST(IniDocumentFiles, WriteFailingMidwayLeavesOldFileIntact) {
  auto dir = ScratchDirectory();
  const std::string path = (dir / "romsmith.ini").string();
  const std::string old_text = "[Option]\r\nTimeOut=5\r\n";
  WriteFile(path, old_text);
  IniDocument document(path);
  document.SetString("Option", "Big", std::string(64 * 1024, 'x'));

  MessageRecorder messages;
  // Files of this process may not grow beyond 4 KiB: the write of the new
  // contents breaks off partway, as on a full disk.
  struct rlimit old_limit {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old_limit;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  bool saved = document.Save();
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  ::signal(SIGXFSZ, old_handler);

  EXPECT_FALSE(saved);
  ASSERT_EQ(messages.shown.size(), 1u);
  EXPECT_EQ(messages.shown[0].text, "Can not write " + path + "!");
  EXPECT_EQ(ReadFile(path), old_text);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  // With room again the same document saves.
  EXPECT_TRUE(document.Save());
  EXPECT_GT(fs::file_size(path), 64u * 1024u);
}

TEST(IniDocumentFiles, SaveKeepsPermissionsAndSymbolicLinks) {
  auto dir = ScratchDirectory();
  WriteFile(dir / "real.cfg", "[SETUP]\r\n");
  ::chmod((dir / "real.cfg").c_str(), 0640);
  // Where we may hand files to another owner (as root), the owner stays.
  const bool may_chown = ::chown((dir / "real.cfg").c_str(), 4321, 4321) == 0;
  fs::create_symlink(dir / "real.cfg", dir / "link.cfg");
  IniDocument document((dir / "link.cfg").string());
  document.SetInt("SETUP", "Chips", 2);
  ASSERT_TRUE(document.Save());
  EXPECT_TRUE(fs::is_symlink(dir / "link.cfg"));
  EXPECT_EQ(ReadFile(dir / "real.cfg"), "[SETUP]\r\nChips=2\r\n");
  struct stat info {};
  ASSERT_EQ(::stat((dir / "real.cfg").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  if (may_chown) {
    EXPECT_EQ(info.st_uid, 4321u);
    EXPECT_EQ(info.st_gid, 4321u);
  }
}

TEST(IniDocumentLines, HeadersAreExactBracketedLines) {
  EXPECT_TRUE(IniDocument::IsHeaderLine("[A]"));
  EXPECT_FALSE(IniDocument::IsHeaderLine("[]"));
  EXPECT_FALSE(IniDocument::IsHeaderLine(" [A]"));
  EXPECT_FALSE(IniDocument::IsHeaderLine("[A] "));
  EXPECT_FALSE(IniDocument::IsHeaderLine("[A"));
  IniDocument document = FromText(" [A]\n[A] \n[a]\n[A]\n");
  EXPECT_EQ(document.FindSection("A"), 3);
  EXPECT_EQ(document.FindSection("a"), 2);
  EXPECT_EQ(document.FindSection("B"), -1);
  EXPECT_EQ(document.FindSection(static_cast<const char*>(nullptr)), -1);
  EXPECT_EQ(document.AddSection(static_cast<const char*>(nullptr)), -1);
  EXPECT_EQ(document.AddSection("A"), 3);
  EXPECT_EQ(document.AddSection("B"), 4);
  EXPECT_EQ(document.lines().back(), "[B]");
  EXPECT_EQ(document.lines().size(), 5u);
}

TEST(IniDocumentLines, FindKeyStopsAtNextHeaderAndTakesFirstMatch) {
  IniDocument document = FromText("top=0\n[A]\nk =1\nK=2\nk=\nk=3\n[]\nk=4\n[B]\nk=5\n");
  std::string value = "untouched";
  // "[]" is no header, so the scan runs on past it; "k=" is the first match.
  EXPECT_EQ(document.FindKey(2, "k", value), 4);
  EXPECT_EQ(value, "");
  EXPECT_EQ(document.FindKey(5, "k", value), 5);
  EXPECT_EQ(value, "3");
  EXPECT_EQ(document.FindKey(0, "top", value), 0);  // before any header
  value = "untouched";
  EXPECT_EQ(document.FindKey(2, "missing", value), -1);
  EXPECT_EQ(document.FindKey(8, "k", value), -1);  // starting on a header
  EXPECT_EQ(document.FindKey(-1, "k", value), -1);
  EXPECT_EQ(document.FindKey(100, "k", value), -1);
  EXPECT_EQ(value, "untouched");
}

TEST(IniDocumentLines, RemoveSectionTakesHeaderAndBodyOnly) {
  IniDocument document = FromText("; c\n[A]\nx=1\n; note\n[]\n[B]\ny=2\n[A]\nz=3\n");
  document.RemoveSection("A");
  EXPECT_EQ(document.lines(), (std::vector<std::string>{"; c", "[B]", "y=2", "[A]", "z=3"}));
  document.RemoveSection("Absent");
  EXPECT_EQ(document.lines().size(), 5u);
  document.RemoveSection("A");
  document.RemoveSection("B");
  EXPECT_EQ(document.lines(), std::vector<std::string>{"; c"});
}

TEST(IniDocumentSetters, NewSectionGoesAtEndWithKeysInReverseOrder) {
  IniDocument document = FromText("[Other]\r\nq=1\r\n");
  ASSERT_TRUE(document.SetInt("A", "x", 5));
  ASSERT_TRUE(document.SetInt("A", "y", 6));
  EXPECT_EQ(document.Text(), "[Other]\r\nq=1\r\n[A]\r\ny=6\r\nx=5\r\n");
}

TEST(IniDocumentSetters, ExistingKeyIsReplacedInPlace) {
  IniDocument document =
      FromText("; head\n[SETUP]\n; about x\nx=1\n\nother=2\n[SETUP]\nx=9\n[Next]\nx=3\n");
  ASSERT_TRUE(document.SetHex("SETUP", "x", 0x1000));
  ASSERT_TRUE(document.SetString("Next", "x", "  text  "));
  ASSERT_TRUE(document.SetInt("SETUP", "neg", -12));
  EXPECT_EQ(document.lines(),
            (std::vector<std::string>{"; head", "[SETUP]", "neg=-12", "; about x", "x=$00001000", "",
                                      "other=2", "[SETUP]", "x=9", "[Next]", "x=  text  "}));
}

TEST(IniDocumentSetters, KeyOfLaterSectionIsNeverTakenForEarlierOne) {
  IniDocument document = FromText("[A]\na=1\n[B]\nx=2\n");
  std::int32_t value = 77;
  EXPECT_FALSE(document.GetInt("A", "x", value));
  EXPECT_EQ(value, 77);
  ASSERT_TRUE(document.SetInt("A", "x", 3));
  EXPECT_EQ(document.lines(), (std::vector<std::string>{"[A]", "x=3", "a=1", "[B]", "x=2"}));
}

TEST(IniDocumentGetters, StringIsTrimmedNumbersAreNot) {
  IniDocument document = FromText(
      "[S]\nstr=  abc  \nws=\t\x0b\x0c abc \r\nempty=\nh1=$10\nh2=0x10\nh3=0X10\nd=16\n"
      "big=$80000000\nall=$FFFFFFFF\nblank= 0x10\nspaced =5\n");
  std::string text;
  ASSERT_TRUE(document.GetString("S", "str", text));
  EXPECT_EQ(text, "abc");
  ASSERT_TRUE(document.GetString("S", "ws", text));
  EXPECT_EQ(text, "abc");
  text = "x";
  ASSERT_TRUE(document.GetString("S", "empty", text));
  EXPECT_EQ(text, "");

  std::int32_t number = 0;
  for (const char* key : {"h1", "h2", "h3", "d"}) {
    number = 0;
    ASSERT_TRUE(document.GetInt("S", key, number)) << key;
    EXPECT_EQ(number, 16) << key;
  }
  ASSERT_TRUE(document.GetInt("S", "big", number));
  EXPECT_EQ(number, 2147483647);
  ASSERT_TRUE(document.GetInt("S", "blank", number));
  EXPECT_EQ(number, 0);
  number = 99;
  ASSERT_TRUE(document.GetInt("S", "empty", number));
  EXPECT_EQ(number, 0);
  number = 99;
  EXPECT_FALSE(document.GetInt("S", "spaced", number));
  EXPECT_EQ(number, 99);

  std::uint32_t unsigned_number = 0;
  ASSERT_TRUE(document.GetUnsigned("S", "big", unsigned_number));
  EXPECT_EQ(unsigned_number, 2147483648u);
  ASSERT_TRUE(document.GetUnsigned("S", "all", unsigned_number));
  EXPECT_EQ(unsigned_number, 4294967295u);

  EXPECT_FALSE(document.GetString("Missing", "str", text));
  EXPECT_FALSE(document.GetUnsigned("S", "STR", unsigned_number));
  EXPECT_EQ(document.lines().size(), 12u);  // reads create nothing
}

TEST(IniDocumentGetters, RepeatedSectionReadsAndWritesTheFirst) {
  IniDocument document = FromText("[A]\nx=1\n[A]\nx=2\ny=3\n");
  std::int32_t value = 0;
  ASSERT_TRUE(document.GetInt("A", "x", value));
  EXPECT_EQ(value, 1);
  EXPECT_FALSE(document.GetInt("A", "y", value));
  ASSERT_TRUE(document.SetInt("A", "y", 4));
  EXPECT_EQ(document.lines(), (std::vector<std::string>{"[A]", "y=4", "x=1", "[A]", "x=2", "y=3"}));
}

TEST(IniDocumentAccessors, FurtherPairsRoundTrip) {
  IniDocument document;
  ASSERT_TRUE(document.SetBool("W", "on", true));
  ASSERT_TRUE(document.SetBool("W", "off", false));
  ASSERT_TRUE(document.SetDouble("W", "d", -2.5));
  ASSERT_TRUE(document.SetFloat("W", "f", 0.125f));
  ASSERT_TRUE(document.SetLong("W", "l", -123456789L));
  ASSERT_TRUE(document.SetUnsignedLong("W", "ul", 4000000000UL));
  ASSERT_TRUE(document.SetRect("W", "r", IniRect{1, -2, 300, 400}));
  ASSERT_TRUE(document.SetPoint("W", "p", IniPoint{-5, 6}));
  ASSERT_TRUE(document.SetMultiLineString("W", "m", "one\r\ntwo\nthree"));
  EXPECT_EQ(document.lines(),
            (std::vector<std::string>{"[W]", "m=one'|two|three", "p=POINT(-5,6)", "r=RECT(1,-2,300,400)",
                                      "ul=4000000000", "l=-123456789", "f=0.125000", "d=-2.500000",
                                      "off=false", "on=true"}));

  bool flag = false;
  ASSERT_TRUE(document.GetBool("W", "on", flag));
  EXPECT_TRUE(flag);
  ASSERT_TRUE(document.GetBool("W", "off", flag));
  EXPECT_FALSE(flag);
  double d = 0;
  ASSERT_TRUE(document.GetDouble("W", "d", d));
  EXPECT_EQ(d, -2.5);
  float f = 0;
  ASSERT_TRUE(document.GetFloat("W", "f", f));
  EXPECT_EQ(f, 0.125f);
  long l = 0;
  ASSERT_TRUE(document.GetLong("W", "l", l));
  EXPECT_EQ(l, -123456789L);
  unsigned long ul = 0;
  ASSERT_TRUE(document.GetUnsignedLong("W", "ul", ul));
  EXPECT_EQ(ul, 4000000000UL);
  IniRect rect;
  ASSERT_TRUE(document.GetRect("W", "r", rect));
  EXPECT_EQ(rect, (IniRect{1, -2, 300, 400}));
  IniPoint point;
  ASSERT_TRUE(document.GetPoint("W", "p", point));
  EXPECT_EQ(point, (IniPoint{-5, 6}));
  std::string text;
  ASSERT_TRUE(document.GetMultiLineString("W", "m", text));
  EXPECT_EQ(text, "one\r\ntwo\nthree");
}

TEST(IniDocumentAccessors, LooseReadingOfFurtherPairs) {
  IniDocument document = FromText(
      "[W]\nb1=untrue\nb2=True\nd= 1.5e2xyz\nd2=abc\nr=RECT(1, 2,x,4)\nr2=rect(1,2,3,4)\n"
      "p=POINT(7)\nl=12abc\n");
  bool flag = false;
  ASSERT_TRUE(document.GetBool("W", "b1", flag));
  EXPECT_TRUE(flag);  // "true" anywhere, case-sensitive
  ASSERT_TRUE(document.GetBool("W", "b2", flag));
  EXPECT_FALSE(flag);
  double d = 0;
  ASSERT_TRUE(document.GetDouble("W", "d", d));
  EXPECT_EQ(d, 150.0);
  ASSERT_TRUE(document.GetDouble("W", "d2", d));
  EXPECT_EQ(d, 0.0);
  IniRect rect{9, 9, 9, 9};
  ASSERT_TRUE(document.GetRect("W", "r", rect));
  EXPECT_EQ(rect, (IniRect{1, 2, 0, 0}));
  ASSERT_TRUE(document.GetRect("W", "r2", rect));
  EXPECT_EQ(rect, (IniRect{}));
  IniPoint point{9, 9};
  ASSERT_TRUE(document.GetPoint("W", "p", point));
  EXPECT_EQ(point, (IniPoint{7, 0}));
  long l = 0;
  ASSERT_TRUE(document.GetLong("W", "l", l));
  EXPECT_EQ(l, 12);
  EXPECT_FALSE(document.GetRect("W", "none", rect));
  EXPECT_EQ(rect, (IniRect{}));
}

}  // namespace
}  // namespace romsmith

namespace romsmith {
namespace {

TEST(IniDocumentLoad, OnlyRegularFilesOfBoundedSizeAreRead) {
  auto dir = ScratchDirectory();
  // A FIFO would block the open until a writer comes; a huge file would
  // exhaust memory. Both fail at once, as a missing file does.
  ASSERT_EQ(::mkfifo((dir / "fifo.cfg").c_str(), 0600), 0);
  WriteFile(dir / "huge.cfg", "[SETUP]\r\n");
  // Load reads at most 16 MiB.
  std::filesystem::resize_file(dir / "huge.cfg", (16u << 20) + 1);  // sparse
  WriteFile(dir / "fits.cfg", "[SETUP]\r\nFlashWidth=16\r\n");
  std::filesystem::resize_file(dir / "fits.cfg", 16u << 20);
  struct Case {
    const char* name;
    bool loads;
  };
  for (const Case& c : {Case{"fifo.cfg", false}, Case{"huge.cfg", false}, Case{"fits.cfg", true}}) {
    IniDocument document;
    EXPECT_EQ(document.Load((dir / c.name).string()), c.loads) << c.name;
    EXPECT_EQ(document.file_name(), (dir / c.name).string());
    EXPECT_EQ(document.lines().empty(), !c.loads) << c.name;
  }
}

}  // namespace
}  // namespace romsmith
