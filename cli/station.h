// A production station: the targets of a station file, the command line of
// a batch over them, and what a batch writes at the end (the table and the
// production log's lines). Only reading and formatting here; batch.h runs
// the targets.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"

namespace romsmith {

// One [Target NAME] section, paths made absolute against the station file.
struct StationTarget {
  std::string name;
  std::string config;    // Config=
  std::string device;    // Device=, empty for the settings' module
  std::string parallel;  // Parallel=, or
  std::string board;     // Board=
};

struct Station {
  std::string name;  // [Station] Name=, else the file name without ".ini"
  std::filesystem::path file;
  std::vector<StationTarget> targets;
};

// Reads a station file. False with `error` set (one line) when it cannot be
// read or a target is incomplete or shares its port or board with another.
bool LoadStation(const std::filesystem::path& file, Station& station, std::string& error);

struct BatchOptions {
  std::string station_file;
  std::vector<std::string> commands;      // run one after another on each target
  std::vector<CliCommand> command_codes;  // beside `commands`
  std::vector<std::string> target_options;  // given to every target's runs as typed
  std::optional<std::string> csv;
  std::optional<std::string> file;          // -f as given
  std::optional<std::string> program_dir;
  bool json = false;
  CliVerbosity verbosity = CliVerbosity::kNormal;
};

struct BatchParseResult {
  bool ok = false;
  BatchOptions options;
  std::string error;  // "romsmith-cli: ..." when !ok
};

// True when the arguments ask for a batch ("batch" first).
bool IsBatchCommandLine(const std::vector<std::string>& arguments);
// Reads "batch STATION.ini [OPTIONS] COMMAND...". The options of a single
// run are checked as that run would check them; -c and --board come from
// the station file and are refused here.
BatchParseResult ParseBatchCommandLine(const std::vector<std::string>& arguments);

// How one target's batch ended.
struct TargetOutcome {
  std::string name;
  int exit_status = 0;
  double duration_s = 0;
  std::string first_error;  // the first error line, or why the target ended
};

// The worst of the exit statuses (the highest: 0 ok, 1 failed, 2 usage, 3
// stopped); 0 for none.
int WorstExitStatus(const std::vector<TargetOutcome>& outcomes);

// The end-of-batch table: a heading and one row per target, columns lined up.
std::string OutcomeTable(const std::vector<TargetOutcome>& outcomes);

// The production log's heading, and one line of it (both end in "\n"):
// time (UTC, ISO 8601), station, target, image name, CRC-32 of the image,
// outcome, duration in seconds, first error line; fields quoted as CSV needs.
std::string ProductionLogHeading();
std::string ProductionLogLine(const std::string& time, const std::string& station,
                              const std::string& image, const std::optional<std::uint32_t>& crc,
                              const TargetOutcome& outcome);

// CRC-32 (the ISO-HDLC one of zip and PNG) of a file; nothing when it
// cannot be read.
std::optional<std::uint32_t> FileCrc32(const std::filesystem::path& file);
std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t crc = 0);

// The time now as "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcTimeText();

}  // namespace romsmith
