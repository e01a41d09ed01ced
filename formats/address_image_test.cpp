#include "formats/address_image.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "formats/test_files.h"

namespace romsmith {
namespace {

namespace fs = std::filesystem;
using romsmith::testing::ReadFile;
using romsmith::testing::ScratchDirectory;
using romsmith::testing::WriteFile;

// Every defined byte of an image, address by address: two images that give
// the same bytes at the same addresses compare equal whatever their kind.
std::map<std::uint64_t, std::uint8_t> Flatten(const AddressImage& image) {
  std::map<std::uint64_t, std::uint8_t> bytes;
  for (const ImageSegment& segment : image.segments)
    for (std::size_t i = 0; i < segment.bytes.size(); ++i) bytes[segment.address + i] = segment.bytes[i];
  return bytes;
}

struct ElfSegment {
  std::uint32_t type = 1;
  std::uint32_t physical = 0;
  std::string bytes;
  std::uint32_t memory_size = 0;  // 0: as many as bytes
};

// A minimal ELF32 ARM executable: header, program headers, segment bytes.
std::string MakeElf(bool big_endian, const std::vector<ElfSegment>& segments, std::uint16_t machine = 40) {
  std::string file(52 + 32 * segments.size(), '\0');
  auto put = [&](std::size_t offset, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) {
      const int shift = 8 * (big_endian ? width - 1 - i : i);
      file[offset + static_cast<std::size_t>(i)] = static_cast<char>((value >> shift) & 0xFF);
    }
  };
  file.replace(0, 4, "\x7F" "ELF");
  file[4] = 1;
  file[5] = big_endian ? 2 : 1;
  file[6] = 1;
  put(16, 2, 2);
  put(18, machine, 2);
  put(20, 1, 4);
  put(28, 52, 4);
  put(40, 52, 2);
  put(42, 32, 2);
  put(44, static_cast<std::uint32_t>(segments.size()), 2);
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const std::size_t header = 52 + 32 * i;
    const ElfSegment& s = segments[i];
    put(header, s.type, 4);
    put(header + 4, static_cast<std::uint32_t>(file.size()), 4);
    put(header + 8, s.physical + 0x40000000, 4);  // a virtual address that must not be used
    put(header + 12, s.physical, 4);
    put(header + 16, static_cast<std::uint32_t>(s.bytes.size()), 4);
    put(header + 20, s.memory_size ? s.memory_size : static_cast<std::uint32_t>(s.bytes.size()), 4);
    file += s.bytes;
  }
  return file;
}

std::map<std::uint64_t, std::uint8_t> Bytes(std::initializer_list<std::pair<std::uint64_t, std::string>> runs) {
  std::map<std::uint64_t, std::uint8_t> bytes;
  for (const auto& [address, text] : runs)
    for (std::size_t i = 0; i < text.size(); ++i) bytes[address + i] = static_cast<std::uint8_t>(text[i]);
  return bytes;
}

struct GoodCase {
  const char* name;
  std::string content;
  AddressImageKind kind;
  std::map<std::uint64_t, std::uint8_t> bytes;
  std::size_t segments;
};

TEST(AddressImage, EachKindPlacesItsBytesAtTheirAddresses) {
  const GoodCase cases[] = {
      {"elf little endian: physical addresses, file bytes only",
       MakeElf(false, {{1, 0x0, "ABCD"}, {1, 0x10000, "xy", 16}, {4, 0x500, "note"}}), AddressImageKind::kElf,
       Bytes({{0x0, "ABCD"}, {0x10000, "xy"}}), 2},
      {"elf big endian", MakeElf(true, {{1, 0x20000000, "BE"}}), AddressImageKind::kElf, Bytes({{0x20000000, "BE"}}), 1},
      {"elf: touching segments join", MakeElf(false, {{1, 0x104, "EF"}, {1, 0x100, "ABCD"}}), AddressImageKind::kElf,
       Bytes({{0x100, "ABCDEF"}}), 1},
      {"s-record S1 S2 S3 with header, count and end",
       "S00600004844521B\nS106000041424333\nS20701000044454628\nS308040000004748491B\nS5030003F9\nS9030000FC\n",
       AddressImageKind::kSRecord, Bytes({{0x0, "ABC"}, {0x10000, "DEF"}, {0x4000000, "GHI"}}), 3},
      {"s-record with CR LF and blank lines", "S106000041424333\r\n\r\nS9030000FC\r\n", AddressImageKind::kSRecord,
       Bytes({{0x0, "ABC"}}), 1},
      {"hex: extended linear address record",
       ":0300000041424337\n:020000040001F9\n:030010004445461E\n:00000001FF\n", AddressImageKind::kIntelHex,
       Bytes({{0x0, "ABC"}, {0x10010, "DEF"}}), 2},
      {"hex: extended segment address record",
       ":020000021000EC\n:0300000041424337\n:00000001FF\n", AddressImageKind::kIntelHex, Bytes({{0x10000, "ABC"}}), 1},
      {"hex: a segmented record wraps at 64 KiB", ":020000021000EC\n:04FFFE0041424344F5\n:00000001FF\n",
       AddressImageKind::kIntelHex, Bytes({{0x1FFFE, "AB"}, {0x10000, "CD"}}), 2},
      {"hex: a linear record goes on past 64 KiB", ":020000040001F9\n:04FFFE0041424344F5\n:00000001FF\n",
       AddressImageKind::kIntelHex, Bytes({{0x1FFFE, "ABCD"}}), 1},
  };
  for (const GoodCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    const std::optional<AddressImage> image = ParseAddressImage(c.content, error);
    ASSERT_TRUE(image.has_value()) << error;
    EXPECT_EQ(image->kind, c.kind);
    EXPECT_EQ(Flatten(*image), c.bytes);
    EXPECT_EQ(image->segments.size(), c.segments);
    EXPECT_EQ(image->byte_count(), c.bytes.size());
  }
}

struct BadCase {
  const char* name;
  std::string content;
  const char* error;  // the start of the message: where, then what
};

TEST(AddressImage, AFaultyFileIsRefusedWholeNamingWhere) {
  const BadCase cases[] = {
      {"not an image", "hello\n", "not an ELF, S-record or Intel HEX file"},
      {"s-record checksum", "S106000041424333\nS1060003414243F0\nS9030000FC\n", "line 2: checksum 0xF0, the record needs 0x30"},
      {"s-record no end", "S106000041424333\n", "the file ends without an S7, S8 or S9 end record"},
      {"s-record not hex", "S10600004142G3F2\nS9030000FC\n", "line 1: column 13 is not a hexadecimal digit pair"},
      {"s-record short", "S1060000414243\nS9030000FC\n", "line 1: the byte count 0x06 does not match the record"},
      {"s-record wrong count", "S106000041424333\nS5030002FA\nS9030000FC\n", "line 2: the count record says 2"},
      {"s-record S4", "S4030000FC\n", "line 1: not an S-record"},
      {"s-record after end", "S106000041424333\nS9030000FC\nS106000041424333\n", "line 3: a record follows the end"},
      {"s-record no data", "S00600004844521B\nS9030000FC\n", "the file holds no S1, S2 or S3 data record"},
      {"hex checksum", ":0300000041424337\n:03000300444546EF\n:00000001FF\n", "line 2: checksum 0xEF, the record needs 0x2B"},
      {"hex short line", ":0400000041424344\n:00000001FF\n", "line 1: the byte count 0x04 does not match"},
      {"hex no end", ":0300000041424337\n", "the file ends without an end-of-file record"},
      {"hex unknown type", ":00000006FA\n:00000001FF\n", "line 1: record type 0x06 is not an Intel HEX record type"},
      {"hex bad extended record", ":0100000400FB\n:00000001FF\n", "line 1: record type 0x04 carries 2 bytes, not 1"},
      {"hex text line", ":0300000041424337\nhello\n:00000001FF\n", "line 2: a record must start with ':'"},
      {"hex overlap", ":0300000041424337\n:030002004445462C\n:00000001FF\n", "line 2: bytes at 0x00000002 are already given by line 1"},
      {"hex past 4 GiB", ":02000004FFFFFC\n:04FFFE0041424344F5\n:00000001FF\n", "line 2: the record runs past the 32-bit address space"},
      {"elf for another machine", MakeElf(false, {{1, 0, "AB"}}, 62), "offset 0x12: the ELF file is for machine 62, not ARM"},
      {"elf cut short", MakeElf(false, {{1, 0, "ABCDEFGH"}}).substr(0, 90), "offset 0x38: segment 0 runs past the end of the file"},
      {"elf header cut short", std::string("\x7F" "ELF\x01\x01", 6), "offset 0x6: the ELF header is cut short"},
      {"elf 64-bit", std::string("\x7F" "ELF\x02\x01") + std::string(60, '\0'), "offset 0x4: not a 32-bit ELF file"},
      {"elf nothing loadable", MakeElf(false, {{4, 0, "AB"}}), "the ELF file has no loadable segment"},
      {"elf overlap", MakeElf(false, {{1, 0, "ABCD"}, {1, 2, "EF"}}), "segment 1 (offset 0x54): bytes at 0x00000002"},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    EXPECT_FALSE(ParseAddressImage(c.content, error).has_value());
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
  }
}

TEST(AddressImage, ByteAtKnowsTheGaps) {
  std::string error;
  const auto image = ParseAddressImage(MakeElf(false, {{1, 0x10, "AB"}, {1, 0x20, "C"}}), error);
  ASSERT_TRUE(image) << error;
  EXPECT_FALSE(image->ByteAt(0x0F));
  EXPECT_EQ(image->ByteAt(0x11), 'B');
  EXPECT_FALSE(image->ByteAt(0x12));
  EXPECT_EQ(image->ByteAt(0x20), 'C');
  EXPECT_FALSE(image->ByteAt(0x21));
  EXPECT_EQ(image->low_address(), 0x10u);
  EXPECT_EQ(image->high_end(), 0x21u);
}

TEST(AddressImage, ReadingRefusesWhatIsNoRegularFile) {
  const fs::path dir = ScratchDirectory();
  std::string error;
  EXPECT_FALSE(ReadAddressImage(dir / "missing.elf", error));
  EXPECT_NE(error.find("cannot find"), std::string::npos) << error;
  EXPECT_FALSE(ReadAddressImage(dir, error));
  EXPECT_NE(error.find("is not a regular file"), std::string::npos) << error;
}

// The same program linked by the ARM toolchain and written as ELF, S-records
// and Intel HEX by objcopy: all three give the same bytes at the same
// addresses, in either byte order.
TEST(AddressImage, TheToolchainsThreeFormsAgree) {
  if (std::system("command -v arm-none-eabi-ld > /dev/null 2>&1") != 0) GTEST_SKIP() << "no ARM toolchain";
  const fs::path dir = ScratchDirectory();
  WriteFile(dir / "image.s",
            ".section .boot, \"ax\"\n.word 0x11223344, 0x55667788\n.ascii \"boot\"\n"
            ".section .app, \"ax\"\n.word 0xCAFEF00D\n.space 70000, 0xA5\n.byte 1, 2, 3\n");
  for (const char* order : {"-EL", "-EB"}) {
    SCOPED_TRACE(order);
    const std::string d = "'" + dir.string() + "/";
    const std::string build =
        "arm-none-eabi-as " + std::string(order) + " -o " + d + "image.o' " + d + "image.s' && arm-none-eabi-ld " +
        order + " --section-start=.boot=0x0 --section-start=.app=0x10000 -e 0 -o " + d + "image.elf' " + d +
        "image.o' && arm-none-eabi-objcopy -O srec " + d + "image.elf' " + d + "image.srec' && " +
        "arm-none-eabi-objcopy -O ihex " + d + "image.elf' " + d + "image.hex'";
    ASSERT_EQ(std::system(build.c_str()), 0) << build;

    std::string error;
    const auto elf = ReadAddressImage(dir / "image.elf", error);
    ASSERT_TRUE(elf) << error;
    ASSERT_EQ(elf->segments.size(), 2u);
    EXPECT_EQ(elf->segments[0].address, 0x0u);
    EXPECT_EQ(elf->segments[0].bytes.size(), 12u);
    EXPECT_EQ(elf->segments[1].address, 0x10000u);
    EXPECT_EQ(elf->segments[1].bytes.size(), 4u + 70000u + 3u);
    const bool big = std::string(order) == "-EB";
    EXPECT_EQ(elf->ByteAt(0), big ? 0x11 : 0x44);
    EXPECT_EQ(elf->ByteAt(0x10004), 0xA5);
    for (const char* other : {"image.srec", "image.hex"}) {
      SCOPED_TRACE(other);
      const auto image = ReadAddressImage(dir / other, error);
      ASSERT_TRUE(image) << error;
      EXPECT_EQ(Flatten(*image), Flatten(*elf));
    }
  }
}

}  // namespace
}  // namespace romsmith
