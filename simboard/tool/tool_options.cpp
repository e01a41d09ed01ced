#include "simboard/tool/tool_options.h"

#include "simboard/description/board_file.h"

namespace simboard {

namespace {

struct OptionRule {
  const char* name;
  bool takes_value;
  // Applies the option; false with `error` set when its value is wrong.
  bool (*apply)(const std::string& value, ToolOptions& options, std::string& error);
};

bool SetVerb(ToolOptions& options, ToolVerb verb, std::string& error) {
  if (options.verb != ToolVerb::None && options.verb != verb) {
    error = "give only one of --exec, --info and --remote-bitbang";
    return false;
  }
  options.verb = verb;
  return true;
}

const OptionRule kOptions[] = {
    {"--board", true,
     [](const std::string& value, ToolOptions& o, std::string&) {
       o.board = value;
       return true;
     }},
    {"--exec", true,
     [](const std::string& value, ToolOptions& o, std::string& error) {
       if (!SetVerb(o, ToolVerb::Exec, error)) return false;
       std::size_t at = value.rfind('@');
       auto address = at == std::string::npos ? std::nullopt
                                              : ParseBoardNumber(value.substr(at + 1), false);
       if (at == 0 || !address || *address > 0xFFFFFFFFu) {
         error = "--exec wants IMAGE@ADDRESS, not \"" + value + "\"";
         return false;
       }
       o.exec_image = value.substr(0, at);
       o.exec_address = static_cast<std::uint32_t>(*address);
       return true;
     }},
    {"--max-instructions", true,
     [](const std::string& value, ToolOptions& o, std::string& error) {
       auto count = ParseBoardNumber(value, false);
       if (!count || *count == 0) {
         error = "--max-instructions wants a positive number, not \"" + value + "\"";
         return false;
       }
       o.max_instructions = *count;
       return true;
     }},
    {"--info", false,
     [](const std::string&, ToolOptions& o, std::string& error) {
       return SetVerb(o, ToolVerb::Info, error);
     }},
    {"--remote-bitbang", true,
     [](const std::string& value, ToolOptions& o, std::string& error) {
       if (!SetVerb(o, ToolVerb::RemoteBitbang, error)) return false;
       auto port = ParseBoardNumber(value, false);
       if (!port || *port == 0 || *port > 65535) {
         error = "--remote-bitbang wants a TCP port from 1 to 65535, not \"" + value + "\"";
         return false;
       }
       o.remote_bitbang_port = static_cast<std::uint16_t>(*port);
       return true;
     }},
    {"--help", false,
     [](const std::string&, ToolOptions& o, std::string&) {
       o.help = true;
       return true;
     }},
};

}  // namespace

bool ParseToolOptions(const std::vector<std::string>& arguments, ToolOptions& options,
                      std::string& error) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string name = arguments[i];
    std::string value;
    bool inline_value = false;
    if (std::size_t equals = name.find('='); name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      inline_value = true;
    }
    const OptionRule* rule = nullptr;
    for (const auto& candidate : kOptions) {
      if (name == candidate.name) rule = &candidate;
    }
    if (rule == nullptr) {
      error = "unknown option \"" + arguments[i] + "\"";
      return false;
    }
    if (rule->takes_value && !inline_value) {
      if (i + 1 >= arguments.size()) {
        error = name + " wants a value";
        return false;
      }
      value = arguments[++i];
    } else if (!rule->takes_value && inline_value) {
      error = name + " takes no value";
      return false;
    }
    if (!rule->apply(value, options, error)) return false;
  }
  if (options.help) return true;
  if (options.verb == ToolVerb::None) {
    error = "nothing to do: give --exec, --info or --remote-bitbang";
    return false;
  }
  if (options.board.empty()) {
    error = "--board FILE is required";
    return false;
  }
  if (options.max_instructions && options.verb != ToolVerb::Exec) {
    error = "--max-instructions goes with --exec";
    return false;
  }
  return true;
}

std::string ToolUsage() {
  return "usage: romsmith-simboard --board FILE --exec IMAGE@ADDRESS [--max-instructions N]\n"
         "       romsmith-simboard --board FILE --info\n"
         "       romsmith-simboard --board FILE --remote-bitbang PORT\n"
         "\n"
         "--exec loads the raw image into the board's memory at ADDRESS, resets the core\n"
         "(ARM state, Supervisor mode, interrupts off) and runs it from ADDRESS until the\n"
         "program calls semihosting SYS_EXIT, or until N instructions (default: the\n"
         "board's RunBudget), or until an exception other than a semihosting call.\n"
         "It then prints R0..R15 and CPSR and exits 0 after SYS_EXIT, else 1.\n"
         "--info prints the board's regions and flash chips.\n"
         "--remote-bitbang serves the board's JTAG connector to OpenOCD's remote_bitbang\n"
         "adapter on 127.0.0.1:PORT, one client at a time, until a client quits or the\n"
         "process gets SIGINT or SIGTERM, and then prints the counters.\n"
         "Exit status 2: a usage error or a board that cannot be built.\n";
}

}  // namespace simboard
