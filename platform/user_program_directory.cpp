#include "platform/user_program_directory.h"

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <vector>

namespace platform {
namespace fs = std::filesystem;
namespace {

constexpr std::array<std::string_view, 3> kLinkedExtensions = {".so", ".xdl", ".mdl"};
constexpr std::array<std::string_view, 2> kLinkedDirectories = {"examples", "help"};

bool IsExecutable(const fs::directory_entry& entry) {
  std::error_code error;
  const fs::perms perms = entry.status(error).permissions();
  return !error && (perms & fs::perms::owner_exec) != fs::perms::none;
}

// Adds what `installed` holds and `user` lacks.
bool AddMissing(const fs::path& installed, const fs::path& user, std::string& error) {
  std::error_code walk_error;
  for (auto it = fs::recursive_directory_iterator(installed, fs::directory_options::skip_permission_denied,
                                                  walk_error);
       !walk_error && it != fs::recursive_directory_iterator(); it.increment(walk_error)) {
    const fs::path relative = it->path().lexically_relative(installed);
    if (relative == kInstalledMarker) continue;
    const fs::path target = user / relative;
    std::error_code step;
    if (it->is_directory(step)) {
      fs::create_directories(target, step);
      if (step) {
        error = "cannot create " + target.string() + ": " + step.message();
        return false;
      }
      continue;
    }
    const fs::file_status present = fs::symlink_status(target, step);
    if (fs::exists(present)) {
      // A link whose installed file is gone but reappeared elsewhere keeps
      // its name: point it at the file the tree holds now.
      if (fs::is_symlink(present) && !fs::exists(target, step)) {
        fs::remove(target, step);
        fs::create_symlink(it->path(), target, step);
      }
      continue;
    }
    if (IsLinkedFromInstall(relative, IsExecutable(*it))) {
      fs::create_symlink(it->path(), target, step);
    } else {
      fs::copy_file(it->path(), target, fs::copy_options::skip_existing, step);
      if (!step) fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, step);
    }
    // Another process seeding at the same time made it first: fine.
    if (step && step != std::errc::file_exists) {
      error = "cannot create " + target.string() + ": " + step.message();
      return false;
    }
  }
  if (walk_error) {
    error = "cannot read " + installed.string() + ": " + walk_error.message();
    return false;
  }
  return true;
}

// Removes the user's links into `installed` whose file is gone.
void RemoveStaleLinks(const fs::path& installed, const fs::path& user) {
  std::error_code error;
  const std::string prefix = installed.string() + "/";
  std::vector<fs::path> stale;
  for (auto it = fs::recursive_directory_iterator(user, fs::directory_options::skip_permission_denied, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::error_code step;
    if (!it->is_symlink(step)) continue;
    const fs::path points_to = fs::read_symlink(it->path(), step);
    if (!step && points_to.string().rfind(prefix, 0) == 0 && !fs::exists(points_to, step))
      stale.push_back(it->path());
  }
  for (const fs::path& link : stale) fs::remove(link, error);
}

}  // namespace

bool NeedsUserProgramDirectory(const fs::path& directory) {
  std::error_code error;
  if (fs::exists(directory / kInstalledMarker, error)) return true;
  return ::access(directory.c_str(), W_OK) != 0;
}

fs::path UserProgramDirectoryPath() {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg && fs::path(xdg).is_absolute())
    return fs::path(xdg) / "romsmith";
  if (const char* home = std::getenv("HOME"); home && *home)
    return fs::path(home) / ".local" / "share" / "romsmith";
  return fs::temp_directory_path() / ("romsmith-" + std::to_string(::getuid()));
}

bool IsLinkedFromInstall(const fs::path& relative, bool executable) {
  if (executable) return true;
  const std::string extension = relative.extension().string();
  for (std::string_view linked : kLinkedExtensions)
    if (extension == linked) return true;
  const std::string top = relative.begin() == relative.end() ? "" : relative.begin()->string();
  for (std::string_view linked : kLinkedDirectories)
    if (top == linked) return true;
  return false;
}

bool SeedUserProgramDirectory(const fs::path& installed, const fs::path& user, std::string& error) {
  std::error_code step;
  fs::create_directories(user, step);
  if (step || !fs::is_directory(user, step)) {
    error = "cannot create " + user.string() + (step ? ": " + step.message() : "");
    return false;
  }
  if (!AddMissing(installed, user, error)) return false;
  RemoveStaleLinks(installed, user);
  return true;
}

}  // namespace platform
