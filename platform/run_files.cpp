#include "platform/run_files.h"

#include <dirent.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/paths.h"

namespace platform {
namespace {

constexpr std::string_view kRunPrefix = "romsmith-run-";

}  // namespace

RunDirectory::~RunDirectory() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

const std::filesystem::path& RunDirectory::path() {
  if (!tried_) {
    tried_ = true;
    std::string pattern = (TempDirectory() / (std::string(kRunPrefix) + std::to_string(::getpid()) +
                                              "-XXXXXX"))
                              .string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    // mkdtemp makes the directory new, with access for its owner only.
    if (::mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
  }
  return path_;
}

std::filesystem::path RunDirectory::File(const std::string& file_name) {
  const std::filesystem::path& directory = path();
  if (directory.empty()) return {};
  return directory / std::filesystem::path(file_name).filename();
}

int SweepDeadRunDirectories() {
  const std::filesystem::path temp = TempDirectory();
  int removed = 0;
  std::error_code error;
  for (std::filesystem::directory_iterator it(temp, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(kRunPrefix, 0) != 0) continue;
    const std::size_t dash = name.find('-', kRunPrefix.size());
    if (dash == std::string::npos) continue;
    const std::string pid_text = name.substr(kRunPrefix.size(), dash - kRunPrefix.size());
    if (pid_text.empty() || pid_text.find_first_not_of("0123456789") != std::string::npos) continue;
    const long pid = std::strtol(pid_text.c_str(), nullptr, 10);
    struct stat info {};
    // Only real directories of this user, never through a link.
    if (::lstat(it->path().c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid())
      continue;
    if (pid <= 0 || pid == ::getpid()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    std::error_code ignored;
    if (std::filesystem::remove_all(it->path(), ignored) > 0) ++removed;
  }
  return removed;
}

bool IsOpenInThisProcess(const std::filesystem::path& path) {
  struct stat wanted {};
  if (::stat(path.c_str(), &wanted) != 0) return false;
  DIR* fds = ::opendir("/proc/self/fd");
  if (!fds) return false;
  bool found = false;
  while (const dirent* entry = ::readdir(fds)) {
    if (entry->d_name[0] == '.') continue;
    struct stat open_file {};
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    if (::stat(link.c_str(), &open_file) != 0) continue;
    if (open_file.st_dev == wanted.st_dev && open_file.st_ino == wanted.st_ino &&
        S_ISREG(open_file.st_mode)) {
      found = true;
      break;
    }
  }
  ::closedir(fds);
  return found;
}

PlainFileCheck CheckPlainFile(const std::filesystem::path& path, std::uintmax_t max_bytes,
                              std::uintmax_t* size) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return PlainFileCheck::kMissing;
  if (!S_ISREG(info.st_mode)) return PlainFileCheck::kNotRegular;
  if (size) *size = static_cast<std::uintmax_t>(info.st_size);
  if (static_cast<std::uintmax_t>(info.st_size) > max_bytes) return PlainFileCheck::kTooLarge;
  return PlainFileCheck::kRegular;
}

}  // namespace platform
