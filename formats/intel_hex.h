// Intel HEX program files to flat binary images.
//
// The conversion knows 16-bit record addresses only: data records are
// written in file order from address 0 of the record address space, gaps
// between one record's end and the next record's address are filled with
// zero bytes, extended address records are ignored, and checksums are kept
// but never compared.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace romsmith {

struct HexRecord {
  std::uint8_t byte_count = 0;
  std::uint16_t address = 0;
  std::uint8_t record_type = 0;
  std::uint8_t checksum = 0;  // as read
  std::array<std::uint8_t, 256> data{};  // the first byte_count entries, type 0 only
};

enum HexRecordType : std::uint8_t {
  kHexData = 0,
  kHexEndOfFile = 1,
  kHexExtendedSegmentAddress = 2,
  kHexStartSegmentAddress = 3,
  kHexExtendedLinearAddress = 4,
  kHexStartLinearAddress = 5,
};

// Fills `record` from one line ":CCAAAATT<data>SS" (hexadecimal, either
// case). False when the line does not start with ':'. The length is not
// checked: a field whose characters are missing or hold no hexadecimal digit
// keeps the value it had.
bool ParseHexRecord(std::string_view line, HexRecord& record);

// Converts the HEX file to a flat binary file (created or truncated). False
// on failure; open and file errors show a message box first, a line that is
// no record (a blank line, text without ':') fails without one and leaves
// what was written so far. Conversion ends at the end-of-file record.
[[nodiscard]] bool HexToBinary(const std::string& hex_path, const std::string& binary_path);

}  // namespace romsmith
