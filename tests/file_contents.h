// Whole files read into memory in large blocks. Test programs compile
// without optimisation, where reading a flash image byte by byte through
// stream iterators costs seconds per test under the sanitizers.
#pragma once
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace romsmith_tests {

// The file's bytes, empty when it cannot be read; works on pipes too.
template <typename Container>
Container ReadWholeFile(const std::filesystem::path& path) {
  constexpr std::size_t kBlock = 1 << 18;
  Container content;
  std::ifstream in(path, std::ios::binary);
  while (in) {
    const std::size_t at = content.size();
    content.resize(at + kBlock);
    in.read(reinterpret_cast<char*>(content.data() + at), kBlock);
    content.resize(at + static_cast<std::size_t>(in.gcount()));
  }
  return content;
}

inline std::vector<unsigned char> ReadFileBytes(const std::filesystem::path& path) {
  return ReadWholeFile<std::vector<unsigned char>>(path);
}

inline std::string ReadFileText(const std::filesystem::path& path) {
  return ReadWholeFile<std::string>(path);
}

}  // namespace romsmith_tests
