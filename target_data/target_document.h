// The current target configuration with its file: load and save, the
// snapshot behind "is modified", validation, the transfers between the page
// model and the configuration, and the recent file list.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "target_data/cpu_database.h"
#include "target_data/flash_database.h"
#include "target_data/profile_store.h"
#include "target_data/target_config.h"
#include "target_data/target_pages.h"

namespace romsmith {

// Up to four configuration paths, most recent first, kept in the profile
// section "Recent File List" as "file1" to "file4".
class RecentFileList {
 public:
  static constexpr std::size_t kCapacity = 4;
  static constexpr char kSection[] = "Recent File List";

  void Read(const ProfileStore& profile);
  // Replaces the section in the profile (the caller saves the profile).
  void Write(ProfileStore& profile) const;

  // Puts the path at the top, dropping an older entry of the same path and
  // the oldest entry beyond the capacity.
  void Add(const std::string& path);
  void Remove(std::size_t index);

  const std::vector<std::string>& entries() const { return entries_; }
  bool empty() const { return entries_.empty(); }

 private:
  std::vector<std::string> entries_;
};

class TargetDocument {
 public:
  using LogError = std::function<void(const std::string&)>;

  // The document edits `pages`, which must outlive it.
  explicit TargetDocument(TargetPages& pages);

  // Loads a configuration file. When the current one has unsaved changes it
  // asks "Save changed to target config file?" first (Cancel: false,
  // nothing changes; Yes: saves first, and a failed save stops the load).
  // An unreadable file: "Can't open target config file!" (caption "Error"),
  // false, the configuration as it was. On success the snapshot is taken and
  // the pages show the configuration and the path.
  bool Load(const std::string& path);

  // File menu Open: Load; on success the path becomes the current file and
  // goes to the top of the recent file list.
  bool Open(const std::string& path);
  // A recent file list entry: as Open for that path.
  bool OpenRecent(std::size_t index);

  // Writes the current file. Without a current file it writes nothing and
  // returns false: the front end then asks for a path and calls SaveAs.
  bool Save();
  // File menu Save As: the path becomes the current file (shown on the
  // pages) and the configuration is written there exactly under that name;
  // on success the path goes to the top of the recent file list.
  bool SaveAs(const std::string& path);

  // False while there is no current file; otherwise the pages are taken into
  // the configuration and compared with the snapshot.
  bool IsModified();

  // Before a close: when modified, asks "Save changed to target config
  // file?" (Yes, No, Cancel). False for Cancel or when the asked-for save
  // failed; true when the caller may go on.
  bool ConfirmDiscard();

  // The checks run before every command, after TakeFromPages; the failure's
  // line goes to `log_error`.
  bool Validate(const LogError& log_error) const;

  // Pages -> configuration (before every command, before Save, in
  // IsModified); also copies the selected CPU record and flash device.
  void TakeFromPages();
  // Configuration -> pages: selects the stored CPU and flash device from the
  // page databases and fills every field.
  void ShowOnPages();

  TargetConfig& config() { return config_; }
  const TargetConfig& config() const { return config_; }
  const TargetConfig& snapshot() const { return snapshot_; }
  const std::string& current_file() const { return current_file_; }
  const CpuRecord& selected_cpu() const { return selected_cpu_; }
  const FlashDevice& selected_flash() const { return selected_flash_; }
  RecentFileList& recent_files() { return recent_files_; }
  const RecentFileList& recent_files() const { return recent_files_; }
  TargetPages& pages() { return pages_; }

 private:
  void ShowSummary();

  TargetPages& pages_;
  TargetConfig config_;
  TargetConfig snapshot_;
  std::string current_file_;
  CpuRecord selected_cpu_;
  FlashDevice selected_flash_;
  RecentFileList recent_files_;
};

}  // namespace romsmith
