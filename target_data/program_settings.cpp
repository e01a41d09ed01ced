#include "target_data/program_settings.h"

#include <algorithm>
#include <cstdint>

#include <system_error>
#include <utility>

#include "platform/message_box.h"
#include "platform/paths.h"

namespace romsmith {
namespace {

std::int32_t SaturatedProduct(std::int32_t value, std::int32_t factor) {
  const std::int64_t product = static_cast<std::int64_t>(value) * factor;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(product, INT32_MIN, INT32_MAX));
}

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

void SettingsStore::SetOverride(const std::string& section, const std::string& key,
                                const std::string& value) {
  overrides_.push_back({section, key, value});
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

  // The values are read from copies with the overrides in them; document_
  // stays as the file is, so that saving the "Remote" keys writes no
  // override back.
  IniDocument settings = document_;
  ProfileStore profile(profile_path_);
  for (const Override& o : overrides_) {
    settings.SetString(o.section, o.key, o.value);
    profile.SetText(o.section, o.key, o.value);
  }

  std::string port_driver_directory;
  std::string driver_module_directory;
  settings.GetString(kDirectorySection, "Driver", port_driver_directory);
  settings.GetString(kDirectorySection, "Device", driver_module_directory);
  v.remote = RemoteSettings();
  settings.GetString(kRemoteSection, "Device", v.remote.device);
  settings.GetString(kRemoteSection, "CommType", v.remote.comm_type);
  settings.GetString(kRemoteSection, "Parallel", v.remote.parallel);
  settings.GetString(kRemoteSection, "IPAddr", v.remote.ip_addr);
  settings.GetInt(kRemoteSection, "Speed", v.remote.speed);

  v.register_check_prompt = 1;
  settings.GetInt(kOptionSection, "RegChkPop", v.register_check_prompt);

  v.log_to_file = profile.GetInt(kOptionSection, "Log", 0);
  v.load_sector_data = profile.GetInt(kOptionSection, "LoadSectData", 0);
  v.check_id = profile.GetInt(kOptionSection, "CheckID", 1);
  v.reset_count = profile.GetInt(kOptionSection, "ResetCount", 1);
  // Scaled without overflow: a huge value stays huge and is refused where
  // it is used, instead of wrapping into a small or negative one.
  v.time_out_polls = SaturatedProduct(profile.GetInt(kOptionSection, "TimeOut", 12), 10);
  v.test_ram_bytes = SaturatedProduct(profile.GetInt(kOptionSection, "TestRamSize", 4), 1024);
  v.lpc_frequency = profile.GetInt(kOptionSection, "LpcFreq", 11059);
  v.lpc_vector_checksum = profile.GetInt(kOptionSection, "LpcVectorChecksum", 1);
  v.fast_read = profile.GetInt(kOptionSection, "FastRead", 0);
  v.target_verify = profile.GetInt(kOptionSection, "TargetVerify", 0);

  v.debug = 0;
  v.encrypt = 0;
  v.plain_loaders = 0;
  v.debug_file.clear();
  v.debug_count = 3;
  settings.GetInt(kMaintenanceSection, "Debug", v.debug);
  settings.GetString(kMaintenanceSection, "DebugFile", v.debug_file);
  settings.GetInt(kMaintenanceSection, "Encrypt", v.encrypt);
  settings.GetInt(kMaintenanceSection, "NoExeEncrypt", v.plain_loaders);
  settings.GetUnsigned(kMaintenanceSection, "DebugCount", v.debug_count);

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
  profile.SetInt(kOptionSection, "LpcVectorChecksum", v.lpc_vector_checksum);
  profile.SetInt(kOptionSection, "FastRead", v.fast_read);
  profile.SetInt(kOptionSection, "TargetVerify", v.target_verify);
  return profile.Save();
}

}  // namespace romsmith
