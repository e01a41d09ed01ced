#include "formats/intel_hex.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "platform/text.h"
#include "platform/message_box.h"

namespace romsmith {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The "%X" conversion on line[position, position + width): leading white
// space, an optional sign, an optional 0x before a digit, then digits. False
// when the field holds no digit.
bool ScanHexField(std::string_view line, std::size_t position, std::size_t width, unsigned& value) {
  if (position >= line.size()) return false;
  std::string_view field = line.substr(position, width);
  std::size_t i = 0;
  while (i < field.size() && IsCSpace(field[i])) ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) negative = field[i++] == '-';
  if (i + 2 < field.size() && field[i] == '0' && (field[i + 1] == 'x' || field[i + 1] == 'X') &&
      HexDigit(field[i + 2]) >= 0) {
    i += 2;
  }
  unsigned result = 0;
  bool any = false;
  for (; i < field.size() && HexDigit(field[i]) >= 0; ++i) {
    result = result * 16 + static_cast<unsigned>(HexDigit(field[i]));
    any = true;
  }
  if (!any) return false;
  value = negative ? 0u - result : result;
  return true;
}

template <typename Field>
void ScanInto(std::string_view line, std::size_t position, std::size_t width, Field& field) {
  unsigned value = 0;
  if (ScanHexField(line, position, width, value)) field = static_cast<Field>(value);
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

void Warn(const char* text) {
  platform::ShowMessage(text, "Romsmith", platform::MessageIcon::Warning, platform::MessageButtons::Ok);
}

// The longest record line: ':', count, address, type, 255 data bytes and
// the checksum take 521 characters; the parser never looks further.
constexpr std::size_t kLongestLine = 1 + 2 + 4 + 2 + 2 * 255 + 2;

// One line without its LF (and a CR right before it), cut after
// kLongestLine characters so a file without line breaks cannot exhaust
// memory; false at the end of the file or on a read error.
bool ReadLine(std::FILE* file, std::string& line) {
  line.clear();
  int c;
  while ((c = std::fgetc(file)) != EOF) {
    if (c == '\n') break;
    if (line.size() <= kLongestLine) line.push_back(static_cast<char>(c));
  }
  if (c == EOF && line.empty()) return false;
  if (c == '\n' && !line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

// Creates or truncates the output; with `create_new` it is made new, and an
// existing name (also a link planted there) fails.
std::FILE* OpenOutput(const std::string& path, bool create_new) {
  const int flags =
      O_WRONLY | O_CREAT | O_CLOEXEC | (create_new ? O_EXCL | O_NOFOLLOW : O_TRUNC);
  const int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "wb");
  if (!file) ::close(fd);
  return file;
}

// What a record line holds beyond what the parser reads: whether its
// characters are all hexadecimal and long enough for its byte count, and
// whether its checksum matches.
void CheckRecordLine(std::string_view line, const HexRecord& record, std::uint64_t number,
                     HexConversionReport& report) {
  const std::size_t needed = 1 + 2 + 4 + 2 + 2 * static_cast<std::size_t>(record.byte_count) + 2;
  bool hexadecimal = true;
  for (std::size_t i = 1; i < line.size() && i < needed; ++i)
    if (HexDigit(line[i]) < 0) hexadecimal = false;
  if (!hexadecimal) report.not_hexadecimal.Add(number);
  if (line.size() < needed) {
    report.short_line.Add(number);
    return;
  }
  if (!hexadecimal) return;
  unsigned sum = 0;
  for (std::size_t i = 1; i + 1 < needed; i += 2)
    sum += static_cast<unsigned>(HexDigit(line[i]) * 16 + HexDigit(line[i + 1]));
  if ((sum & 0xFF) != 0) report.bad_checksum.Add(number);
}

}  // namespace

bool ParseHexRecord(std::string_view line, HexRecord& record) {
  if (line.empty() || line[0] != ':') return false;
  ScanInto(line, 1, 2, record.byte_count);
  ScanInto(line, 3, 4, record.address);
  ScanInto(line, 7, 2, record.record_type);
  if (record.record_type == kHexData) {
    for (std::size_t i = 0; i < record.byte_count; ++i) ScanInto(line, 9 + 2 * i, 2, record.data[i]);
  }
  ScanInto(line, 9 + 2 * static_cast<std::size_t>(record.byte_count), 2, record.checksum);
  return true;
}

bool HexToBinary(const std::string& hex_path, const std::string& binary_path) {
  HexConversionReport report;
  return HexToBinary(hex_path, binary_path, HexConversionOptions{}, report);
}

bool HexToBinary(const std::string& hex_path, const std::string& binary_path,
                 const HexConversionOptions& options, HexConversionReport& report) {
  report = HexConversionReport{};
  std::error_code error;
  File in;
  // A FIFO or a device would block or never end: only regular files.
  if (std::filesystem::is_regular_file(hex_path, error)) in.reset(std::fopen(hex_path.c_str(), "rb"));
  if (!in) {
    Warn("Error: can't open hex file!");
    return false;
  }
  // Truncating the HEX file as the output would lose it before it is read.
  File out;
  if (!std::filesystem::equivalent(hex_path, binary_path, error))
    out.reset(OpenOutput(binary_path, options.create_new));
  if (!out) {
    Warn("Error: can't create binary file!");
    return false;
  }

  HexRecord previous;
  std::vector<std::uint8_t> bytes;
  std::string line;
  std::uint64_t number = 0;
  std::uint64_t output = 0;
  bool written = true;
  bool converted = true;
  while (written) {
    if (options.stop && number % 256 == 0 && options.stop()) {
      report.stopped = true;
      converted = false;
      break;
    }
    if (!ReadLine(in.get(), line)) {
      if (std::ferror(in.get())) written = false;
      break;
    }
    ++number;
    HexRecord record;
    if (!ParseHexRecord(line, record)) {
      converted = false;
      break;
    }
    CheckRecordLine(line, record, number, report);
    if (record.record_type == kHexEndOfFile) break;
    if (record.record_type == kHexExtendedSegmentAddress ||
        record.record_type == kHexExtendedLinearAddress)
      report.ignored_address.Add(number);
    if (record.record_type != kHexData) continue;

    bytes.clear();
    // The previous end wraps at 64 KiB, so a contiguous image continues
    // without fill into the next block at address 0.
    unsigned end = static_cast<std::uint16_t>(previous.address + previous.byte_count);
    if (end < record.address) bytes.assign(record.address - end, 0x00);
    bytes.insert(bytes.end(), record.data.begin(), record.data.begin() + record.byte_count);
    if (bytes.size() > options.max_output_bytes - output) {
      report.too_large = true;
      converted = false;
      break;
    }
    output += bytes.size();
    if (!bytes.empty()) written = std::fwrite(bytes.data(), 1, bytes.size(), out.get()) == bytes.size();
    previous = record;
  }
  written = (std::fclose(out.release()) == 0) && written;
  if (!written) {
    Warn("Error: file exception, convert hex file to binary failed!");
    return false;
  }
  return converted;
}

std::vector<std::string> HexWarningLines(const HexConversionReport& report) {
  struct Kind {
    const HexLineCount& lines;
    const char* one;
    const char* many;
    const char* tail;
  };
  const Kind kinds[] = {
      {report.bad_checksum, "record with a bad checksum", "records with a bad checksum",
       "the data was converted as read"},
      {report.not_hexadecimal, "line with characters that are not hexadecimal",
       "lines with characters that are not hexadecimal", "the data was converted as read"},
      {report.short_line, "line shorter than its byte count", "lines shorter than their byte count",
       "the missing bytes were converted as read"},
      {report.ignored_address, "extended address record ignored", "extended address records ignored",
       "the data behind them follows the data before them"},
  };
  std::vector<std::string> lines;
  for (const Kind& kind : kinds) {
    if (kind.lines.count == 0) continue;
    lines.push_back("Warning: hex file line " + std::to_string(kind.lines.first_line) + ": " +
                    std::to_string(kind.lines.count) + " " +
                    (kind.lines.count == 1 ? kind.one : kind.many) + "; " + kind.tail + ".\n");
  }
  return lines;
}

}  // namespace romsmith
