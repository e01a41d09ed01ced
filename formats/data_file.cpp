#include "formats/data_file.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/message_box.h"
#include "platform/paths.h"

namespace romsmith {
namespace {

// The scrambling key: the letter shift and the two exchanged punctuation
// pairs. Files scrambled with one key read only with the same key.
constexpr int kLetterShift = 11;
constexpr char kSwapA1 = '=', kSwapA2 = '@';
constexpr char kSwapB1 = '[', kSwapB2 = '^';

std::uint8_t SwapPunctuation(std::uint8_t c) {
  switch (c) {
    case kSwapA1: return kSwapA2;
    case kSwapA2: return kSwapA1;
    case kSwapB1: return kSwapB2;
    case kSwapB2: return kSwapB1;
    default: return c;
  }
}

std::uint8_t Rotate(std::uint8_t c, int shift) {
  if (c >= 'A' && c <= 'Z') return static_cast<std::uint8_t>('A' + (c - 'A' + shift + 26) % 26);
  if (c >= 'a' && c <= 'z') return static_cast<std::uint8_t>('a' + (c - 'a' + shift + 26) % 26);
  return SwapPunctuation(c);
}

// The filler after each byte: the low byte of a linear congruential
// sequence, started afresh for every file so a build scrambles the same
// plain file to the same bytes.
class FillerSequence {
 public:
  std::uint8_t Next() {
    state_ = state_ * 1103515245u + 12345u;
    return static_cast<std::uint8_t>(state_ >> 16);
  }

 private:
  std::uint32_t state_ = 1;
};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

void Warn(const std::string& text) {
  platform::ShowMessage(text, "Romsmith", platform::MessageIcon::Warning, platform::MessageButtons::Ok);
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

// Opens both files the way both transforms do; shows the boxes on failure.
bool OpenPair(const std::string& input_path, const std::string& output_path, File& in, File& out) {
  std::error_code error;
  // A FIFO or a device would block the open or never end: only regular files.
  if (std::filesystem::is_regular_file(input_path, error)) in.reset(std::fopen(input_path.c_str(), "rb"));
  if (!in) {
    Warn("Error: can't open input file" + input_path + " !");
    return false;
  }
  // Truncating the input as the output would destroy it before it is read.
  if (!SameFile(input_path, output_path)) out.reset(std::fopen(output_path.c_str(), "wb"));
  if (!out) {
    Warn("Error: can't create output file!");
    return false;
  }
  return true;
}

// Runs the byte transform from `in` to `out`; false on a read or write error.
template <typename Transform>
bool Pump(std::FILE* in, std::FILE* out, Transform transform) {
  std::uint8_t input[8192];
  std::uint8_t output[2 * sizeof input];
  while (true) {
    std::size_t count = std::fread(input, 1, sizeof input, in);
    if (count > 0) {
      std::size_t produced = transform(input, count, output);
      if (std::fwrite(output, 1, produced, out) != produced) return false;
    }
    if (count < sizeof input) return std::ferror(in) == 0;
  }
}

bool Finish(File& out) { return std::fclose(out.release()) == 0; }

}  // namespace

std::uint8_t ScrambleByte(std::uint8_t plain) { return Rotate(plain, kLetterShift); }

std::uint8_t UnscrambleByte(std::uint8_t scrambled) { return Rotate(scrambled, -kLetterShift); }

bool EncodeDataFile(const std::string& input_path, const std::string& output_path) {
  File in, out;
  if (!OpenPair(input_path, output_path, in, out)) return false;
  FillerSequence filler;
  bool ok = Pump(in.get(), out.get(), [&](const std::uint8_t* data, std::size_t count, std::uint8_t* result) {
    for (std::size_t i = 0; i < count; ++i) {
      result[2 * i] = ScrambleByte(data[i]);
      result[2 * i + 1] = filler.Next();
    }
    return 2 * count;
  });
  ok = Finish(out) && ok;
  if (!ok) Warn("Error: file exception, e file failed!");
  return ok;
}

bool DecodeDataFile(const std::string& input_path, const std::string& output_path) {
  File in, out;
  if (!OpenPair(input_path, output_path, in, out)) return false;
  // Whether the next input byte is a data byte; it carries across blocks.
  bool at_data = true;
  bool ok = Pump(in.get(), out.get(), [&](const std::uint8_t* data, std::size_t count, std::uint8_t* result) {
    std::size_t produced = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (at_data) result[produced++] = UnscrambleByte(data[i]);
      at_data = !at_data;
    }
    return produced;
  });
  ok = Finish(out) && ok;
  if (!ok) Warn("Error: file exception, d file failed!");
  return ok;
}

MaintenanceResult RunDataFileMaintenance(std::string_view password, MaintenanceAction action,
                                         const std::string& program_directory) {
  MaintenanceResult result;
  if (password != kMaintenancePassword) return result;
  result.password_accepted = true;
  const std::string folder = platform::WithTrailingSeparator(program_directory);
  for (const DataFilePair& pair : kDataFilePairs) {
    bool done = action == MaintenanceAction::Scramble
                    ? EncodeDataFile(folder + pair.plain, folder + pair.scrambled)
                    : DecodeDataFile(folder + pair.scrambled, folder + pair.unscrambled);
    ++(done ? result.pairs_done : result.pairs_failed);
  }
  return result;
}

}  // namespace romsmith
