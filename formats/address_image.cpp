#include "formats/address_image.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>

namespace romsmith {
namespace {

constexpr std::uint64_t kAddressSpaceEnd = std::uint64_t{1} << 32;

std::string Hex32(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
  return text;
}

std::string Hex8(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
  return text;
}

// A run of bytes as one record or segment gave it, with where it came from
// for the overlap message.
struct Piece {
  std::uint64_t address = 0;
  std::vector<std::uint8_t> bytes;
  std::string where;
};

// Sorts the pieces, refuses overlaps and joins what touches.
bool Assemble(std::vector<Piece>& pieces, AddressImage& image, std::string& error) {
  std::stable_sort(pieces.begin(), pieces.end(),
                   [](const Piece& a, const Piece& b) { return a.address < b.address; });
  std::uint64_t end = 0;
  std::string end_where;  // the piece that reaches `end`
  for (Piece& piece : pieces) {
    if (piece.bytes.empty()) continue;
    if (!end_where.empty() && piece.address < end) {
      error = piece.where + ": bytes at " + Hex32(piece.address) + " are already given by " + end_where;
      return false;
    }
    end = piece.address + piece.bytes.size();
    end_where = piece.where;
    if (!image.segments.empty() && image.segments.back().end() == piece.address) {
      std::vector<std::uint8_t>& joined = image.segments.back().bytes;
      joined.insert(joined.end(), piece.bytes.begin(), piece.bytes.end());
    } else {
      image.segments.push_back({static_cast<std::uint32_t>(piece.address), std::move(piece.bytes)});
    }
  }
  return true;
}

// ---- ELF ----------------------------------------------------------------

constexpr std::size_t kElfHeaderBytes = 52;
constexpr std::size_t kProgramHeaderBytes = 32;
constexpr std::uint16_t kMachineArm = 40;
constexpr std::uint32_t kLoadableSegment = 1;

class ElfReader {
 public:
  ElfReader(std::string_view content, bool big_endian) : content_(content), big_(big_endian) {}

  std::uint32_t Word(std::size_t offset) const { return Read(offset, 4); }
  std::uint16_t Half(std::size_t offset) const { return static_cast<std::uint16_t>(Read(offset, 2)); }

 private:
  std::uint32_t Read(std::size_t offset, int width) const {
    std::uint32_t value = 0;
    for (int i = 0; i < width; ++i) {
      const int index = big_ ? i : width - 1 - i;
      value = (value << 8) | static_cast<std::uint8_t>(content_[offset + static_cast<std::size_t>(index)]);
    }
    return value;
  }
  std::string_view content_;
  bool big_;
};

std::string At(std::uint64_t offset) {
  char text[32];
  std::snprintf(text, sizeof text, "offset 0x%llX", static_cast<unsigned long long>(offset));
  return text;
}

std::optional<AddressImage> ParseElf(std::string_view content, std::string& error) {
  if (content.size() < kElfHeaderBytes) {
    error = At(content.size()) + ": the ELF header is cut short";
    return std::nullopt;
  }
  if (content[4] != 1) {
    error = At(4) + ": not a 32-bit ELF file";
    return std::nullopt;
  }
  if (content[5] != 1 && content[5] != 2) {
    error = At(5) + ": the ELF byte order is neither little nor big endian";
    return std::nullopt;
  }
  const ElfReader elf(content, content[5] == 2);
  if (const std::uint16_t machine = elf.Half(18); machine != kMachineArm) {
    error = At(18) + ": the ELF file is for machine " + std::to_string(machine) + ", not ARM";
    return std::nullopt;
  }
  const std::uint64_t table = elf.Word(28);
  const std::uint64_t entry_size = elf.Half(42);
  const std::uint64_t count = elf.Half(44);
  if (count == 0) {
    error = At(44) + ": the ELF file has no program headers, so nothing in it is loadable";
    return std::nullopt;
  }
  if (entry_size < kProgramHeaderBytes) {
    error = At(42) + ": program headers of " + std::to_string(entry_size) + " bytes are too small";
    return std::nullopt;
  }
  if (table + entry_size * count > content.size()) {
    error = At(28) + ": the program headers run past the end of the file";
    return std::nullopt;
  }

  AddressImage image;
  image.kind = AddressImageKind::kElf;
  image.entry = elf.Word(24);
  std::vector<Piece> pieces;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::size_t header = static_cast<std::size_t>(table + i * entry_size);
    if (elf.Word(header) != kLoadableSegment) continue;
    const std::uint64_t offset = elf.Word(header + 4);
    const std::uint64_t physical = elf.Word(header + 12);
    const std::uint64_t file_size = elf.Word(header + 16);
    const std::uint64_t memory_size = elf.Word(header + 20);
    const std::string name = "segment " + std::to_string(i);
    if (file_size == 0) continue;  // all of it is zero-filled memory, nothing to program
    if (file_size > memory_size) {
      error = At(header + 16) + ": " + name + " holds more file bytes than memory bytes";
      return std::nullopt;
    }
    if (offset + file_size > content.size()) {
      error = At(header + 4) + ": " + name + " runs past the end of the file";
      return std::nullopt;
    }
    if (physical + file_size > kAddressSpaceEnd) {
      error = At(header + 12) + ": " + name + " runs past the 32-bit address space";
      return std::nullopt;
    }
    const auto* begin = reinterpret_cast<const std::uint8_t*>(content.data()) + offset;
    pieces.push_back({physical, std::vector<std::uint8_t>(begin, begin + file_size),
                      name + " (" + At(header) + ")"});
  }
  if (pieces.empty()) {
    error = "the ELF file has no loadable segment with bytes in the file";
    return std::nullopt;
  }
  if (!Assemble(pieces, image, error)) return std::nullopt;
  return image;
}

// ---- text records ---------------------------------------------------------

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The bytes that the hexadecimal digits of `digits` spell; false (with the
// column of the first fault in `column`) when a character is no digit or the
// count is odd.
bool DecodeHexBytes(std::string_view digits, std::vector<std::uint8_t>& bytes, std::size_t& column) {
  bytes.clear();
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (HexDigit(digits[i]) < 0) {
      column = i;
      return false;
    }
  }
  if (digits.size() % 2 != 0) {
    column = digits.size();
    return false;
  }
  for (std::size_t i = 0; i < digits.size(); i += 2)
    bytes.push_back(static_cast<std::uint8_t>(HexDigit(digits[i]) * 16 + HexDigit(digits[i + 1])));
  return true;
}

// Calls `line_handler(number, text)` for each line without its end, "\r"
// and trailing blanks; blank lines are passed over. Stops when the handler
// returns false.
template <typename Handler>
void ForEachLine(std::string_view content, Handler&& line_handler) {
  std::size_t number = 0;
  while (!content.empty()) {
    ++number;
    const std::size_t end = content.find('\n');
    std::string_view line = content.substr(0, end);
    content = end == std::string_view::npos ? std::string_view() : content.substr(end + 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    if (line.empty()) continue;
    if (!line_handler(number, line)) return;
  }
}

std::string Line(std::size_t number) { return "line " + std::to_string(number); }

std::uint64_t BigEndianValue(const std::uint8_t* bytes, std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < count; ++i) value = (value << 8) | bytes[i];
  return value;
}

// ---- Motorola S-records ---------------------------------------------------

// Address bytes of each record type S0..S9; 0 where the type does not exist.
constexpr std::size_t kSRecordAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

std::optional<AddressImage> ParseSRecords(std::string_view content, std::string& error) {
  AddressImage image;
  image.kind = AddressImageKind::kSRecord;
  std::vector<Piece> pieces;
  std::size_t data_records = 0;
  bool ended = false;
  std::vector<std::uint8_t> bytes;

  ForEachLine(content, [&](std::size_t number, std::string_view line) {
    if (ended) {
      error = Line(number) + ": a record follows the end record";
      return false;
    }
    if (line.size() < 2 || line[0] != 'S' || line[1] < '0' || line[1] > '9' ||
        kSRecordAddressBytes[line[1] - '0'] == 0) {
      error = Line(number) + ": not an S-record (S0-S3, S5-S9)";
      return false;
    }
    const int type = line[1] - '0';
    std::size_t column = 0;
    if (!DecodeHexBytes(line.substr(2), bytes, column)) {
      error = Line(number) + ": column " + std::to_string(column + 3) + " is not a hexadecimal digit pair";
      return false;
    }
    const std::size_t address_bytes = kSRecordAddressBytes[type];
    if (bytes.empty() || bytes[0] != bytes.size() - 1 || bytes[0] < address_bytes + 1) {
      error = Line(number) + ": the byte count " + (bytes.empty() ? std::string("is missing")
                                                                    : Hex8(bytes[0]) + " does not match the record");
      return false;
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
    const unsigned expected = ~sum & 0xFFu;
    if (bytes.back() != expected) {
      error = Line(number) + ": checksum " + Hex8(bytes.back()) + ", the record needs " + Hex8(expected);
      return false;
    }
    const std::uint64_t address = BigEndianValue(&bytes[1], address_bytes);
    const std::size_t data_begin = 1 + address_bytes;
    const std::size_t data_end = bytes.size() - 1;
    switch (type) {
      case 1:
      case 2:
      case 3:
        if (address + (data_end - data_begin) > kAddressSpaceEnd) {
          error = Line(number) + ": the record runs past the 32-bit address space";
          return false;
        }
        pieces.push_back({address, std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(data_begin),
                                                             bytes.begin() + static_cast<std::ptrdiff_t>(data_end)),
                          Line(number)});
        ++data_records;
        break;
      case 5:
      case 6:
        if (address != data_records) {
          error = Line(number) + ": the count record says " + std::to_string(address) + " data records, " +
                  std::to_string(data_records) + " came before it";
          return false;
        }
        break;
      case 7:
      case 8:
      case 9:
        image.entry = static_cast<std::uint32_t>(address);
        ended = true;
        break;
      default:  // S0: a header, nothing to program
        break;
    }
    return true;
  });
  if (!error.empty()) return std::nullopt;
  if (!ended) {
    error = "the file ends without an S7, S8 or S9 end record";
    return std::nullopt;
  }
  if (data_records == 0) {
    error = "the file holds no S1, S2 or S3 data record";
    return std::nullopt;
  }
  if (!Assemble(pieces, image, error)) return std::nullopt;
  return image;
}

// ---- Intel HEX --------------------------------------------------------------

std::optional<AddressImage> ParseIntelHex(std::string_view content, std::string& error) {
  AddressImage image;
  image.kind = AddressImageKind::kIntelHex;
  std::vector<Piece> pieces;
  std::uint64_t base = 0;
  bool segmented = false;  // type 02 bases wrap at 64 KiB, type 04 bases do not
  bool ended = false;
  std::vector<std::uint8_t> bytes;

  ForEachLine(content, [&](std::size_t number, std::string_view line) {
    if (ended) {
      error = Line(number) + ": a record follows the end-of-file record";
      return false;
    }
    if (line[0] != ':') {
      error = Line(number) + ": a record must start with ':'";
      return false;
    }
    std::size_t column = 0;
    if (!DecodeHexBytes(line.substr(1), bytes, column)) {
      error = Line(number) + ": column " + std::to_string(column + 2) + " is not a hexadecimal digit pair";
      return false;
    }
    if (bytes.size() < 5 || bytes[0] != bytes.size() - 5) {
      error = Line(number) + ": the byte count " +
              (bytes.empty() ? std::string("is missing") : Hex8(bytes[0]) + " does not match the record");
      return false;
    }
    unsigned sum = 0;
    for (std::uint8_t byte : bytes) sum += byte;
    if ((sum & 0xFFu) != 0) {
      const unsigned expected = (0x100u - ((sum - bytes.back()) & 0xFFu)) & 0xFFu;
      error = Line(number) + ": checksum " + Hex8(bytes.back()) + ", the record needs " + Hex8(expected);
      return false;
    }
    const std::size_t count = bytes[0];
    const std::uint64_t offset = BigEndianValue(&bytes[1], 2);
    const unsigned type = bytes[3];
    const std::uint8_t* data = &bytes[4];
    auto needs = [&](std::size_t wanted) {
      if (count == wanted) return true;
      error = Line(number) + ": record type " + Hex8(type) + " carries " + std::to_string(wanted) + " bytes, not " +
              std::to_string(count);
      return false;
    };
    switch (type) {
      case 0x00: {
        // A segmented record that crosses 64 KiB goes on at the start of its
        // segment; a linear one goes straight on.
        const std::size_t first = segmented ? std::min<std::size_t>(count, 0x10000 - offset) : count;
        const std::uint64_t address = base + offset;
        if (address + first > kAddressSpaceEnd || (first < count && base + (count - first) > kAddressSpaceEnd)) {
          error = Line(number) + ": the record runs past the 32-bit address space";
          return false;
        }
        pieces.push_back({address, std::vector<std::uint8_t>(data, data + first), Line(number)});
        if (first < count) pieces.push_back({base, std::vector<std::uint8_t>(data + first, data + count), Line(number)});
        return true;
      }
      case 0x01:
        if (!needs(0)) return false;
        ended = true;
        return true;
      case 0x02:
        if (!needs(2)) return false;
        base = BigEndianValue(data, 2) << 4;
        segmented = true;
        return true;
      case 0x03:
        if (!needs(4)) return false;
        image.entry = static_cast<std::uint32_t>((BigEndianValue(data, 2) << 4) + BigEndianValue(data + 2, 2));
        return true;
      case 0x04:
        if (!needs(2)) return false;
        base = BigEndianValue(data, 2) << 16;
        segmented = false;
        return true;
      case 0x05:
        if (!needs(4)) return false;
        image.entry = static_cast<std::uint32_t>(BigEndianValue(data, 4));
        return true;
      default:
        error = Line(number) + ": record type " + Hex8(type) + " is not an Intel HEX record type";
        return false;
    }
  });
  if (!error.empty()) return std::nullopt;
  if (!ended) {
    error = "the file ends without an end-of-file record (type 01)";
    return std::nullopt;
  }
  if (pieces.empty()) {
    error = "the file holds no data record";
    return std::nullopt;
  }
  if (!Assemble(pieces, image, error)) return std::nullopt;
  return image;
}

std::string_view FirstLine(std::string_view content) {
  std::size_t start = content.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos) return {};
  return content.substr(start, 2);
}

}  // namespace

std::uint64_t AddressImage::byte_count() const {
  std::uint64_t total = 0;
  for (const ImageSegment& segment : segments) total += segment.bytes.size();
  return total;
}

std::optional<std::uint8_t> AddressImage::ByteAt(std::uint64_t address) const {
  auto after = std::upper_bound(segments.begin(), segments.end(), address,
                                [](std::uint64_t a, const ImageSegment& s) { return a < s.address; });
  if (after == segments.begin()) return std::nullopt;
  const ImageSegment& segment = *std::prev(after);
  if (address >= segment.end()) return std::nullopt;
  return segment.bytes[static_cast<std::size_t>(address - segment.address)];
}

const char* AddressImageKindName(AddressImageKind kind) {
  switch (kind) {
    case AddressImageKind::kElf:
      return "ELF";
    case AddressImageKind::kSRecord:
      return "S-record";
    case AddressImageKind::kIntelHex:
      return "Intel HEX";
  }
  return "image";
}

std::optional<AddressImageKind> DetectAddressImageKind(std::string_view content) {
  if (content.substr(0, 4) == std::string_view("\x7F" "ELF", 4)) return AddressImageKind::kElf;
  const std::string_view start = FirstLine(content);
  if (start.size() == 2 && start[0] == 'S' && start[1] >= '0' && start[1] <= '9') return AddressImageKind::kSRecord;
  if (!start.empty() && start[0] == ':') return AddressImageKind::kIntelHex;
  return std::nullopt;
}

std::optional<AddressImage> ParseAddressImage(std::string_view content, std::string& error) {
  error.clear();
  const std::optional<AddressImageKind> kind = DetectAddressImageKind(content);
  if (!kind) {
    error = "not an ELF, S-record or Intel HEX file";
    return std::nullopt;
  }
  switch (*kind) {
    case AddressImageKind::kElf:
      return ParseElf(content, error);
    case AddressImageKind::kSRecord:
      return ParseSRecords(content, error);
    case AddressImageKind::kIntelHex:
      return ParseIntelHex(content, error);
  }
  return std::nullopt;
}

std::optional<AddressImage> ReadAddressImage(const std::filesystem::path& path, std::string& error) {
  std::error_code code;
  const std::filesystem::file_status status = std::filesystem::status(path, code);
  if (code || !std::filesystem::exists(status)) {
    error = "cannot find " + path.string();
    return std::nullopt;
  }
  if (!std::filesystem::is_regular_file(status)) {
    error = path.string() + " is not a regular file";
    return std::nullopt;
  }
  const std::uintmax_t size = std::filesystem::file_size(path, code);
  if (code || size > kMaxAddressImageFileBytes) {
    error = path.string() + " is larger than " + std::to_string(kMaxAddressImageFileBytes >> 20) + " MiB";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    error = "cannot read " + path.string();
    return std::nullopt;
  }
  return ParseAddressImage(content, error);
}

std::string AddressRangeText(std::uint64_t begin, std::uint64_t end) {
  return Hex32(begin) + "-" + Hex32(end == 0 ? 0 : end - 1);
}

}  // namespace romsmith
