// What one run of romsmith-cli did, for scripts: the command, the target it
// ran on, how it ended, what it found, how much it moved and every line it
// printed. Written as one JSON object with --json; the batch reads it back
// from each of its targets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/terminal_frontend.h"

namespace romsmith {

struct FirstDifference {
  std::uint32_t address = 0;
  // The byte found there, when the line names it (blank check).
  std::optional<std::uint32_t> data;
};

struct RegisterValueResult {
  std::string name;
  std::uint32_t value = 0;
};

struct DriverResult {
  std::string file_name;
  std::string title;
  std::string description;
  std::string version;
  std::vector<std::string> speeds;
  std::vector<std::string> comm_types;
};

// The values a command found. Each is set only by a command that finds it.
struct RunResults {
  std::optional<std::uint32_t> checksum;
  std::optional<std::uint32_t> device_code;
  // What the flash answered when it is not the device code alone.
  std::optional<std::uint32_t> read_value;
  std::optional<std::uint32_t> lpc_vector_checksum;
  std::optional<FirstDifference> first_difference;
  // Bad blocks of a check block, in sector numbers counted from 1.
  std::optional<std::vector<int>> bad_blocks;
  std::optional<std::vector<RegisterValueResult>> registers;
  std::optional<std::vector<DriverResult>> drivers;
};

struct RunTarget {
  std::string config;
  std::string cpu;
  std::string cpu_vendor;
  std::string flash;
  std::string flash_vendor;
  std::string driver;  // the driver module's file name
  std::string port;    // "LPT1", ...
  std::string board;   // the virtual board file, when one is used
};

struct RunRecord {
  std::string command;
  RunTarget target;
  int exit_status = 0;
  RunResults results;
  // Sectors the command worked on, counted from 1 as -s counts them.
  std::optional<std::pair<int, int>> sectors;
  std::uint64_t bytes = 0;
  double duration_s = 0;
  std::string file;  // the program or upload file as given
  std::vector<PrintedLine> messages;
};

// "ok", "failed", "usage", "stopped" for the exit statuses 0 to 3.
const char* OutcomeName(int exit_status);

// Takes the values a result line of the message log holds into `results`;
// true when `text` is such a line (the checksum, a device code, the first
// difference, the LPC vector checksum).
bool TakeResultLine(const std::string& text, RunResults& results);

nlohmann::json RecordJson(const RunRecord& record);

}  // namespace romsmith
