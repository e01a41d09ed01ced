#include "simboard/memory/flash_image.h"

#include <cstring>

namespace simboard {

bool FlashImage::Open(const std::filesystem::path& path, std::size_t array_bytes,
                      std::size_t config_bytes, std::string& error) {
  array_bytes_ = array_bytes;
  const std::size_t total = array_bytes + config_bytes;
  if (path.empty()) {
    memory_.assign(total, 0xFF);
    data_ = memory_.data();
    return true;
  }
  if (!file_.Open(path, platform::MappedFile::OpenMode::OpenOrCreate)) {
    error = "Image: cannot open or create " + path.string();
    return false;
  }
  const std::uint64_t old_size = file_.Size().value_or(0);
  if (!file_.Map(total)) {
    error = "Image: cannot map " + path.string();
    return false;
  }
  data_ = reinterpret_cast<std::uint8_t*>(file_.data());
  if (old_size < total) std::memset(data_ + old_size, 0xFF, total - old_size);
  return true;
}

std::uint32_t LoadConfigWord(const std::uint8_t* bytes) {
  return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void StoreConfigWord(std::uint8_t* bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace simboard
