// Program images whose bytes carry their own target addresses: ELF files
// (32-bit ARM, either byte order), Motorola S-records and Intel HEX with
// every record type honoured.
//
// The kind is taken from the content, never from the file name. A file is
// accepted whole or not at all: the first fault (a bad checksum, a record
// shorter than its byte count, a segment past the end of the file, two parts
// of the image claiming the same address) refuses it, and the error names
// the line or the file offset where it was found.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace romsmith {

enum class AddressImageKind { kElf, kSRecord, kIntelHex };

// Bytes at consecutive target addresses.
struct ImageSegment {
  std::uint32_t address = 0;
  std::vector<std::uint8_t> bytes;

  // One past the last address; 64 bits so that a segment ending at
  // 0xFFFFFFFF has an end.
  std::uint64_t end() const { return std::uint64_t{address} + bytes.size(); }
};

struct AddressImage {
  AddressImageKind kind = AddressImageKind::kElf;
  // Sorted by address, no two overlapping, touching segments joined. Gaps
  // between segments are bytes the image does not define.
  std::vector<ImageSegment> segments;
  std::optional<std::uint32_t> entry;  // start address, where the file gives one

  std::uint64_t byte_count() const;
  // The lowest address and one past the highest; {0, 0} when empty.
  std::uint64_t low_address() const { return segments.empty() ? 0 : segments.front().address; }
  std::uint64_t high_end() const { return segments.empty() ? 0 : segments.back().end(); }
  // The image's byte at `address`, or nothing where the image has a gap.
  std::optional<std::uint8_t> ByteAt(std::uint64_t address) const;
};

// The largest image file read: larger ones are refused before they are read
// (no flash this program drives comes near it).
inline constexpr std::uintmax_t kMaxAddressImageFileBytes = 256u << 20;

// Names the kind as a user sees it: "ELF", "S-record", "Intel HEX".
const char* AddressImageKindName(AddressImageKind kind);

// The kind the content starts like, or nothing when it is none of the three.
std::optional<AddressImageKind> DetectAddressImageKind(std::string_view content);

// Parses `content`. On failure returns nothing and sets `error` to a text
// without a trailing full stop, such as "line 12: checksum 0x3C, the record
// sums to 0x3D" or "offset 0x54: segment 1 runs past the end of the file".
std::optional<AddressImage> ParseAddressImage(std::string_view content, std::string& error);

// Reads and parses a file: a regular file of at most kMaxAddressImageFileBytes.
std::optional<AddressImage> ReadAddressImage(const std::filesystem::path& path, std::string& error);

// Name a segment's range for a message: "0x00010000-0x000103FF".
std::string AddressRangeText(std::uint64_t begin, std::uint64_t end);

}  // namespace romsmith
