// Program and verify of images at their own addresses end to end: an ELF
// file linked by the ARM toolchain, the same as S-records and as Intel HEX
// with an extended linear address record, programmed into a flash that holds
// a known pattern everywhere.
#include <cstdlib>

#include "tests/flash_commands/flash_commands_fixture.h"

namespace flash_commands {
namespace {

constexpr std::uint32_t kAppAddress = 0x10000;  // sector 5 of the Am29LV160DB, 64 KiB
constexpr std::size_t kAppFill = 5000;

// What the image puts where (little-endian words).
Bytes BootBytes() { return {0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55, 'b', 'o', 'o', 't'}; }
Bytes AppBytes() {
  Bytes app = {0x0D, 0xF0, 0xFE, 0xCA};
  app.insert(app.end(), kAppFill, 0xA5);
  app.insert(app.end(), {1, 2, 3});
  return app;
}

class ImageProgram : public FlashCommands {
 protected:
  // Builds image.elf, image.srec and image.hex in the test's directory;
  // false when the toolchain is missing.
  bool BuildImages() {
    if (std::system("command -v arm-none-eabi-ld > /dev/null 2>&1") != 0) return false;
    WriteText(root_ / "image.s",
              ".section .boot, \"ax\"\n.word 0x11223344, 0x55667788\n.ascii \"boot\"\n"
              ".section .app, \"ax\"\n.word 0xCAFEF00D\n.space " +
                  std::to_string(kAppFill) + ", 0xA5\n.byte 1, 2, 3\n");
    const std::string d = "'" + root_.string() + "/";
    const std::string build =
        "arm-none-eabi-as -EL -o " + d + "image.o' " + d + "image.s' && arm-none-eabi-ld -EL " +
        "--section-start=.boot=0x0 --section-start=.app=0x10000 -e 0 -o " + d + "image.elf' " + d +
        "image.o' && arm-none-eabi-objcopy -O srec " + d + "image.elf' " + d + "image.srec' && " +
        "arm-none-eabi-objcopy -O ihex " + d + "image.elf' " + d + "image.hex'";
    if (std::system(build.c_str()) != 0) return false;
    // objcopy gives the base below 1 MiB as a segment address (type 02);
    // the same base as an extended linear address (type 04).
    std::string hex = ReadText(root_ / "image.hex");
    Replace(hex, ":020000021000EC", ":020000040001F9");
    WriteText(root_ / "image.hex", hex);
    return true;
  }

  // The flash as it starts, with the image placed over it.
  Bytes Expected() const {
    Bytes expected = image_;
    const Bytes boot = BootBytes(), app = AppBytes();
    std::copy(boot.begin(), boot.end(), expected.begin());
    std::copy(app.begin(), app.end(), expected.begin() + kAppAddress);
    return expected;
  }
};

TEST_F(ImageProgram, EachFormPlacesItsSegmentsAndKeepsEveryOtherByte) {
  if (!BuildImages()) GTEST_SKIP() << "no ARM toolchain";
  for (const char* file : {"image.elf", "image.srec", "image.hex"}) {
    SCOPED_TRACE(file);
    Prepare(Target{}, Pattern(0x200000, 3));
    const std::string args = "-f " + (root_ / file).string() + " --format image ";
    const CliResult first = Cli(args + "--auto-erase --auto-verify program");
    ASSERT_EQ(first.status, 0) << first.out << first.err;
    EXPECT_TRUE(first.Has("Info: 2 sectors written, 0 unchanged.")) << first.out;
    EXPECT_TRUE(SameImage(Flash(), Expected()));
    // The record names the sectors from the image's first byte to its last,
    // not the selection around them.
    const CliResult record = Cli(args + "-s 1-20 --json verify");
    EXPECT_EQ(record.status, 0) << record.out << record.err;
    EXPECT_NE(record.out.find("\"sectors\":{\"first\":1,\"last\":5}"), std::string::npos)
        << record.out;

    for (const char* on_target : {"0", "1"}) {
      const CliResult verify = Cli(args + "--set Option.TargetVerify=" + on_target + " verify");
      EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
      EXPECT_TRUE(verify.Has("Info: verify success.")) << verify.out;
    }

    // The same image again: every sector already holds it.
    const CliResult again = Cli(args + "--auto-erase --auto-verify program");
    EXPECT_EQ(again.status, 0) << again.out << again.err;
    EXPECT_TRUE(again.Has("Info: 0 sectors written, 2 unchanged.")) << again.out;
    EXPECT_FALSE(again.Has("Info: start erase...")) << again.out;
    EXPECT_TRUE(SameImage(Flash(), Expected()));
  }
}

TEST_F(ImageProgram, OnlyTheChangedSectorIsWrittenAndVerifyFindsTheDifference) {
  if (!BuildImages()) GTEST_SKIP() << "no ARM toolchain";
  Prepare(Target{}, Pattern(0x200000, 5));
  image_ = Expected();               // the board already holds the image...
  image_[kAppAddress + 100] = 0x5A;  // ...but for one byte of the app
  WriteBytes(root_ / "flash.bin", image_);
  const std::string args = "-f " + (root_ / "image.elf").string() + " --format image ";
  for (const char* on_target : {"0", "1"}) {
    const CliResult verify = Cli(args + "--set Option.TargetVerify=" + on_target + " verify");
    EXPECT_EQ(verify.status, 1);
    EXPECT_TRUE(verify.Has("Error: verify failed, different at address 0x00010064.")) << verify.err;
  }
  const CliResult run = Cli(args + "--auto-erase --auto-verify program");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(run.Has("Info: 1 sector written, 1 unchanged.")) << run.out;
  image_[kAppAddress + 100] = 0xA5;
  EXPECT_TRUE(SameImage(Flash(), image_));

  // Without the checksums both sectors are written again, to the same bytes.
  const CliResult all = Cli(args + "--set Option.SkipUnchanged=0 --auto-erase program");
  ASSERT_EQ(all.status, 0) << all.out << all.err;
  EXPECT_TRUE(all.Has("Info: 2 sectors written, 0 unchanged.")) << all.out;
  EXPECT_TRUE(SameImage(Flash(), image_));

  // --fast streams flat files only; an image keeps its own path.
  const CliResult fast = Cli(args + "--fast --auto-erase program");
  EXPECT_EQ(fast.status, 0) << fast.out << fast.err;
  EXPECT_TRUE(fast.Has("Info: 0 sectors written, 2 unchanged.")) << fast.out;
  EXPECT_EQ(Cli(args + "--fast verify").status, 0);
  EXPECT_TRUE(SameImage(Flash(), image_));
}

// Refused before anything on the flash changes: the flash file stays byte
// for byte what it was.
TEST_F(ImageProgram, RefusedImagesChangeNothing) {
  struct Case {
    const char* name;
    std::string text;  // S-records
    const char* options;
    int status;
    const char* line;  // a line of its own, or a part of one
  };
  const Case cases[] = {
      {"outside the device", "S20800000001020304ED\nS208300000112233441D\nS804000000FB\n", "", 1,
       "Error: image byte at 0x00300000 is outside the flash (0x00000000-0x001FFFFF), program "
       "failed."},
      {"bad checksum", "S20800000001020304ED\nS208010000112233444D\nS804000000FB\n", "", 1,
       "line 2: checksum 0x4D, the record needs 0x4C"},
      {"outside the selected sectors", "S20800000001020304ED\nS804000000FB\n", "-s 2-35 ", 1,
       "Error: the image touches sector 1, not all inside the selected sectors 2-35; select them "
       "or the whole flash, program failed."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Prepare(Target{}, Pattern(0x200000, 9));
    WriteText(root_ / "bad.srec", c.text);
    const CliResult run = Cli("-f " + (root_ / "bad.srec").string() + " --format image " +
                              c.options + "--auto-erase program");
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    EXPECT_TRUE(run.Has(c.line) || run.err.find(c.line) != std::string::npos) << run.err;
    EXPECT_FALSE(run.Has("Info: start erase...")) << run.out;
    EXPECT_TRUE(SameImage(Flash(), image_));
  }
}

}  // namespace
}  // namespace flash_commands
