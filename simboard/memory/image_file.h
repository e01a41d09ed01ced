// The file behind one non-volatile memory of the board. The board keeps the
// contents in its own memory and writes changes through to the file (when
// its owner flushes them), so that the file shows the memory, while no other
// process can pull the memory out from under the board: a file that is truncated or rewritten
// while the board runs (an upload saved onto the board's own image) changes
// nothing the board reads, and when the board closes it puts its contents
// back under the file's name if the file there is no longer its own whole
// image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace simboard {

class ImageFile {
 public:
  ImageFile() = default;
  ~ImageFile();
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  // Opens `path`, which must hold exactly `size` bytes; a missing or empty
  // file is created holding `size` bytes of `erased`. False with `error`
  // set (naming the file and both sizes when they differ) otherwise.
  bool Open(const std::filesystem::path& path, std::size_t size, std::uint8_t erased,
            std::string& error);

  std::uint8_t* data() { return bytes_.data(); }
  const std::uint8_t* data() const { return bytes_.data(); }
  std::size_t size() const { return bytes_.size(); }

  // Bytes changed through data(); Flush writes them to the file. Changes
  // gather into one range, written out first when a change lands far from
  // it, so that scattered changes never make one huge write.
  void Touch(std::size_t offset, std::size_t count) {
    if (count == 0) return;
    if (dirty() && (offset + count > dirty_begin_ + kMaxRange || offset + kMaxRange < dirty_end_)) {
      WriteDirty();
    }
    if (dirty_begin_ > offset) dirty_begin_ = offset;
    if (dirty_end_ < offset + count) dirty_end_ = offset + count;
  }
  std::size_t dirty_bytes() const { return dirty() ? dirty_end_ - dirty_begin_ : 0; }
  bool dirty() const { return dirty_begin_ < dirty_end_; }
  void Flush() {
    if (dirty()) WriteDirty();
  }

 private:
  static constexpr std::size_t kMaxRange = 64 * 1024;

  void WriteDirty();
  void Close();

  std::filesystem::path path_;
  int fd_ = -1;
  std::vector<std::uint8_t> bytes_;
  std::size_t dirty_begin_ = SIZE_MAX;
  std::size_t dirty_end_ = 0;
};

}  // namespace simboard
