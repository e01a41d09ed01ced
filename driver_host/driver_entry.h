// What the program knows of one installed driver module: the record the
// discovery fills and the configuration dialog and the driver list show.
// Plain data, so that the front ends see it without the driver contract.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace romsmith {

// One driver module found in the driver module directory.
struct DriverEntry {
  std::string path;         // full path of the module file
  std::string file_name;    // with its suffix: what "Remote" "Device" holds
  std::string title;        // without the suffix: what the user picks
  std::string description;  // DriverInfo description
  std::string version;      // DriverInfo version text
  std::uint32_t comm_types = 0;
  std::vector<std::string> speed_names;  // empty when the driver offers none
  std::uint32_t speed_count = 0;         // 0: no speed choice

  bool operator==(const DriverEntry&) const = default;
};

}  // namespace romsmith
