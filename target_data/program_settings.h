// The program's own settings: "romsmith.ini" in the program directory (the
// directories, the driver connection, the maintenance switches) and the user
// options of the per-user profile. Both are read at start and again before
// every command.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/ini_document.h"
#include "target_data/profile_store.h"

namespace romsmith {

// Section "Remote" of romsmith.ini: the chosen driver module and connection.
struct RemoteSettings {
  std::string device;     // "Device": file name of the driver module
  std::string comm_type;  // "CommType": "Parallel", "TCPIP", "USB" or empty
  std::string parallel;   // "Parallel": port text such as "LPT1"
  std::string ip_addr;    // "IPAddr"
  std::int32_t speed = 0; // "Speed": index into the driver's speed names

  bool operator==(const RemoteSettings&) const = default;
};

struct ProgramSettings {
  // "Directory": both always end in the path separator; a relative value in
  // the file is taken relative to the program directory, an empty one is the
  // program directory itself.
  std::string port_driver_directory;    // "Driver"
  std::string driver_module_directory;  // "Device"
  RemoteSettings remote;

  std::int32_t register_check_prompt = 1;  // file "Option" "RegChkPop"

  // "Tevrin": maintenance switches.
  std::int32_t debug = 0;          // "Debug"
  std::string debug_file;          // "DebugFile": pattern with a running number
  std::int32_t encrypt = 0;        // "Encrypt"
  std::int32_t plain_loaders = 0;  // "NoExeEncrypt"
  std::uint32_t debug_count = 3;   // "DebugCount"

  // Profile "Option", held in the units the operations use.
  std::int32_t log_to_file = 0;        // "Log"
  std::int32_t load_sector_data = 0;   // "LoadSectData"
  std::int32_t check_id = 1;           // "CheckID"
  std::int32_t reset_count = 1;        // "ResetCount"
  std::int32_t time_out_polls = 120;   // "TimeOut" seconds x 10 (100 ms polls)
  std::int32_t test_ram_bytes = 4096;  // "TestRamSize" KiB x 1024
  std::int32_t lpc_frequency = 11059;  // "LpcFreq", kHz
  // "LpcVectorChecksum": a program of an "LPC" device's first sector puts the
  // vector checksum at 0x14, and verify accepts it there.
  std::int32_t lpc_vector_checksum = 1;
  // "FastRead": 1 asks the driver for its faster block loads; a driver
  // without them reads the standard way.
  std::int32_t fast_read = 0;
  // "TargetVerify": 1 makes verify checksum the flash on the target and read
  // back only a block whose checksum differs from the file's.
  std::int32_t target_verify = 0;
  // "SkipUnchanged": a program of an image checksums each sector it touches
  // on the target first and leaves alone those that already hold what the
  // image puts there.
  std::int32_t skip_unchanged = 1;
  // "StreamProgram": 1 makes Program on NOR flash stream the data through
  // the debug comms channel into a loader that runs once per range.
  std::int32_t stream_program = 0;
  // "Fast": 1 stands for StreamProgram, TargetVerify and FastRead together;
  // read the three through the functions below.
  std::int32_t fast = 0;

  bool operator==(const ProgramSettings&) const = default;
};

// The options as they act, "Fast" included.
inline bool StreamsProgram(const ProgramSettings& s) {
  return s.stream_program != 0 || s.fast != 0;
}
inline bool VerifiesOnTarget(const ProgramSettings& s) {
  return s.target_verify != 0 || s.fast != 0;
}
inline bool ReadsFast(const ProgramSettings& s) { return s.fast_read != 0 || s.fast != 0; }

inline constexpr char kSettingsFileName[] = "romsmith.ini";
inline constexpr char kOptionSection[] = "Option";

// The settings document and the values read from it. The document stays
// loaded between reads so that saving the "Remote" keys keeps every other
// line of the file as it was.
class SettingsStore {
 public:
  // Settings of the program directory platform::ProgramDirectory(), user
  // options from the profile at platform::ProfilePath().
  SettingsStore();
  SettingsStore(std::filesystem::path program_directory, std::filesystem::path profile_path);

  // Reads romsmith.ini and the profile. When the file cannot be read:
  // message box "Can't open romsmith.ini file!" (caption "Error", error
  // icon), false, and every value keeps what it was.
  [[nodiscard]] bool Load();

  // A value that stands in for key `key` of `section` in romsmith.ini and in
  // the profile at every later Load, for the life of this store (the command
  // line's --set). It is never written: the saves below store what the files
  // held or what the caller put into values(), not the override.
  void SetOverride(const std::string& section, const std::string& key, const std::string& value);

  // The warning lines of the loads so far ("Warning: TimeOut=abc in the
  // profile ... the default 12 is used."), each once: a value that is not
  // one of its setting's values is replaced by the default at every load,
  // and the user hears of it once.
  std::vector<std::string> TakeWarnings();

  // Writes the "Remote" keys of values().remote into the loaded document and
  // saves the file; false when the file could not be written.
  [[nodiscard]] bool SaveRemoteSettings();

  // Writes the user options of values() to the profile section "Option"
  // (time-out in seconds, test RAM size in KiB) and saves the profile.
  [[nodiscard]] bool SaveOptions();

  ProgramSettings& values() { return values_; }
  const ProgramSettings& values() const { return values_; }

  const std::filesystem::path& settings_path() const { return settings_path_; }
  const std::filesystem::path& profile_path() const { return profile_path_; }
  const IniDocument& document() const { return document_; }

 private:
  std::string DirectoryText(const std::string& value) const;

  struct Override {
    std::string section;
    std::string key;
    std::string value;
  };

  std::filesystem::path program_directory_;
  std::filesystem::path settings_path_;
  std::filesystem::path profile_path_;
  IniDocument document_;
  bool loaded_ = false;
  ProgramSettings values_;
  std::vector<Override> overrides_;
  std::vector<std::string> warnings_;
  std::vector<std::string> reported_;
};

}  // namespace romsmith
