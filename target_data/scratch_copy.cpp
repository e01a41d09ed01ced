#include "target_data/scratch_copy.h"

#include <stdlib.h>

#include <fstream>
#include <system_error>
#include <vector>

#include "platform/paths.h"

namespace romsmith {

ScratchCopy::ScratchCopy(const std::string& file_name,
                         const std::filesystem::path& fallback_directory) {
  std::string pattern = (platform::TempDirectory() / "romsmith-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) != nullptr) {
    directory_ = buffer.data();
    path_ = directory_ / file_name;
  } else {
    path_ = fallback_directory / file_name;
  }
}

ScratchCopy::~ScratchCopy() {
  std::error_code error;
  if (!directory_.empty()) {
    std::filesystem::remove_all(directory_, error);
  } else {
    std::filesystem::remove(path_, error);
  }
}

bool IsReadableFile(const std::filesystem::path& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  std::ifstream stream(path, std::ios::binary);
  return stream.is_open();
}

}  // namespace romsmith
