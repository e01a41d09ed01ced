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
#include <functional>
#include <string>
#include <string_view>
#include <vector>

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

// What a conversion passed over without failing: the conversion writes the
// same bytes whatever it finds, but a user must not program a damaged file
// unknowingly. For each kind, how many lines and the first one (counted
// from 1; 0 when none).
struct HexLineCount {
  std::uint64_t count = 0;
  std::uint64_t first_line = 0;
  void Add(std::uint64_t line) {
    if (count++ == 0) first_line = line;
  }
};

struct HexConversionReport {
  HexLineCount bad_checksum;        // the sum of the record's bytes is not 0
  HexLineCount not_hexadecimal;     // a field character that is no hex digit
  HexLineCount short_line;          // fewer characters than the byte count needs
  HexLineCount ignored_address;     // extended segment or linear address records
  bool too_large = false;           // the output would pass max_output_bytes
  bool stopped = false;             // `stop` said so
};

struct HexConversionOptions {
  // The conversion ends (false, no message) before the output passes this.
  std::uint64_t max_output_bytes = UINT64_MAX;
  // Asked every few hundred lines; true ends the conversion (false, no
  // message).
  std::function<bool()> stop;
  // When set, the output must not exist yet and is created new (never
  // through a link).
  bool create_new = false;
};

// HexToBinary with limits and a report of what it passed over.
bool HexToBinary(const std::string& hex_path, const std::string& binary_path,
                 const HexConversionOptions& options, HexConversionReport& report);

// One "Warning: " line (ending in a line break) for each kind the report
// counted.
std::vector<std::string> HexWarningLines(const HexConversionReport& report);

}  // namespace romsmith
