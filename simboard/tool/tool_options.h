// Command-line options of romsmith-simboard: one verb (what to do with the
// board) and the options that go with it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace simboard {

enum class ToolVerb { None, Exec, Info, RemoteBitbang };

struct ToolOptions {
  ToolVerb verb = ToolVerb::None;
  bool help = false;
  std::string board;  // --board FILE
  // --exec IMAGE@ADDRESS
  std::string exec_image;
  std::uint32_t exec_address = 0;
  std::optional<std::uint64_t> max_instructions;  // --max-instructions N
  std::uint16_t remote_bitbang_port = 0;          // --remote-bitbang PORT
};

// Parses argv[1..]. False with `error` set (one line) on a usage error.
bool ParseToolOptions(const std::vector<std::string>& arguments, ToolOptions& options,
                      std::string& error);

std::string ToolUsage();

}  // namespace simboard
