// The contents of an on-chip flash array held in an image file: byte i of
// the file is byte i of the array, followed by the part's non-volatile
// configuration bytes (lock and protection bits). A new or short file starts
// erased (0xFF). Without a file name the contents live in memory only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/mapped_file.h"

namespace simboard {

class FlashImage {
 public:
  // False with `error` set when the file cannot be opened or mapped.
  bool Open(const std::filesystem::path& path, std::size_t array_bytes, std::size_t config_bytes,
            std::string& error);

  std::uint8_t* array() { return data_; }
  const std::uint8_t* array() const { return data_; }
  std::size_t array_bytes() const { return array_bytes_; }
  std::uint8_t* config() { return data_ + array_bytes_; }
  const std::uint8_t* config() const { return data_ + array_bytes_; }

 private:
  platform::MappedFile file_;
  std::vector<std::uint8_t> memory_;
  std::uint8_t* data_ = nullptr;
  std::size_t array_bytes_ = 0;
};

// A 32-bit value kept little-endian in configuration bytes.
std::uint32_t LoadConfigWord(const std::uint8_t* bytes);
void StoreConfigWord(std::uint8_t* bytes, std::uint32_t value);

}  // namespace simboard
