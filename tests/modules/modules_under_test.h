// What the tests expect of each driver module: its wiring on the virtual
// board, its core family and the texts and numbers it reports.
#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

namespace modules_test {

struct ModuleFacts {
  const char* name;
  const char* probe;  // the board file's Probe= for the module's wiring
  bool arm9;
  const char* description;
  std::uint32_t version;
  std::vector<const char*> speed_names;
  std::uint32_t speed_count;
  const char* speed_warning;  // null: the module reads no speed
  const char* port_library_failed;
  const char* probe_not_found;  // null: the presence test always passes
  const char* cpu_not_found;
};


inline const std::vector<ModuleFacts> kAllModules = {
    {"osprey7", "emulator", false, "Tevrin JTAG emulator for ARM7", 0x112045,
     {"High Speed", "Medium Speed", "Low Speed"}, 3,
     "Warning: JTAG speed config error, Tevrin Emulator running at full speed.\n",
     "Error: device driver error!\n",
     "Error: emulator not found, please check power and hardware connection.\n",
     "Error: target CPU not found. \n"},
    {"osprey9", "emulator", true, "Tevrin JTAG emulator for ARM9", 0x115045,
     {"High Speed", "Medium Speed", "Low Speed"}, 3,
     "Warning: JTAG speed config error, Tevrin Emulator running at full speed.\n",
     "Error: device driver error!\n",
     "Error: emulator not found, please check power and hardware connection.\n",
     "Error: target CPU not found. \n"},
    {"wren7", "cable", false, "Jtag cable for Romsmith", 0x114045,
     {"High Speed", "Medium Speed", "Low Speed"}, 3,
     "Warning: JTAG speed config error, JTAG Cable running at full speed.\n",
     "Error: device driver error!\n", nullptr, "Error: target CPU not found. \n"},
    {"wren9", "cable", true, "Jtag cable for Romsmith", 0x11A045,
     {"High Speed", "Medium Speed", "Low Speed"}, 3,
     "Warning: JTAG speed config error, JTAG Cable running at full speed.\n",
     "Error: device driver error!\n", nullptr, "Error: target CPU not found. \n"},
    {"harrier7", "harrier", false, "Tevrin Harrier for ARM7", 0x117047,
     {"Full Speed", "High Speed", "Medium Speed", "Low Speed"}, 4,
     "Warning: JTAG speed config error, Harrier running at full speed.\n",
     "Error: device driver error!\n",
     "Error: Harrier not found, please check power and hardware connection.\n",
     "Error: target CPU not found. \n"},
    {"harrier9", "harrier", true, "Tevrin Harrier for ARM9", 0x118045,
     {"Full Speed", "High Speed", "Medium Speed", "Low Speed"}, 4,
     "Warning: JTAG speed config error, Harrier running at full speed.\n",
     "Error: device driver error!\n",
     "Error: Harrier not found, please check power and hardware connection.\n",
     "Error: target CPU not found. \n"},
    {"kestrel7", "kestrel", false, "Tevrin Kestrel- I for ARM7.", 0x119043, {}, 2, nullptr,
     "Error: Device driver error!\n",
     "Error: Kestrel-I not found, please check hardware connection.\n",
     "Error: target CPU not found, please check power and JTAG connections.\n"},
};

// Test names show the module's name, not the record's bytes.
inline void PrintTo(const ModuleFacts& module, std::ostream* out) { *out << module.name; }

// The modules whose core family the virtual board runs.
inline std::vector<ModuleFacts> ModulesOn(bool arm9) {
  std::vector<ModuleFacts> out;
  for (const ModuleFacts& m : kAllModules) {
    if (m.arm9 == arm9) out.push_back(m);
  }
  return out;
}

}  // namespace modules_test
