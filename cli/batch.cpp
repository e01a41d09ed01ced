#include "cli/batch.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "cli/interrupt.h"
#include "cli/run_record.h"
#include "cli/standard_streams.h"
#include "cli/station.h"
#include "platform/paths.h"

extern char** environ;

namespace romsmith {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

// How long a stopped target may take before it is told a second time
// (which ends it at once).
constexpr auto kStopGrace = std::chrono::seconds(5);

// What the batch knows of one target while it runs.
struct TargetState {
  StationTarget target;
  fs::path program_dir;
  std::string image;  // the program or upload file, as the record names it
  std::mutex mutex;   // guards the fields below
  pid_t pid = -1;     // the running process, -1 between two
  int percent = 0;
  std::string command;
  std::string last_line;
  bool done = false;
  TargetOutcome outcome;
  Json runs = Json::array();
};

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

std::string SelfPath() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string("romsmith-cli") : self.string();
}

// A program directory of the target's own under the batch's private
// directory: the same files as `source` (linked), a copy of its settings,
// and a lock, log file and temporary copies of its own, so the targets do
// not wait for each other.
bool MakeTargetProgramDirectory(const fs::path& source, const fs::path& dir, std::string& error) {
  std::error_code failed;
  fs::create_directories(dir, failed);
  for (const fs::directory_entry& entry : fs::directory_iterator(source, failed)) {
    const std::string name = entry.path().filename().string();
    if (name == ".romsmith.lock" || name == "Info.log" || name == ".installed") continue;
    std::error_code step;
    if (name == "romsmith.ini")
      fs::copy_file(entry.path(), dir / name, step);
    else
      fs::create_symlink(fs::absolute(entry.path()), dir / name, step);
    if (step) {
      error = "cannot prepare " + (dir / name).string() + ": " + step.message();
      return false;
    }
  }
  if (failed) {
    error = "cannot read the program directory " + source.string() + ": " + failed.message();
    return false;
  }
  return true;
}

// For upload, each target writes a file of its own: NAME.bin becomes
// NAME-TARGET.bin.
std::string UploadFileOf(const std::string& file, const std::string& target) {
  const fs::path path(file);
  return (path.parent_path() / (path.stem().string() + "-" + target + path.extension().string())).string();
}

class Batch {
 public:
  Batch(BatchOptions options, TerminalStreams streams)
      : options_(std::move(options)), streams_(streams) {}

  int Execute() {
    const auto started = Clock::now();
    std::string error;
    Station station;
    if (!LoadStation(options_.station_file, station, error)) return Usage(error);
    station_ = station;
    if (!private_.Create(error)) return Usage(error);
    source_dir_ = options_.program_dir ? fs::absolute(*options_.program_dir) : platform::ProgramDirectory();
    if (options_.file && *options_.file == kStandardStream) {
      // Read once; every target gets the same bytes.
      fs::path copy = private_.path() / "standard-input";
      if (!CopyDescriptorToNewFile(fileno(streams_.in), copy, kMaxStandardInputBytes, error)) return Usage(error);
      shared_file_ = copy.string();
      image_name_ = "-";
    } else if (options_.file) {
      shared_file_ = fs::absolute(*options_.file).string();
      image_name_ = fs::path(*options_.file).filename().string();
    }
    if (shared_file_) image_crc_ = FileCrc32(*shared_file_);
    if (options_.csv) {
      csv_fd_ = ::open(options_.csv->c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
      if (csv_fd_ < 0) return Usage("cannot open the production log " + Quoted(*options_.csv));
    }

    for (const StationTarget& target : station.targets) {
      auto state = std::make_unique<TargetState>();
      state->target = target;
      state->program_dir = private_.path() / ("target-" + std::to_string(targets_.size()));
      if (!MakeTargetProgramDirectory(source_dir_, state->program_dir, error)) return Usage(error);
      targets_.push_back(std::move(state));
    }
    std::vector<std::thread> workers;
    for (auto& state : targets_) workers.emplace_back([this, s = state.get()] { RunTarget(*s); });
    Watch();
    for (std::thread& worker : workers) worker.join();
    if (status_lines_drawn_) DrawStatus();

    std::vector<TargetOutcome> outcomes;
    for (auto& state : targets_) outcomes.push_back(state->outcome);
    const int worst = WorstExitStatus(outcomes);
    const double took = std::chrono::duration<double>(Clock::now() - started).count();
    std::string text;
    if (options_.json) {
      text = Summary(worst, took).dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
    } else {
      text = OutcomeTable(outcomes);
    }
    std::fwrite(text.data(), 1, text.size(), streams_.out);
    std::fflush(streams_.out);
    if (csv_fd_ >= 0) ::close(csv_fd_);
    return worst;
  }

 private:
  int Usage(const std::string& text) {
    std::fprintf(streams_.err, "romsmith-cli: batch: %s\n", text.c_str());
    std::fflush(streams_.err);
    return kExitUsage;
  }

  Json Summary(int worst, double took) {
    Json targets = Json::array();
    for (auto& state : targets_) {
      std::lock_guard lock(state->mutex);
      const TargetOutcome& o = state->outcome;
      char crc[16] = "";
      const std::optional<std::uint32_t> sum = CrcOf(*state);
      if (sum) std::snprintf(crc, sizeof crc, "%08X", *sum);
      targets.push_back({{"name", o.name},
                         {"config", state->target.config},
                         {"driver", state->target.device},
                         {"port", state->target.parallel.empty() ? Json(nullptr) : Json(state->target.parallel)},
                         {"board", state->target.board.empty() ? Json(nullptr) : Json(state->target.board)},
                         {"image", ImageOf(*state).empty() ? Json(nullptr) : Json(ImageOf(*state))},
                         {"crc32", sum ? Json(crc) : Json(nullptr)},
                         {"outcome", OutcomeName(o.exit_status)},
                         {"exit_status", o.exit_status},
                         {"duration_s", o.duration_s},
                         {"first_error", o.first_error.empty() ? Json(nullptr) : Json(o.first_error)},
                         {"runs", state->runs}});
    }
    return {{"batch", station_.name},
            {"station_file", fs::absolute(station_.file).string()},
            {"commands", options_.commands},
            {"outcome", OutcomeName(worst)},
            {"exit_status", worst},
            {"duration_s", took},
            {"targets", std::move(targets)}};
  }

  // The image a target's line names: the file programmed or verified, else
  // the file its upload wrote, else the one its configuration names.
  std::string ImagePathOf(const TargetState& state) const {
    const auto& codes = options_.command_codes;
    const bool writes = std::any_of(codes.begin(), codes.end(), [](CliCommand c) {
      return c == CliCommand::kProgram || c == CliCommand::kVerify;
    });
    const bool uploads = std::find(codes.begin(), codes.end(), CliCommand::kUpload) != codes.end();
    if (shared_file_) return uploads && !writes ? UploadFileOf(*shared_file_, state.target.name) : *shared_file_;
    return state.image;
  }
  std::string ImageOf(const TargetState& state) const {
    const std::string path = ImagePathOf(state);
    if (shared_file_ && path == *shared_file_) return image_name_;
    return path.empty() ? std::string() : fs::path(path).filename().string();
  }
  std::optional<std::uint32_t> CrcOf(const TargetState& state) const {
    const std::string path = ImagePathOf(state);
    if (shared_file_ && path == *shared_file_) return image_crc_;
    if (path.empty()) return std::nullopt;
    return FileCrc32(path);
  }

  std::vector<std::string> Arguments(const TargetState& state, std::size_t command) const {
    const StationTarget& t = state.target;
    std::vector<std::string> args = {SelfPath(), "--batch-child", "--program-dir", state.program_dir.string()};
    for (std::size_t i = 0; i < options_.target_options.size(); ++i) {
      const std::string& option = options_.target_options[i];
      const bool file = option == "-f" || option == "--file";
      if (file && i + 1 < options_.target_options.size()) {
        std::string value = *shared_file_;
        if (options_.command_codes[command] == CliCommand::kUpload) value = UploadFileOf(value, t.name);
        args.insert(args.end(), {option, value});
        ++i;
        continue;
      }
      if (option.rfind("--file=", 0) == 0) {
        std::string value = *shared_file_;
        if (options_.command_codes[command] == CliCommand::kUpload) value = UploadFileOf(value, t.name);
        args.push_back("--file=" + value);
        continue;
      }
      args.push_back(option);
    }
    args.insert(args.end(), {"-c", t.config});
    if (!t.device.empty()) args.insert(args.end(), {"--set", "Remote.Device=" + t.device});
    if (!t.parallel.empty()) args.insert(args.end(), {"--set", "Remote.Parallel=" + t.parallel});
    if (!t.board.empty()) args.insert(args.end(), {"--board", t.board});
    args.push_back(options_.commands[command]);
    return args;
  }

  // One target: its commands one after another, until one does not succeed
  // or the batch is stopped.
  void RunTarget(TargetState& state) {
    const auto started = Clock::now();
    {
      std::lock_guard lock(state.mutex);
      state.outcome.name = state.target.name;
    }
    int status = kExitSucceeded;
    std::string first_error;
    for (std::size_t k = 0; k < options_.commands.size() && status == kExitSucceeded; ++k) {
      if (stopping_.load()) {
        status = kExitStopped;
        break;
      }
      RunOnce(state, k, status, first_error);
      KeepLog(state, k == 0);
    }
    std::lock_guard lock(state.mutex);
    state.outcome.exit_status = status;
    state.outcome.duration_s = std::chrono::duration<double>(Clock::now() - started).count();
    state.outcome.first_error = first_error;
    state.done = true;
    AppendProductionLog(state);
  }

  void RunOnce(TargetState& state, std::size_t command, int& status, std::string& first_error) {
    std::vector<std::string> args = Arguments(state, command);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
      status = kExitFailed;
      first_error = "romsmith-cli: batch: no pipe for the target";
      return;
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
      ::close(out[0]);
      ::close(out[1]);
      status = kExitFailed;
      first_error = "romsmith-cli: batch: no pipe for the target";
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    // A process group of its own: the terminal's Ctrl-C reaches the batch,
    // which tells each target once.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    int spawned = 0;
    {
      // Spawned under the lock so that a stop sees the new process.
      std::lock_guard lock(state.mutex);
      if (!stopping_.load())
        spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
      else
        spawned = -1;
      state.pid = spawned == 0 ? pid : -1;
      state.command = options_.commands[command];
      state.percent = 0;
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(out[1]);
    ::close(err[1]);
    if (spawned != 0) {
      ::close(out[0]);
      ::close(err[0]);
      status = spawned < 0 ? kExitStopped : kExitFailed;
      if (spawned > 0) first_error = "romsmith-cli: batch: cannot start " + args[0];
      return;
    }

    std::string json_text;
    std::string err_text;
    std::string child_first_error;
    ReadChild(state, out[0], err[0], json_text, err_text, child_first_error);
    ::close(out[0]);
    ::close(err[0]);
    int wait_status = 0;
    while (::waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
    }
    {
      std::lock_guard lock(state.mutex);
      state.pid = -1;
    }

    // The record is all a target writes on standard output; a target that
    // crashed may have written none.
    Json record = Json::parse(json_text, nullptr, false);
    if (record.is_discarded()) record = nullptr;
    if (WIFSIGNALED(wait_status)) {
      status = kExitFailed;
      const std::string why = "romsmith-cli ended by signal " + std::to_string(WTERMSIG(wait_status)) +
                              " during " + options_.commands[command];
      first_error = child_first_error.empty() ? why : child_first_error;
      if (!child_first_error.empty()) first_error = why + " (" + child_first_error + ")";
    } else {
      status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : kExitFailed;
      if (status != kExitSucceeded && first_error.empty()) {
        first_error = child_first_error;
        if (first_error.empty() && record.is_object()) {
          // A failure without an error line (a device code that differs):
          // its last line says why.
          for (const Json& line : record.value("messages", Json::array()))
            if (line.value("kind", "") != "debug") first_error = line.value("text", "");
        }
        if (first_error.empty() && status == kExitStopped) first_error = "stopped";
      }
    }
    std::lock_guard lock(state.mutex);
    if (record.is_object()) {
      if (state.image.empty() && !record["file"].is_null()) state.image = record["file"].get<std::string>();
      state.runs.push_back(std::move(record));
    }
  }

  // Reads the target's standard output (its record) and standard error (its
  // lines and progress) until both end.
  void ReadChild(TargetState& state, int out, int err, std::string& json_text, std::string& err_text,
                 std::string& first_error) {
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    bool open[2] = {true, true};
    std::string pending;
    char buffer[8192];
    while (open[0] || open[1]) {
      for (int i = 0; i < 2; ++i) fds[i].fd = open[i] ? (i == 0 ? out : err) : -1;
      const int ready = ::poll(fds, 2, 200);
      if (ready < 0 && errno != EINTR) break;
      for (int i = 0; i < 2; ++i) {
        if (!open[i] || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
        if (n <= 0) {
          if (n < 0 && errno == EINTR) continue;
          open[i] = false;
          continue;
        }
        if (i == 0) {
          json_text.append(buffer, static_cast<std::size_t>(n));
          continue;
        }
        err_text.append(buffer, static_cast<std::size_t>(n));
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
          TakeChildLine(state, pending.substr(0, end), first_error);
          pending.erase(0, end + 1);
        }
      }
    }
    if (!pending.empty()) TakeChildLine(state, pending, first_error);
  }

  void TakeChildLine(TargetState& state, const std::string& line, std::string& first_error) {
    const std::string mark = std::string(kChildProgressMark) + " ";
    std::lock_guard lock(state.mutex);
    if (line.rfind(mark, 0) == 0) {
      state.percent = std::atoi(line.c_str() + mark.size());
      return;
    }
    if (line.empty()) return;
    state.last_line = line;
    if (first_error.empty() && (KindOfLine(line, false) == LineKind::kError || line.rfind("romsmith-cli:", 0) == 0))
      first_error = line;
    if (options_.verbosity != CliVerbosity::kQuiet && !streams_.err_is_terminal) {
      // No status lines: the targets' warnings and errors as they come,
      // each with the target's name.
      const LineKind kind = KindOfLine(line, false);
      if (kind == LineKind::kError || kind == LineKind::kWarning || line.rfind("romsmith-cli:", 0) == 0) {
        std::lock_guard print(print_mutex_);
        const std::string text = "[" + state.target.name + "] " + line + "\n";
        std::fwrite(text.data(), 1, text.size(), streams_.err);
        std::fflush(streams_.err);
      }
    }
  }

  // A run's Info.log (with "Log" on) onto the target's log in the program
  // directory, Info-NAME.log: made anew by the batch's first command, each
  // command's lines after the last.
  void KeepLog(const TargetState& state, bool first) {
    const fs::path log = state.program_dir / "Info.log";
    std::error_code missing;
    if (!fs::is_regular_file(log, missing)) return;
    std::ifstream in(log, std::ios::binary);
    std::ofstream out(source_dir_ / ("Info-" + state.target.name + ".log"),
                      std::ios::binary | (first ? std::ios::trunc : std::ios::app));
    out << in.rdbuf();
    in.close();
    fs::remove(log, missing);
  }

  void AppendProductionLog(const TargetState& state) {
    if (csv_fd_ < 0) return;
    std::lock_guard lock(csv_mutex_);
    std::string text;
    struct stat info {};
    if (::fstat(csv_fd_, &info) == 0 && info.st_size == 0) text = ProductionLogHeading();
    text += ProductionLogLine(UtcTimeText(), station_.name, ImageOf(state), CrcOf(state), state.outcome);
    // One write per line on a file opened for appending: lines of several
    // batches never mix, and a crash leaves whole lines behind.
    const ssize_t written = ::write(csv_fd_, text.data(), text.size());
    if (written != static_cast<ssize_t>(text.size())) {
      std::lock_guard print(print_mutex_);
      std::fprintf(streams_.err, "romsmith-cli: batch: cannot append to the production log %s\n",
                   options_.csv->c_str());
    }
  }

  // The main thread: Ctrl-C, the status lines, until every target is done.
  void Watch() {
    std::optional<Clock::time_point> stop_sent;
    bool second_sent = false;
    const bool status_lines = streams_.err_is_terminal && options_.verbosity != CliVerbosity::kQuiet;
    for (;;) {
      bool all_done = true;
      for (auto& state : targets_) {
        std::lock_guard lock(state->mutex);
        all_done = all_done && state->done;
      }
      if (all_done) break;
      if (!stop_sent && InterruptCount() > 0) {
        stopping_ = true;
        Signal();
        stop_sent = Clock::now();
      } else if (stop_sent && !second_sent && Clock::now() - *stop_sent > kStopGrace) {
        Signal();
        second_sent = true;
      }
      if (status_lines) DrawStatus();
      std::this_thread::sleep_for(std::chrono::milliseconds(status_lines ? 100 : 20));
    }
  }

  void Signal() {
    for (auto& state : targets_) {
      std::lock_guard lock(state->mutex);
      if (state->pid > 0) ::kill(state->pid, SIGINT);
    }
  }

  // One line per target, drawn over the last ones.
  void DrawStatus() {
    winsize size{};
    const std::size_t width =
        ::ioctl(fileno(streams_.err), TIOCGWINSZ, &size) == 0 && size.ws_col > 10 ? size.ws_col : 80;
    std::string text;
    if (status_lines_drawn_) text += "\033[" + std::to_string(targets_.size()) + "A";
    for (auto& state : targets_) {
      std::lock_guard lock(state->mutex);
      std::string line = state->target.name + "  ";
      if (state->done) {
        line += OutcomeName(state->outcome.exit_status);
      } else {
        const int filled = std::clamp(state->percent, 0, 100) / 5;
        line += state->command + " [" + std::string(static_cast<std::size_t>(filled), '#') +
                std::string(static_cast<std::size_t>(20 - filled), ' ') + "] " +
                std::to_string(state->percent) + "%";
      }
      line += "  " + state->last_line;
      // One screen line each, or moving back up would miss.
      if (line.size() >= width) line.resize(width - 1);
      text += "\r\033[K" + line + "\n";
    }
    std::lock_guard print(print_mutex_);
    std::fwrite(text.data(), 1, text.size(), streams_.err);
    std::fflush(streams_.err);
    status_lines_drawn_ = true;
  }

  BatchOptions options_;
  TerminalStreams streams_;
  Station station_;
  PrivateDirectory private_;
  fs::path source_dir_;
  std::optional<std::string> shared_file_;
  std::string image_name_;
  std::optional<std::uint32_t> image_crc_;
  std::vector<std::unique_ptr<TargetState>> targets_;
  std::atomic<bool> stopping_{false};
  int csv_fd_ = -1;
  std::mutex csv_mutex_;
  std::mutex print_mutex_;
  bool status_lines_drawn_ = false;
};

}  // namespace

int RunBatch(const std::vector<std::string>& arguments, const TerminalStreams& streams) {
  const BatchParseResult parsed = ParseBatchCommandLine(arguments);
  if (!parsed.ok) {
    std::fprintf(streams.err, "%s\n%s\n", parsed.error.c_str(), kCliTryHelp);
    return kExitUsage;
  }
  return Batch(parsed.options, streams).Execute();
}

}  // namespace romsmith
