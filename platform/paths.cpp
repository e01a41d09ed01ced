#include "platform/paths.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <unistd.h>

#include "platform/user_program_directory.h"

namespace platform {
namespace {

std::mutex g_program_directory_mutex;
std::filesystem::path g_program_directory;

std::filesystem::path ExecutableDirectory() {
  std::error_code error;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::filesystem::current_path();
  return exe.parent_path();
}

// The executable's directory, or for an installed program the user's own
// program directory (see user_program_directory.h), brought up to date with
// the installed one. When that
// cannot be made the installed directory stays in use and the commands
// report what they cannot write.
std::filesystem::path StartDirectory() {
  const std::filesystem::path installed = ExecutableDirectory();
  if (!NeedsUserProgramDirectory(installed)) return installed;
  const std::filesystem::path user = UserProgramDirectoryPath();
  std::string error;
  if (SeedUserProgramDirectory(installed, user, error)) return user;
  std::fprintf(stderr, "Warning: no program directory of your own (%s); using %s\n", error.c_str(),
               installed.c_str());
  return installed;
}

}  // namespace

std::filesystem::path ProgramDirectory() {
  std::lock_guard lock(g_program_directory_mutex);
  if (g_program_directory.empty()) g_program_directory = StartDirectory();
  return g_program_directory;
}

void SetProgramDirectory(const std::filesystem::path& directory) {
  std::lock_guard lock(g_program_directory_mutex);
  std::error_code error;
  auto absolute = std::filesystem::absolute(directory, error);
  g_program_directory = error ? directory : absolute.lexically_normal();
  // "dir/" normalises to "dir/" with an empty filename; keep the plain form.
  if (!g_program_directory.has_filename() && g_program_directory.has_parent_path() &&
      g_program_directory != g_program_directory.root_path())
    g_program_directory = g_program_directory.parent_path();
}

std::string ProgramDirectoryText() {
  return WithTrailingSeparator(ProgramDirectory().string());
}

std::filesystem::path TempDirectory() {
  std::error_code error;
  auto dir = std::filesystem::temp_directory_path(error);
  return error ? std::filesystem::path("/tmp") : dir;
}

std::filesystem::path ProfilePath() {
  if (const char* explicit_path = std::getenv("ROMSMITH_PROFILE"); explicit_path && *explicit_path)
    return explicit_path;
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::filesystem::path(home) / ".config";
  } else {
    base = TempDirectory();
  }
  return base / "Romsmith" / "Romsmith.ini";
}

std::string WithTrailingSeparator(std::string directory) {
  if (!directory.empty() && directory.back() != kPathSeparator) directory.push_back(kPathSeparator);
  return directory;
}

bool IsAbsoluteName(std::string_view name) {
  if (name.find(':') != std::string_view::npos) return true;
  return std::filesystem::path(name).is_absolute();
}

std::string StripSharedLibrarySuffix(std::string_view name) {
  if (name.size() >= kSharedLibrarySuffix.size() &&
      name.substr(name.size() - kSharedLibrarySuffix.size()) == kSharedLibrarySuffix)
    name.remove_suffix(kSharedLibrarySuffix.size());
  return std::string(name);
}

}  // namespace platform
