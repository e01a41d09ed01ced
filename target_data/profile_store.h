// The per-user profile: the "Option" values of the Options dialog and the
// recent file list, kept in an INI file (platform::ProfilePath() unless told
// otherwise). A missing file reads as an empty profile; Save creates the file
// and its directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "formats/ini_document.h"

namespace romsmith {

class ProfileStore {
 public:
  // Reads the profile at platform::ProfilePath().
  ProfileStore();
  // Reads the profile at `path`.
  explicit ProfileStore(std::filesystem::path path);

  // Reads the file again; false (and an empty profile) when it does not
  // exist or cannot be read.
  [[nodiscard]] bool Reload();

  // The stored integer, or `fallback` when the entry is missing.
  std::int32_t GetInt(const std::string& section, const std::string& key,
                      std::int32_t fallback) const;
  // The stored text (trimmed) into `value`; false, and `value` unchanged,
  // when the entry is missing.
  bool Find(const std::string& section, const std::string& key, std::string& value) const;
  // The stored text, or `fallback` when the entry is missing.
  std::string GetText(const std::string& section, const std::string& key,
                      const std::string& fallback = {}) const;

  void SetInt(const std::string& section, const std::string& key, std::int32_t value);
  void SetText(const std::string& section, const std::string& key, const std::string& value);
  // Drops a whole section (the recent file list is rewritten this way).
  void RemoveSection(const std::string& section);

  // Writes the profile (temporary file and rename); false after the failure
  // was shown.
  [[nodiscard]] bool Save();

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  IniDocument document_;
};

}  // namespace romsmith
