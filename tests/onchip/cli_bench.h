// romsmith-cli run on a copy of one staged example board: a program
// directory with the staged data and loaders, the board file beside it (its
// image files land there), the staged driver modules and port library, and
// one staged example configuration.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/file_contents.h"

namespace romsmith::cli_testing {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
  // A line on the stream it belongs to: "Error:" and "Warning:" lines on
  // standard error, every other line on standard output.
  bool Has(const std::string& line) const {
    const bool to_err = line.rfind("Error:", 0) == 0 || line.rfind("Warning:", 0) == 0;
    return (to_err ? err : out).find(line + "\n") != std::string::npos;
  }
};

inline Bytes ReadFile(const fs::path& path) { return romsmith_tests::ReadFileBytes(path); }

inline void WriteFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes RandomBytes(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  Bytes bytes(count);
  for (auto& b : bytes) b = static_cast<unsigned char>(random());
  return bytes;
}

inline Bytes Slice(const Bytes& bytes, std::size_t at, std::size_t count) {
  return Bytes(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + count));
}

// A program directory with the staged data and loaders, and a copy of one
// staged example board whose image files land beside it.
class Bench {
 public:
  Bench(const std::string& board, const std::string& config, std::string module = "osprey7.so")
      : config_(config), module_(std::move(module)) {
    static int counter = 0;
    root_ = fs::temp_directory_path() / ("romsmith_cli_" + std::to_string(::getpid()) + "_" +
                                         std::to_string(counter++));
    fs::remove_all(root_);
    fs::create_directories(root_ / "program");
    for (const fs::directory_entry& entry : fs::directory_iterator(ROMSMITH_STAGE_DIR)) {
      const auto ext = entry.path().extension();
      if (ext == ".mdl" || ext == ".xdl" || entry.path().filename() == "romsmith.ini") {
        fs::copy_file(entry.path(), root_ / "program" / entry.path().filename());
      }
    }
    fs::copy_file(fs::path(ROMSMITH_STAGE_DIR) / "ports/simboard" / board, root_ / "board.ini");
    // A profile of its own: the options of whoever runs the tests stay out.
    std::ofstream(root_ / "profile.ini") << "[Option]\n";
  }
  ~Bench() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // `environment`: NAME=VALUE words put before the command.
  CliRun Cli(const std::string& arguments, const std::string& environment = "") const {
    const std::string command =
        "ROMSMITH_PROFILE='" + (root_ / "profile.ini").string() + "' " + environment + " '" + ROMSMITH_CLI + "' --program-dir '" + (root_ / "program").string() +
        "' --board '" + (root_ / "board.ini").string() + "' --set 'Directory.Device=" +
        ROMSMITH_STAGE_DIR + "/drivers/' --set 'Directory.Driver=" + ROMSMITH_STAGE_DIR +
        "/ports/simboard/' --set Remote.Device=" + module_ + " -y -c '" + ROMSMITH_STAGE_DIR +
        "/examples/" + config_ + "' " + arguments + " 2>'" + (root_ / "err.txt").string() + "'";
    CliRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const Bytes err = ReadFile(root_ / "err.txt");
    run.err.assign(err.begin(), err.end());
    return run;
  }
  fs::path Path(const std::string& name) const { return root_ / name; }

 private:
  std::string config_;
  std::string module_;
  fs::path root_;
};

}  // namespace romsmith::cli_testing
