#include "target_data/program_settings.h"

#include <system_error>
#include <utility>

#include "platform/message_box.h"
#include "platform/paths.h"

namespace romsmith {
namespace {

constexpr char kDirectorySection[] = "Directory";
constexpr char kRemoteSection[] = "Remote";
constexpr char kMaintenanceSection[] = "Tevrin";

}  // namespace

SettingsStore::SettingsStore() : SettingsStore(platform::ProgramDirectory(), platform::ProfilePath()) {}

SettingsStore::SettingsStore(std::filesystem::path program_directory,
                             std::filesystem::path profile_path)
    : program_directory_(std::move(program_directory)),
      settings_path_(program_directory_ / kSettingsFileName),
      profile_path_(std::move(profile_path)) {}

std::string SettingsStore::DirectoryText(const std::string& value) const {
  const std::string base = platform::WithTrailingSeparator(program_directory_.string());
  if (value.empty()) return base;
  if (platform::IsAbsoluteName(value)) return platform::WithTrailingSeparator(value);
  return platform::WithTrailingSeparator(base + value);
}

bool SettingsStore::Load() {
  // Read into a fresh document so that a failed read leaves the one loaded
  // before (and the values taken from it) untouched.
  IniDocument document;
  if (!document.Load(settings_path_.string())) {
    platform::ShowMessage("Can't open romsmith.ini file!", "Error", platform::MessageIcon::Error);
    return false;
  }
  document_ = std::move(document);
  loaded_ = true;
  ProgramSettings& v = values_;

  std::string port_driver_directory;
  std::string driver_module_directory;
  document_.GetString(kDirectorySection, "Driver", port_driver_directory);
  document_.GetString(kDirectorySection, "Device", driver_module_directory);
  v.remote = RemoteSettings();
  document_.GetString(kRemoteSection, "Device", v.remote.device);
  document_.GetString(kRemoteSection, "CommType", v.remote.comm_type);
  document_.GetString(kRemoteSection, "Parallel", v.remote.parallel);
  document_.GetString(kRemoteSection, "IPAddr", v.remote.ip_addr);
  document_.GetInt(kRemoteSection, "Speed", v.remote.speed);

  v.register_check_prompt = 1;
  document_.GetInt(kOptionSection, "RegChkPop", v.register_check_prompt);

  const ProfileStore profile(profile_path_);
  v.log_to_file = profile.GetInt(kOptionSection, "Log", 0);
  v.load_sector_data = profile.GetInt(kOptionSection, "LoadSectData", 0);
  v.check_id = profile.GetInt(kOptionSection, "CheckID", 1);
  v.reset_count = profile.GetInt(kOptionSection, "ResetCount", 1);
  v.time_out_polls = profile.GetInt(kOptionSection, "TimeOut", 12) * 10;
  v.test_ram_bytes = profile.GetInt(kOptionSection, "TestRamSize", 4) * 1024;
  v.lpc_frequency = profile.GetInt(kOptionSection, "LpcFreq", 11059);

  v.debug = 0;
  v.encrypt = 0;
  v.plain_loaders = 0;
  v.debug_file.clear();
  v.debug_count = 3;
  document_.GetInt(kMaintenanceSection, "Debug", v.debug);
  document_.GetString(kMaintenanceSection, "DebugFile", v.debug_file);
  document_.GetInt(kMaintenanceSection, "Encrypt", v.encrypt);
  document_.GetInt(kMaintenanceSection, "NoExeEncrypt", v.plain_loaders);
  document_.GetUnsigned(kMaintenanceSection, "DebugCount", v.debug_count);

  v.port_driver_directory = DirectoryText(port_driver_directory);
  v.driver_module_directory = DirectoryText(driver_module_directory);
  return true;
}

bool SettingsStore::SaveRemoteSettings() {
  std::error_code error;
  if (!loaded_ && std::filesystem::exists(settings_path_, error)) {
    // The file is there but was never read: writing the document now would
    // replace it with the "Remote" section alone.
    platform::ShowMessage("Can't open romsmith.ini file!", "Error", platform::MessageIcon::Error);
    return false;
  }
  const RemoteSettings& remote = values_.remote;
  document_.SetString(kRemoteSection, "Device", remote.device);
  document_.SetString(kRemoteSection, "CommType", remote.comm_type);
  document_.SetString(kRemoteSection, "Parallel", remote.parallel);
  document_.SetInt(kRemoteSection, "Speed", remote.speed);
  document_.SetString(kRemoteSection, "IPAddr", remote.ip_addr);
  return document_.SaveAs(settings_path_.string());
}

bool SettingsStore::SaveOptions() {
  ProfileStore profile(profile_path_);
  const ProgramSettings& v = values_;
  profile.SetInt(kOptionSection, "Log", v.log_to_file);
  profile.SetInt(kOptionSection, "LoadSectData", v.load_sector_data);
  profile.SetInt(kOptionSection, "CheckID", v.check_id);
  profile.SetInt(kOptionSection, "ResetCount", v.reset_count);
  profile.SetInt(kOptionSection, "TimeOut", v.time_out_polls / 10);
  profile.SetInt(kOptionSection, "TestRamSize", v.test_ram_bytes / 1024);
  profile.SetInt(kOptionSection, "LpcFreq", v.lpc_frequency);
  return profile.Save();
}

}  // namespace romsmith
