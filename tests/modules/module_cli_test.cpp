// romsmith-cli with osprey7 on the default virtual board: the host-read
// commands and the target test up to its loader step, on a flash image the
// test writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct CliRun {
  int status = -1;
  std::string out;
  bool Has(const std::string& line) const { return out.find(line + "\n") != std::string::npos; }
};

class CliOnBoard : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("osprey7_cli_" + std::to_string(::getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "program");
    for (const char* name : {"romsmith.ini", "proc.xdl", "rom.xdl"}) {
      fs::copy_file(fs::path(ROMSMITH_STAGE_DIR) / name, root_ / "program" / name);
    }
    fs::copy_file(fs::path(ROMSMITH_STAGE_DIR) / "ports/simboard/board.ini", root_ / "board.ini");
    // 2 MB of flash: the first 24 KiB a pattern, the rest erased.
    image_.assign(0x200000, 0xFF);
    for (std::size_t i = 0; i < 0x6000; ++i) {
      image_[i] = static_cast<unsigned char>((i * 131 + (i >> 7) * 17 + 5) & 0xFF);
    }
    std::ofstream(root_ / "flash0.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(image_.data()), static_cast<std::streamsize>(image_.size()));
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  CliRun Cli(const std::string& arguments) {
    const std::string command =
        std::string("'") + ROMSMITH_CLI + "' --program-dir '" + (root_ / "program").string() +
        "' --board '" + (root_ / "board.ini").string() + "' --set 'Directory.Device=" +
        ROMSMITH_STAGE_DIR + "/drivers/' --set 'Directory.Driver=" + ROMSMITH_STAGE_DIR +
        "/ports/simboard/' -y -c '" + ROMSMITH_SOURCE_DIR +
        "/data/examples/s3c44b0x-am29lv160db.cfg' " + arguments + " 2>/dev/null";
    CliRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }

  fs::path root_;
  std::vector<unsigned char> image_;
};

TEST_F(CliOnBoard, ChecksumIsTheSixteenBitByteSumOfTheSectors) {
  // Sectors 1 and 2: 16 KiB and 8 KiB.
  unsigned sum = 0;
  for (std::size_t i = 0; i < 0x6000; ++i) sum += image_[i];
  char line[64];
  std::snprintf(line, sizeof line, "Info: checksum completed, it is 0x%04X.", sum & 0xFFFF);
  const CliRun run = Cli("-s 1-2 checksum");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(run.Has("Info: target device ID is: 0x3f0f0f0f.")) << run.out;
  EXPECT_TRUE(run.Has(line)) << run.out;
}

TEST_F(CliOnBoard, BlankCheckFindsTheFirstWrittenByteAndPassesErasedSectors) {
  const CliRun written = Cli("-s 2-3 blank-check");
  EXPECT_EQ(written.status, 1);
  char line[96];
  std::snprintf(line, sizeof line, "Error: blank check failed, address 0x00004000 contain data 0x%02X.",
                image_[0x4000]);
  EXPECT_TRUE(written.Has(line)) << written.out;
  const CliRun erased = Cli("-s 5-7 blank-check");
  EXPECT_EQ(erased.status, 0) << erased.out;
  EXPECT_TRUE(erased.Has("Info: blank check success.")) << erased.out;
}

TEST_F(CliOnBoard, UploadGivesTheImageBackAndVerifyComparesIt) {
  const fs::path upload = root_ / "upload.bin";
  const CliRun up = Cli("-s 1-2 -f '" + upload.string() + "' upload");
  EXPECT_EQ(up.status, 0) << up.out;
  EXPECT_TRUE(up.Has("Info: upload completed.")) << up.out;
  std::ifstream in(upload, std::ios::binary);
  const std::vector<unsigned char> back((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(back.size(), 0x6000u);
  EXPECT_TRUE(std::equal(back.begin(), back.end(), image_.begin()));

  const CliRun same = Cli("-s 1-2 -f '" + upload.string() + "' verify");
  EXPECT_EQ(same.status, 0) << same.out;
  EXPECT_TRUE(same.Has("Info: verify success.")) << same.out;

  std::vector<unsigned char> changed = back;
  changed[0x4321] ^= 0x10;
  std::ofstream(upload, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(changed.data()), static_cast<std::streamsize>(changed.size()));
  const CliRun differs = Cli("-s 1-2 -f '" + upload.string() + "' verify");
  EXPECT_EQ(differs.status, 1);
  EXPECT_TRUE(differs.Has("Error: verify failed, different at address 0x00004321.")) << differs.out;
}

TEST_F(CliOnBoard, TargetTestPassesTheRamTestBeforeItsLoaderStep) {
  const CliRun run = Cli("target-test");
  EXPECT_TRUE(run.Has("Info: start target test...")) << run.out;
  EXPECT_TRUE(run.Has("Info: target device ID is: 0x3f0f0f0f.")) << run.out;
  EXPECT_TRUE(run.Has("Info: RAM test success.")) << run.out;
  EXPECT_TRUE(run.Has("Info: start get flash device code...")) << run.out;
  EXPECT_EQ(run.out.find("Error: emulator"), std::string::npos) << run.out;
}

}  // namespace
