#include "formats/intel_hex.h"

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

struct MessageRecorder {
  std::vector<std::string> texts;
  std::vector<platform::MessageIcon> icons;
  platform::ScopedMessageHandler scope{[this](const MessageRequest& request) {
    texts.push_back(request.text);
    icons.push_back(request.icon);
    return MessageAnswer::Ok;
  }};
};

// Converts `hex` and returns the output bytes; `ok` gets the result.
std::string Convert(const fs::path& dir, const std::string& hex, bool& ok) {
  WriteFile(dir / "image.hex", hex);
  ok = HexToBinary((dir / "image.hex").string(), (dir / "image.hex.bin").string());
  return ReadFile(dir / "image.hex.bin");
}

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

TEST(HexRecordParsing, FieldsByPosition) {
  HexRecord record;
  ASSERT_TRUE(ParseHexRecord(":0300300002337A1E", record));
  EXPECT_EQ(record.byte_count, 3);
  EXPECT_EQ(record.address, 0x0030);
  EXPECT_EQ(record.record_type, kHexData);
  EXPECT_EQ(record.data[0], 0x02);
  EXPECT_EQ(record.data[1], 0x33);
  EXPECT_EQ(record.data[2], 0x7A);
  EXPECT_EQ(record.checksum, 0x1E);

  HexRecord lower;
  ASSERT_TRUE(ParseHexRecord(":02fffe00abcd00", lower));
  EXPECT_EQ(lower.address, 0xFFFE);
  EXPECT_EQ(lower.data[0], 0xAB);
  EXPECT_EQ(lower.data[1], 0xCD);

  HexRecord end;
  ASSERT_TRUE(ParseHexRecord(":00000001FF", end));
  EXPECT_EQ(end.record_type, kHexEndOfFile);
  EXPECT_EQ(end.checksum, 0xFF);
}

TEST(HexRecordParsing, NonDataRecordsCarryNoDataAndShortLinesKeepFields) {
  HexRecord record;
  record.data[0] = 0x55;
  ASSERT_TRUE(ParseHexRecord(":020000040800F2", record));
  EXPECT_EQ(record.record_type, kHexExtendedLinearAddress);
  EXPECT_EQ(record.data[0], 0x55);  // not filled for type 4
  EXPECT_EQ(record.checksum, 0xF2);  // read right after the two data bytes' place

  HexRecord previous;
  previous.address = 0x1234;
  previous.record_type = 7;
  previous.checksum = 0x99;
  ASSERT_TRUE(ParseHexRecord(":01", previous));
  EXPECT_EQ(previous.byte_count, 1);
  EXPECT_EQ(previous.address, 0x1234);
  EXPECT_EQ(previous.record_type, 7);
  EXPECT_EQ(previous.checksum, 0x99);

  HexRecord blanks;
  ASSERT_TRUE(ParseHexRecord(": 1  20 00zz", blanks));
  EXPECT_EQ(blanks.byte_count, 1);
  EXPECT_EQ(blanks.address, 0x20);
  EXPECT_EQ(blanks.data[0], 0);  // "zz" holds no digit

  HexRecord none;
  EXPECT_FALSE(ParseHexRecord("", none));
  EXPECT_FALSE(ParseHexRecord(" :00000001FF", none));
  EXPECT_FALSE(ParseHexRecord("S00000001FF", none));
}

TEST(HexConversion, GapsAreFilledFromAddressZero) {
  auto dir = ScratchDirectory();
  bool ok = false;
  EXPECT_EQ(Convert(dir, ":02000000AABB99\n:0200040001020B\n:00000001FF\n", ok),
            Bytes({0xAA, 0xBB, 0, 0, 1, 2}));
  EXPECT_TRUE(ok);
  EXPECT_EQ(Convert(dir, ":0100100042AD\r\n:00000001FF\r\n", ok), std::string(16, '\0') + "B");
  EXPECT_TRUE(ok);
}

TEST(HexConversion, AddressRecordsAreIgnoredAndOrderIsFileOrder) {
  auto dir = ScratchDirectory();
  bool ok = false;
  // The second block at 0x0000 of the next 64 KiB follows the first at once.
  EXPECT_EQ(Convert(dir,
                    ":020000000102FB\n:020000040001F9\n:020000000304F7\n:0400000508000000EF\n"
                    ":00000001FF\n",
                    ok),
            Bytes({1, 2, 3, 4}));
  EXPECT_TRUE(ok);
  // A record below the previous end is appended, not overlaid.
  EXPECT_EQ(Convert(dir, ":0200100011220B\n:01000800330C\n:00000001FF\n", ok),
            std::string(16, '\0') + Bytes({0x11, 0x22, 0x33}));
  EXPECT_TRUE(ok);
}

TEST(HexConversion, EndPositionWrapsAt64KiB) {
  auto dir = ScratchDirectory();
  bool ok = false;
  // A contiguous image across the boundary: 0xFFFE..0xFFFF, then 0x0000.
  std::string out = Convert(dir, ":02FFFE00AABB00\n:02000000CCDD00\n:00000001FF\n", ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(out.size(), 0xFFFEu + 4u);
  EXPECT_EQ(out.substr(0xFFFE), Bytes({0xAA, 0xBB, 0xCC, 0xDD}));
  // A gap before the boundary is not filled: the end 0xFFF0 is above 0x0000.
  out = Convert(dir, ":01FFEF0011FF\n:0100000022DD\n:00000001FF\n", ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(out.size(), 0xFFEFu + 2u);
  EXPECT_EQ(out.substr(0xFFEF), Bytes({0x11, 0x22}));
}

TEST(HexConversion, ChecksumsAreNotComparedAndLinesAfterEndAreIgnored) {
  auto dir = ScratchDirectory();
  bool ok = false;
  EXPECT_EQ(Convert(dir, ":020000000102FF\n:00000001FF\nnot a record\n:0100000099FF\n", ok), Bytes({1, 2}));
  EXPECT_TRUE(ok);
  // Without an end-of-file record the end of the file ends the conversion.
  EXPECT_EQ(Convert(dir, ":0100000007F8", ok), Bytes({7}));
  EXPECT_TRUE(ok);
  EXPECT_EQ(Convert(dir, "", ok), "");
  EXPECT_TRUE(ok);
}

TEST(HexConversion, LineThatIsNoRecordFailsWithoutMessage) {
  auto dir = ScratchDirectory();
  MessageRecorder messages;
  bool ok = true;
  EXPECT_EQ(Convert(dir, ":020000000102FB\n\n:00000001FF\n", ok), Bytes({1, 2}));
  EXPECT_FALSE(ok);
  EXPECT_EQ(Convert(dir, ":020000000102FB\r\n\r\n:00000001FF\r\n", ok), Bytes({1, 2}));
  EXPECT_FALSE(ok);
  EXPECT_EQ(Convert(dir, "garbage\n", ok), "");
  EXPECT_FALSE(ok);
  EXPECT_TRUE(messages.texts.empty());
}

TEST(HexConversion, FileErrorsShowTheirBoxes) {
  auto dir = ScratchDirectory();
  MessageRecorder messages;
  EXPECT_FALSE(HexToBinary((dir / "none.hex").string(), (dir / "none.hex.bin").string()));
  EXPECT_FALSE(HexToBinary(dir.string(), (dir / "x.bin").string()));
  WriteFile(dir / "a.hex", ":00000001FF\n");
  EXPECT_FALSE(HexToBinary((dir / "a.hex").string(), (dir / "no" / "a.bin").string()));
  EXPECT_FALSE(HexToBinary((dir / "a.hex").string(), (dir / "a.hex").string()));
  EXPECT_EQ(ReadFile(dir / "a.hex"), ":00000001FF\n");
  EXPECT_EQ(messages.texts, (std::vector<std::string>{
                                "Error: can't open hex file!", "Error: can't open hex file!",
                                "Error: can't create binary file!", "Error: can't create binary file!"}));
  for (auto icon : messages.icons) EXPECT_EQ(icon, platform::MessageIcon::Warning);
  EXPECT_FALSE(fs::exists(dir / "none.hex.bin"));

  // The output may not grow as far as the fill needs.
  WriteFile(dir / "far.hex", ":01FFF00011FF\n:00000001FF\n");
  struct rlimit old_limit {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old_limit;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  bool ok = HexToBinary((dir / "far.hex").string(), (dir / "far.bin").string());
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  ::signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(ok);
  EXPECT_EQ(messages.texts.back(), "Error: file exception, convert hex file to binary failed!");
}

TEST(HexConversion, OverlongLinesAndFilesThatAreNoFilesAreBounded) {
  auto dir = ScratchDirectory();
  MessageRecorder messages;
  bool ok = false;
  // Whatever follows a record on its line is never looked at, however long.
  EXPECT_EQ(Convert(dir, ":020000000102FB" + std::string(200000, 'z') + "\n:00000001FF\n", ok), Bytes({1, 2}));
  EXPECT_TRUE(ok);
  // A FIFO would block until a writer comes: refused as unopenable.
  ASSERT_EQ(::mkfifo((dir / "fifo.hex").c_str(), 0600), 0);
  EXPECT_FALSE(HexToBinary((dir / "fifo.hex").string(), (dir / "fifo.bin").string()));
  EXPECT_EQ(messages.texts, std::vector<std::string>{"Error: can't open hex file!"});
}

}  // namespace
}  // namespace romsmith

namespace romsmith {
namespace {

// What the conversion passed over, one kind a row: the output is the same
// bytes it would be without the count, and each kind names its first line.
TEST(HexConversionReport, EachKindOfDamageIsCountedFromItsFirstLine) {
  struct Row {
    const char* name;
    std::string hex;
    std::string bytes;  // the output, as without the report
    std::vector<std::string> warnings;
  };
  const std::vector<Row> rows = {
      {"clean file", ":02000000AABB99\n:00000001FF\n", Bytes({0xAA, 0xBB}), {}},
      {"two bad checksums",
       ":02000000AABB99\n:02000200CCDD00\n:02000400EEFF00\n:00000001FF\n",
       Bytes({0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}),
       {"Warning: hex file line 2: 2 records with a bad checksum; the data was converted as read.\n"}},
      {"a character that is no digit", ":02000000AXBB99\n:00000001FF\n", Bytes({0x0A, 0xBB}),
       {"Warning: hex file line 1: 1 line with characters that are not hexadecimal; the data was "
        "converted as read.\n"}},
      {"a line shorter than its count", ":02000000AABB99\n:04000200CCDD\n:00000001FF\n",
       Bytes({0xAA, 0xBB, 0xCC, 0xDD, 0x00, 0x00}),
       {"Warning: hex file line 2: 1 line shorter than its byte count; the missing bytes were "
        "converted as read.\n"}},
      {"extended address records",
       ":02000000AABB99\n:020000040001F9\n:02000000CCDD55\n:020000021000EC\n:00000001FF\n",
       Bytes({0xAA, 0xBB, 0xCC, 0xDD}),
       {"Warning: hex file line 2: 2 extended address records ignored; the data behind them "
        "follows the data before them.\n"}},
  };
  auto dir = ScratchDirectory();
  MessageRecorder boxes;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    WriteFile(dir / "in.hex", row.hex);
    const fs::path out = dir / "out.bin";
    fs::remove(out);
    HexConversionReport report;
    EXPECT_TRUE(HexToBinary((dir / "in.hex").string(), out.string(), {}, report));
    EXPECT_EQ(ReadFile(out), row.bytes);
    EXPECT_EQ(HexWarningLines(report), row.warnings);
    // The plain conversion writes the very same bytes.
    bool ok = false;
    EXPECT_EQ(Convert(dir, row.hex, ok), row.bytes);
    EXPECT_TRUE(ok);
  }
  EXPECT_TRUE(boxes.texts.empty());
}

TEST(HexConversionReport, LimitsEndTheConversionWithoutAMessage) {
  auto dir = ScratchDirectory();
  MessageRecorder boxes;
  const fs::path in = dir / "in.hex";
  // A record at 0xFFF0 after one at 0: 64 KiB of fill from a few bytes.
  WriteFile(in, ":02000000AABB99\n:02FFF000CCDD00\n:00000001FF\n");
  HexConversionOptions options;
  options.max_output_bytes = 4096;
  HexConversionReport report;
  EXPECT_FALSE(HexToBinary(in.string(), (dir / "big.bin").string(), options, report));
  EXPECT_TRUE(report.too_large);
  EXPECT_LE(fs::file_size(dir / "big.bin"), 4096u);

  HexConversionOptions stopped;
  stopped.stop = [] { return true; };
  EXPECT_FALSE(HexToBinary(in.string(), (dir / "stop.bin").string(), stopped, report));
  EXPECT_TRUE(report.stopped);

  // Made new: a link planted under the output name is not written through.
  WriteFile(dir / "victim.txt", "keep me");
  fs::create_symlink(dir / "victim.txt", dir / "planted.bin");
  HexConversionOptions fresh;
  fresh.create_new = true;
  EXPECT_FALSE(HexToBinary(in.string(), (dir / "planted.bin").string(), fresh, report));
  EXPECT_EQ(ReadFile(dir / "victim.txt"), "keep me");
  EXPECT_EQ(boxes.texts, std::vector<std::string>{"Error: can't create binary file!"});
}

}  // namespace
}  // namespace romsmith
