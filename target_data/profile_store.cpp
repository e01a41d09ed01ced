#include "target_data/profile_store.h"

#include <system_error>
#include <utility>

#include "platform/paths.h"

namespace romsmith {

ProfileStore::ProfileStore() : ProfileStore(platform::ProfilePath()) {}

// A profile that does not exist yet reads as empty (see Reload).
ProfileStore::ProfileStore(std::filesystem::path path) : path_(std::move(path)) {
  static_cast<void>(Reload());
}

bool ProfileStore::Reload() {
  // A fresh user has no profile yet: it reads as empty, and Save creates it.
  std::error_code error;
  if (!std::filesystem::is_regular_file(path_, error)) {
    document_ = IniDocument();
    return false;
  }
  return document_.Load(path_.string());
}

std::int32_t ProfileStore::GetInt(const std::string& section, const std::string& key,
                                  std::int32_t fallback) const {
  std::int32_t value = fallback;
  document_.GetInt(section, key, value);
  return value;
}

bool ProfileStore::Find(const std::string& section, const std::string& key,
                        std::string& value) const {
  return document_.GetString(section, key, value);
}

std::string ProfileStore::GetText(const std::string& section, const std::string& key,
                                  const std::string& fallback) const {
  std::string value = fallback;
  document_.GetString(section, key, value);
  return value;
}

void ProfileStore::SetInt(const std::string& section, const std::string& key,
                          std::int32_t value) {
  document_.SetInt(section, key, value);
}

void ProfileStore::SetText(const std::string& section, const std::string& key,
                           const std::string& value) {
  document_.SetString(section, key, value);
}

void ProfileStore::RemoveSection(const std::string& section) { document_.RemoveSection(section); }

bool ProfileStore::Save() {
  std::error_code error;
  if (path_.has_parent_path()) std::filesystem::create_directories(path_.parent_path(), error);
  return document_.SaveAs(path_.string());
}

}  // namespace romsmith
