// A Workbench on a scratch program directory with a fake target: a small
// CPU and flash database on the pages, plain loader images, the settings and
// the profile written by the test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "operations/loader_params.h"
#include "operations/testing/fake_target.h"
#include "reporting/testing/recording_frontend.h"
#include "operations/workbench.h"
#include "platform/paths.h"

namespace romsmith::testing {

inline std::string ReadFileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Sequence rows are by chip width; the fixture's flash is 16 bits wide.
inline CommandSequence Sequence(std::vector<std::pair<std::uint32_t, std::uint32_t>> cycles,
                                std::size_t row = 1) {
  CommandSequence sequence;
  sequence.count = static_cast<std::uint32_t>(cycles.size());
  for (std::size_t i = 0; i < cycles.size(); ++i) {
    sequence.addresses[row][i] = cycles[i].first;
    sequence.data[row][i] = cycles[i].second;
  }
  return sequence;
}

struct BenchOptions {
  std::string cpu_name = "S3C44B0X";
  std::string flash_name = "AM29TEST";
  std::vector<std::int32_t> sector_sizes = std::vector<std::int32_t>(8, 4096);
  int width = 16;
  int chips = 1;
  bool little_endian = true;
  bool nand = false;
};

class WorkbenchTest : public ::testing::Test {
 protected:
  void SetUp() override { Build(BenchOptions()); }

  void TearDown() override {
    bench_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // (Re)builds the bench; settings and profile lines may be changed first.
  void Build(const BenchOptions& options) {
    bench_.reset();
    options_ = options;
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = platform::TempDirectory() /
           ("romsmith-workbench-" + std::to_string(::getpid()) + "-" + test->name());
    std::filesystem::create_directories(dir_);
    platform::SetProgramDirectory(dir_);
    WriteSettings();
    WriteFileBytes(dir_ / "loader.bin", std::string(64, '\x11'));
    WriteFileBytes(dir_ / "loaderb.bin", std::string(64, '\x22'));

    frontend_ = std::make_unique<RecordingFrontend>();
    bench_ = std::make_unique<Workbench>(*frontend_,
                                         SettingsStore(dir_, dir_ / "profile.ini"));
    bench_->set_directory_lock_timeout(std::chrono::milliseconds(2000));

    CpuRecord cpu;
    cpu.name = options.cpu_name;
    cpu.vendor = "Samsung";
    cpu.loader_file_le = "loader.bin";
    cpu.loader_file_be = "loaderb.bin";
    cpu.registers.push_back({"WTCON", 0x01D30000, 32, 0, 0, "watchdog"});
    cpu.registers.push_back({"SYSCFG", 0x01C00000, 8, 0x04, 0, "cache"});
    TargetPages& pages = bench_->pages();
    pages.cpu.database.vendors = {"Samsung"};
    pages.cpu.database.cpus = {cpu};
    ASSERT_TRUE(pages.cpu.SelectCpu(cpu.name));
    pages.cpu.little_endian = options.little_endian;

    FlashDevice flash;
    flash.name = options.flash_name;
    flash.vendor = "AMD";
    flash.manufacturer_code = 0xEC;
    flash.device_code = 0x2249;
    flash.widths = {options.width};
    flash.sector_sizes = options.sector_sizes;
    flash.command_type = "AMD";
    flash.page_size = 512;
    flash.page_count = 32;
    pages.flash.database.vendors = {"AMD"};
    pages.flash.database.devices = {flash};
    ASSERT_TRUE(pages.flash.SelectDevice(flash.name));
    pages.flash.width_text = std::to_string(options.width);
    pages.flash.chips_text = std::to_string(options.chips);
    pages.flash.start_address = "0x0";
    pages.program.ram_start = "0x0C000000";

    bench_->SetCommandSetLoader([this](const FlashDevice&, CommandSet& set) {
      set = command_set_;
      return true;
    });
    command_set_ = CommandSet();
    command_set_.chip_erase = Sequence(
        {{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x80}, {0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x10}});
    command_set_.sector_erase = Sequence(
        {{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x80}, {0x555, 0xAA}, {0x2AA, 0x55}, {0, 0x30}});
    command_set_.program = Sequence({{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0xA0}});
    command_set_.sector_protect = Sequence({{0x555, 0x60}, {0, 0x60}});
    command_set_.read_device_code = Sequence({{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0x90}});
    command_set_.read_mode = Sequence({{0, 0xF0}});
    command_set_.program_mode = 0;

    FakeTarget::Geometry geometry;
    geometry.flash_address = 0;
    for (std::int32_t size : options.sector_sizes)
      geometry.block_sizes.push_back(static_cast<std::uint32_t>(size) *
                                     static_cast<std::uint32_t>(options.chips));
    geometry.nand = options.nand;
    geometry.little_endian = options.little_endian;
    auto target = std::make_unique<FakeTarget>(bench_->log(), geometry);
    target_ = target.get();
    target_->set_device_code(0x2249);
    bench_->SetTargetLink(std::move(target));
  }

  void WriteSettings() {
    std::string ini = "[Directory]\nDriver=\nDevice=" + driver_directory_ +
                      "\n[Remote]\nDevice=" + driver_module_ + "\nCommType=Parallel\n"
                      "Parallel=LPT1\n[Option]\nRegChkPop=" + std::to_string(reg_check_prompt_) +
                      "\n[Tevrin]\nDebug=" + std::to_string(debug_) + "\nDebugFile=" + debug_file_ +
                      "\nDebugCount=" + std::to_string(debug_count_) +
                      "\nNoExeEncrypt=" + std::to_string(plain_loaders_) + "\n";
    WriteFileBytes(dir_ / "romsmith.ini", ini);
    WriteFileBytes(dir_ / "profile.ini", "[Option]\n" + profile_extra_ +
                                             "TimeOut=" + std::to_string(time_out_) +
                                             "\nTestRamSize=1\nResetCount=" +
                                             std::to_string(reset_count_) + "\n");
  }

  // Runs a command entry to its end.
  CommandOutcome Run(const std::function<bool(Workbench&)>& entry) {
    WriteSettings();
    EXPECT_TRUE(entry(*bench_));
    bench_->WaitForCommand();
    EXPECT_FALSE(bench_->IsBusy());
    return bench_->outcome();
  }

  std::vector<std::string> Lines() const { return frontend_->Texts(); }
  std::string LastLine() const {
    auto lines = Lines();
    return lines.empty() ? std::string() : lines.back();
  }
  // Lines from the last that starts with `first` (none: empty).
  std::vector<std::string> LinesFrom(const std::string& first) const {
    auto lines = Lines();
    auto it = std::find_if(lines.rbegin(), lines.rend(),
                           [&](const std::string& line) { return line.rfind(first, 0) == 0; });
    if (it == lines.rend()) return {};
    return std::vector<std::string>(std::prev(it.base()), lines.end());
  }
  // Files left in the program directory besides those the bench wrote.
  std::vector<std::string> StrayFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      const std::string name = entry.path().filename().string();
      if (name == "romsmith.ini" || name == "profile.ini" || name == "loader.bin" ||
          name == "loaderb.bin" || name == ".romsmith.lock" || keep_.count(name))
        continue;
      names.push_back(name);
    }
    return names;
  }

  std::filesystem::path dir_;
  BenchOptions options_;
  std::unique_ptr<RecordingFrontend> frontend_;
  std::unique_ptr<Workbench> bench_;
  FakeTarget* target_ = nullptr;
  CommandSet command_set_;
  std::set<std::string> keep_;

  std::string driver_directory_;
  std::string driver_module_ = "fake.so";
  int reg_check_prompt_ = 0;
  int debug_ = 0;
  std::string debug_file_;
  int debug_count_ = 3;
  int plain_loaders_ = 1;
  int time_out_ = 12;
  int reset_count_ = 1;
  std::string profile_extra_;
};

}  // namespace romsmith::testing
