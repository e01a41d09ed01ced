#include "cli/station.h"

#include <array>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>

#include "cli/run_record.h"
#include "target_data/station_file.h"

namespace romsmith {
namespace {

namespace fs = std::filesystem;

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.pop_back();
  std::size_t first = 0;
  while (first < text.size() && (text[first] == ' ' || text[first] == '\t')) ++first;
  return text.substr(first);
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// A path of the station file, relative ones against its directory.
std::string Resolved(const fs::path& station, const std::string& value) {
  const fs::path path(value);
  if (path.is_absolute()) return path.lexically_normal().string();
  return (fs::absolute(station).parent_path() / path).lexically_normal().string();
}

constexpr char kTargetPrefix[] = "Target ";

// The commands a batch runs: those of one target.
bool IsBatchCommand(CliCommand command) { return IsTargetCommand(command); }

// Batch options that take a value; the run's own ones are in options.cpp.
bool TakesValue(const std::string& argument) {
  static constexpr std::array<const char*, 11> kValued = {
      "-c", "--config", "-f", "--file", "--format", "-s", "--sectors", "--set", "--board",
      "--program-dir", "--csv"};
  for (const char* name : kValued)
    if (argument == name) return true;
  return false;
}

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    // One production-log line is one line of text.
    quoted += (c == '\n' || c == '\r') ? ' ' : c;
  }
  return quoted + "\"";
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", seconds);
  return text;
}

}  // namespace

bool LoadStation(const fs::path& file, Station& station, std::string& error) {
  StationFile document;
  std::error_code missing;
  if (!fs::is_regular_file(file, missing) || !document.Load(file)) {
    error = "station file " + Quoted(file.string()) + " could not be read";
    return false;
  }
  station = {};
  station.file = file;
  station.name = file.stem().string();
  std::string name;
  if (document.Get("Station", "Name", name) && !Trimmed(name).empty()) station.name = Trimmed(name);

  std::map<std::string, std::string> taken;  // port or board -> target
  for (const StationFile::Header& header : document.Headers()) {
    const std::string& line = header.line;
    const std::string& section = header.section;
    if (section.rfind(kTargetPrefix, 0) != 0) continue;
    StationTarget target;
    target.name = Trimmed(section.substr(sizeof kTargetPrefix - 1));
    const std::string where = "station file " + Quoted(file.string()) + ", target " + Quoted(target.name);
    if (target.name.empty() || target.name.find_first_of("/\\") != std::string::npos) {
      error = "station file " + Quoted(file.string()) + ": " + Quoted(line) + " needs a target name without '/'";
      return false;
    }
    for (const StationTarget& other : station.targets) {
      if (other.name == target.name) {
        error = where + " comes twice";
        return false;
      }
    }
    std::string value;
    if (document.Get(section, "Config", value) && !Trimmed(value).empty())
      target.config = Resolved(file, Trimmed(value));
    if (document.Get(section, "Device", value)) target.device = Trimmed(value);
    if (document.Get(section, "Parallel", value)) target.parallel = Trimmed(value);
    if (document.Get(section, "Board", value) && !Trimmed(value).empty())
      target.board = Resolved(file, Trimmed(value));
    if (target.config.empty()) {
      error = where + " has no Config=";
      return false;
    }
    if (target.parallel.empty() == target.board.empty()) {
      error = where + " needs either Parallel= or Board=";
      return false;
    }
    // Two targets on one probe would drive it at the same time.
    const std::string link = target.board.empty() ? "port " + target.parallel : "board " + target.board;
    if (const auto other = taken.find(link); other != taken.end()) {
      error = where + " uses the " + link + " of target " + Quoted(other->second);
      return false;
    }
    taken[link] = target.name;
    station.targets.push_back(std::move(target));
  }
  if (station.targets.empty()) {
    error = "station file " + Quoted(file.string()) + " has no [Target NAME] section";
    return false;
  }
  return true;
}

bool IsBatchCommandLine(const std::vector<std::string>& arguments) {
  return !arguments.empty() && arguments[0] == "batch";
}

BatchParseResult ParseBatchCommandLine(const std::vector<std::string>& arguments) {
  BatchParseResult result;
  BatchOptions& b = result.options;
  const auto fail = [&result](const std::string& text) {
    result.ok = false;
    result.error = "romsmith-cli: batch: " + text;
    return result;
  };
  std::vector<std::string> positional;
  bool ended = false;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    std::string argument = arguments[i];
    if (ended || argument.size() < 2 || argument[0] != '-') {
      positional.push_back(argument);
      continue;
    }
    if (argument == "--") {
      ended = true;
      continue;
    }
    std::optional<std::string> value;
    if (argument.rfind("--", 0) == 0) {
      if (const auto equals = argument.find('='); equals != std::string::npos) {
        value = argument.substr(equals + 1);
        argument.resize(equals);
      }
    }
    if (TakesValue(argument) && !value) {
      if (i + 1 >= arguments.size()) return fail("option " + Quoted(argument) + " needs a value");
      value = arguments[++i];
    }
    if (argument == "--csv") {
      if (value->empty()) return fail("option '--csv' needs a value");
      b.csv = *value;
    } else if (argument == "--json") {
      b.json = true;
    } else if (argument == "--program-dir") {
      b.program_dir = *value;
    } else if (argument == "-c" || argument == "--config" || argument == "--board") {
      return fail(Quoted(argument) + " comes from the station file (Config=, Board=)");
    } else if (argument == "--batch-child") {
      return fail("unknown option " + Quoted(argument));
    } else {
      if (argument == "-f" || argument == "--file") b.file = *value;
      if (argument == "-q" || argument == "--quiet") b.verbosity = CliVerbosity::kQuiet;
      if (argument == "-v" || argument == "--verbose") b.verbosity = CliVerbosity::kVerbose;
      b.target_options.push_back(argument);
      if (value) b.target_options.push_back(*value);
    }
  }
  if (positional.empty()) return fail("no station file given");
  b.station_file = positional[0];
  if (positional.size() < 2) return fail("no command given");
  for (std::size_t i = 1; i < positional.size(); ++i) {
    const CliCommand command = CommandNamed(positional[i]);
    if (command == CliCommand::kNone) return fail("unknown command " + Quoted(positional[i]));
    if (!IsBatchCommand(command)) return fail(Quoted(positional[i]) + " is not a command on a target");
    if (command == CliCommand::kUpload && b.file && *b.file == kStandardStream)
      return fail("upload -f - cannot write the images of several targets to standard output");
    // The run's own checks, with a stand-in configuration.
    std::vector<std::string> run = b.target_options;
    run.insert(run.end(), {"-c", "station-target.cfg", positional[i]});
    const CliParseResult parsed = ParseCommandLine(run);
    if (!parsed.ok) {
      result.error = parsed.error;
      return result;
    }
    b.commands.push_back(positional[i]);
    b.command_codes.push_back(command);
  }
  result.ok = true;
  return result;
}

int WorstExitStatus(const std::vector<TargetOutcome>& outcomes) {
  int worst = 0;
  for (const TargetOutcome& outcome : outcomes) worst = std::max(worst, outcome.exit_status);
  return worst;
}

std::string OutcomeTable(const std::vector<TargetOutcome>& outcomes) {
  std::size_t name_width = 6;
  for (const TargetOutcome& o : outcomes) name_width = std::max(name_width, o.name.size());
  const auto row = [&](const std::string& name, const std::string& outcome, const std::string& duration,
                       const std::string& error) {
    std::string line = name + std::string(name_width - name.size() + 2, ' ');
    line += outcome + std::string(outcome.size() < 9 ? 9 - outcome.size() : 1, ' ');
    line += std::string(duration.size() < 8 ? 8 - duration.size() : 0, ' ') + duration;
    if (!error.empty()) line += "  " + error;
    return line + "\n";
  };
  std::string table = row("target", "outcome", "time/s", "first error");
  for (const TargetOutcome& o : outcomes)
    table += row(o.name, OutcomeName(o.exit_status), Seconds(o.duration_s), o.first_error);
  return table;
}

std::string ProductionLogHeading() {
  return "time,station,target,image,crc32,outcome,duration_s,first_error\n";
}

std::string ProductionLogLine(const std::string& time, const std::string& station,
                              const std::string& image, const std::optional<std::uint32_t>& crc,
                              const TargetOutcome& outcome) {
  char crc_text[16] = "";
  if (crc) std::snprintf(crc_text, sizeof crc_text, "%08X", *crc);
  return CsvField(time) + "," + CsvField(station) + "," + CsvField(outcome.name) + "," + CsvField(image) +
         "," + crc_text + "," + OutcomeName(outcome.exit_status) + "," + Seconds(outcome.duration_s) + "," +
         CsvField(outcome.first_error) + "\n";
}

std::uint32_t Crc32(const void* data, std::size_t size, std::uint32_t crc) {
  static const std::array<std::uint32_t, 256> kTable = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
    return table;
  }();
  const auto* bytes = static_cast<const unsigned char*>(data);
  crc = ~crc;
  for (std::size_t i = 0; i < size; ++i) crc = kTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::optional<std::uint32_t> FileCrc32(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::uint32_t crc = 0;
  char buffer[65536];
  while (in) {
    in.read(buffer, sizeof buffer);
    crc = Crc32(buffer, static_cast<std::size_t>(in.gcount()), crc);
  }
  if (in.bad()) return std::nullopt;
  return crc;
}

std::string UtcTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

}  // namespace romsmith
