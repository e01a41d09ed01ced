// One loop for every loader-driven command: the loader image found, decoded
// and written to target RAM, then run after run the parameter block (and the
// data behind it) written, the loader run to its breakpoint and polled, its
// results taken; or, in debug mode, the RAM image written to debug files
// instead. A LoaderJob describes what differs between the commands.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "operations/command_context.h"
#include "operations/file_checks.h"
#include "operations/loader_params.h"
#include "platform/run_files.h"

namespace romsmith {

// Lines of one loader run.
struct RunLines {
  const char* waiting;    // with the seconds waited so far
  const char* user_stop;  // logged plainly
  const char* time_out;   // logged as an error
};

// The lines of a program run, whichever way the data goes in.
inline constexpr RunLines kProgramRunLines{"Info: programming, waiting %d s",
                                           "Info: user stop program.\n",
                                           "Error: time out, program failed.\n"};

// What a step of the job asks for next.
enum class JobStep {
  kGoOn,   // fill: run this block; after_run: next block
  kDone,   // the command has completed
  kFailed  // the step has logged why
};

// Whether the job waits 2 ms before it resets the bar.
enum class SettlePause { kNever, kWhenCompleted, kAlways };

enum class RunResult { kDone, kStopped, kFailed };

struct LoaderJob {
  const char* start_line = nullptr;  // logged plainly first, when set
  const LoaderLayout* layout = &kFirstFamilyLayout;
  RunLines lines{};
  // Logged at the stop check before a run (as a rule lines.user_stop).
  const char* stop_line = nullptr;
  // Between the debug file prefix and its counter.
  const char* debug_infix = "";
  // The tail of the file-exception line, naming the command.
  const char* exception_tail = ", failed.\n";
  // Logged plainly when the job completes.
  const char* completed_line = nullptr;
  // Clears the breakpoints once more after each run before its results are
  // read (the second family and the device code).
  bool clear_after_run = false;
  SettlePause settle = SettlePause::kNever;

  // The body's own checks once the loader file is open; gives the progress
  // range, or nothing when the command cannot go on (it has logged why).
  std::function<std::optional<int>()> prepare;
  // When set: runs once every input is checked and before the loader is
  // written (a program's automatic erase); false ends the job (it has
  // logged why). The start line then follows it instead of coming first.
  std::function<bool()> before_load;
  // Builds the parameter block, and the data behind it, for the current run
  // into `block`. Called again for the same run after a debug image, so it
  // moves on only when after_run says so.
  std::function<JobStep(std::vector<std::uint8_t>& block)> fill;
  // When set: runs the loader in place of the plain run to its breakpoint
  // (a streamed program feeds it while it runs); each failure logged.
  std::function<RunResult()> run;
  // After a finished run: read its results, show progress, move on.
  std::function<JobStep()> after_run;
  // After the loop on every path but a file exception (closing files whose
  // close may fail).
  std::function<void()> finish;
};

struct LoaderJobResult {
  CommandOutcome outcome = CommandOutcome::kFailed;
  bool completed = false;
};

LoaderJobResult RunLoaderJob(const CommandContext& context, const LoaderJob& job);

// One run of a program in target RAM: PC := `start`, a breakpoint at
// `breakpoint`, run, then a status poll every poll interval until the
// program halts, the user stops or "TimeOut" passes; the breakpoints are
// cleared after a halt. Each failure has logged its line.
RunResult RunToBreakpoint(const CommandContext& context, std::uint32_t start,
                          std::uint32_t breakpoint, const RunLines& lines);

// The fields every block carries: operation, chip width and count, auto
// verify, flash start.
LoaderParams BaseLoaderParams(const CommandContext& context, LoaderOperation operation);
// A program run's block: the command set's program cycles and its program
// mode, whole sectors with "LoadSectData".
LoaderParams ProgramLoaderParams(const CommandContext& context);
// Loaders that take sector indexes count the sectors whose end (in the
// stored sizes) lies at or below a flash offset.
std::uint8_t SectorsBelow(const CommandContext& context, std::uint64_t offset);
// `block` := the packed parameter block and `data_length` bytes of 0xFF
// behind it.
void PackBlock(const CommandContext& context, const LoaderParams& params,
               std::vector<std::uint8_t>& block, std::size_t data_length = 0);

// The program file a command reads: the user's flat binary, or an Intel HEX
// file converted to a flat binary copy that goes with this object.
class ProgramFile {
 public:
  explicit ProgramFile(const TargetConfig& config);
  ~ProgramFile();
  ProgramFile(const ProgramFile&) = delete;
  ProgramFile& operator=(const ProgramFile&) = delete;

  // Converts an Intel HEX file into the command's own temporary directory,
  // after checking it is a regular file of a size the range can hold; logs
  // a "Warning: " line for each kind of damage the conversion passed over.
  enum class Resolution {
    kResolved,
    kFailed,   // the conversion failed (the caller logs its line)
    kRefused,  // refused before or while converting (logged)
    kStopped,  // the user stopped it (logged)
  };
  Resolution Resolve(const CommandContext& context, std::uint64_t capacity,
                     const char* too_large_line);
  // Checks and opens the resolved file, logging the program-file lines.
  bool Open(MessageLog& log);
  const std::string& name() const { return name_; }
  BinaryFile& file() { return file_; }

 private:
  const TargetConfig& config_;
  platform::RunDirectory run_directory_;
  std::string name_;
  std::string converted_;
  BinaryFile file_;
};

// The ProgramFile steps shared by the bodies that read one: resolve (with the
// conversion failure line), open, refuse a file longer than `capacity` with
// `too_large_line` and an empty one with `empty_line` (nothing written or
// compared is no success). The file's length, or nothing when the command
// cannot go on (it has logged why).
std::optional<std::uint64_t> OpenProgramFile(const CommandContext& context, ProgramFile& program,
                                             std::uint64_t capacity, const char* too_large_line,
                                             const char* empty_line);

// After a program run with auto verify: the loader's result byte. kFailed
// (logged) when it reports a verify error or cannot be read.
JobStep CheckLoaderVerify(const CommandContext& context, const LoaderLayout& layout);

// Whether the command runs a loader (every one but the host-read commands
// and the register read).
bool NeedsLoader(CommandCode code);
// For a command that runs a loader: false (logged) when the CPU database
// names no loader for the configuration's byte order.
bool CheckLoaderNamed(const CommandSnapshot& job, MessageLog& log);

// What killed runs left behind: the run directories of processes that no
// longer run, and decoded loader copies ("*.mdl.ddl") in the program
// directory, where earlier versions made them. Called with the program
// directory locked.
void RemoveStaleTemporaries();

// The last line of a program that completed.
const char* ProgramCompletedLine(const TargetConfig& config);

}  // namespace romsmith
