#include "formats/ini_document.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "formats/debug_trace.h"
#include "platform/text.h"
#include "platform/message_box.h"

namespace romsmith {
namespace {

std::string_view Trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsCSpace(text[begin])) ++begin;
  while (end > begin && IsCSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// atof: leading white space, an optional sign, then the longest number.
double ReadDouble(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  if (i < text.size() && text[i] == '+') {
    ++i;
    if (i < text.size() && text[i] == '-') return 0.0;
  }
  double value = 0.0;
  auto result = std::from_chars(text.data() + i, text.data() + text.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    // atof gives HUGE_VAL or 0 there; from_chars leaves the value alone.
    return std::strtod(std::string(text.substr(i)).c_str(), nullptr);
  }
  return result.ec == std::errc() ? value : 0.0;
}

// "%f" in the "C" locale, whatever locale the program runs in.
std::string FormatFixed(double value) {
  char buffer[512];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  if (result.ec != std::errc()) return "0.000000";
  return std::string(buffer, result.ptr);
}

// Matches `prefix` followed by up to `count` comma-separated "%d" fields, the
// way sscanf does: stops at the first field or separator that does not match.
void ScanFields(std::string_view text, std::string_view prefix, int* fields, int count) {
  if (text.substr(0, prefix.size()) != prefix) return;
  std::size_t i = prefix.size();
  for (int n = 0; n < count; ++n) {
    if (n > 0) {
      if (i >= text.size() || text[i] != ',') return;
      ++i;
    }
    std::size_t start = i;
    while (i < text.size() && IsCSpace(text[i])) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t digits = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    if (i == digits) return;
    fields[n] = ToInt32(text.substr(start, i - start), 10);
  }
}

void ShowSaveError(const char* format, const std::string& path) {
  std::string text = format;
  text.replace(text.find("%s"), 2, path);
  platform::ShowMessage(text, "Romsmith", platform::MessageIcon::Warning, platform::MessageButtons::Ok);
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t written = ::write(fd, data.data(), data.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

constexpr const char* kCannotOpen = "Can not open %s for writing!";
constexpr const char* kCannotWrite = "Can not write %s!";

}  // namespace

// A file that cannot be read leaves the document empty, as Load says; the
// caller of this constructor takes it as it is.
IniDocument::IniDocument(const std::string& path) { static_cast<void>(Load(path)); }

IniDocument::~IniDocument() { lines_.clear(); }

namespace {

// The largest file Load reads; settings and configurations are a few KiB.
constexpr std::uintmax_t kMaxFileBytes = 16u << 20;

}  // namespace

bool IniDocument::Load(const std::string& path) {
  file_name_ = path;
  lines_.clear();
  // Only a regular file of a sane size is read: a FIFO or a device would
  // block the open or never end, and a huge file would exhaust memory.
  std::error_code error;
  const bool regular = std::filesystem::is_regular_file(path, error);
  const std::uintmax_t size = regular ? std::filesystem::file_size(path, error) : 0;
  if (!regular || error || size > kMaxFileBytes) {
    DebugTrace("can not to open ini file: " + path + "\n");
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    DebugTrace("can not to open ini file: " + path + "\n");
    return false;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LoadFromText(text);
  return true;
}

void IniDocument::LoadFromText(std::string_view text) {
  lines_.clear();
  // Editors that save UTF-8 may put a byte-order mark first; it is no part
  // of the first line (which would then be no section header).
  constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
  if (text.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark)
    text.remove_prefix(kUtf8ByteOrderMark.size());
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (end != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines_.emplace_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

std::string IniDocument::Text() const {
  std::string text;
  for (const auto& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

bool IniDocument::Save() { return SaveAs(file_name_); }

bool IniDocument::SaveAs(const std::string& path) const {
  namespace fs = std::filesystem;
  const std::string text = Text();
  std::error_code error;

  // Write through a symbolic link to the file it names, so the link stays.
  fs::path target = path;
  if (fs::is_symlink(target, error)) {
    fs::path resolved = fs::weakly_canonical(target, error);
    if (!error) target = resolved;
  }

  struct stat info {};
  const bool exists = ::stat(target.c_str(), &info) == 0;
  if (path.empty() || (exists && (S_ISDIR(info.st_mode) || ::access(target.c_str(), W_OK) != 0))) {
    ShowSaveError(kCannotOpen, path);
    return false;
  }

  std::string temporary = target.string() + ".XXXXXX";
  int fd = ::mkstemp(temporary.data());
  if (fd >= 0) {
    // The new file takes the old one's place with its permissions and, where
    // we may set it, its owner.
    if (exists && ::fchown(fd, info.st_uid, info.st_gid) != 0) {
      // Not ours to give away; the file stays ours.
    }
    ::fchmod(fd, exists ? (info.st_mode & 07777) : 0644);
    bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
    written = (::close(fd) == 0) && written;
    if (!written) {
      ::unlink(temporary.c_str());
      ShowSaveError(kCannotWrite, path);
      return false;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
      ::unlink(temporary.c_str());
      ShowSaveError(kCannotOpen, path);
      return false;
    }
    return true;
  }

  // The directory refuses new files but the file itself may be writable:
  // write it in place.
  fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    ShowSaveError(kCannotOpen, path);
    return false;
  }
  bool written = WriteAll(fd, text);
  written = (::close(fd) == 0) && written;
  if (!written) {
    ShowSaveError(kCannotWrite, path);
    return false;
  }
  return true;
}

bool IniDocument::IsHeaderLine(std::string_view line) {
  return line.size() >= 3 && line.front() == '[' && line.back() == ']';
}

int IniDocument::FindSection(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    std::string_view line = lines_[i];
    if (line.size() == section.size() + 2 && line.front() == '[' && line.back() == ']' &&
        line.substr(1, section.size()) == section) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int IniDocument::FindSection(const char* section) const {
  return section ? FindSection(std::string_view(section)) : -1;
}

int IniDocument::AddSection(std::string_view section) {
  int index = FindSection(section);
  if (index >= 0) return index;
  lines_.push_back("[" + std::string(section) + "]");
  return static_cast<int>(lines_.size()) - 1;
}

int IniDocument::AddSection(const char* section) {
  return section ? AddSection(std::string_view(section)) : -1;
}

void IniDocument::RemoveSection(std::string_view section) {
  int index = FindSection(section);
  if (index < 0) return;
  auto first = lines_.begin() + index;
  auto last = first + 1;
  while (last != lines_.end() && !IsHeaderLine(*last)) ++last;
  lines_.erase(first, last);
}

int IniDocument::FindKey(int start, std::string_view key, std::string& value) const {
  if (start < 0) return -1;
  for (std::size_t i = static_cast<std::size_t>(start); i < lines_.size(); ++i) {
    std::string_view line = lines_[i];
    if (IsHeaderLine(line)) return -1;
    if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == '=') {
      value.assign(line.substr(key.size() + 1));
      return static_cast<int>(i);
    }
  }
  return -1;
}

bool IniDocument::FindValue(std::string_view section, std::string_view key, std::string& value) const {
  int header = FindSection(section);
  if (header < 0) return false;
  return FindKey(header + 1, key, value) >= 0;
}

bool IniDocument::SetLine(std::string_view section, std::string_view key, std::string_view value) {
  int header = AddSection(section);
  if (header < 0) return false;
  std::string old_value;
  int index = FindKey(header + 1, key, old_value);
  std::string line;
  line.reserve(key.size() + 1 + value.size());
  line.append(key).append("=").append(value);
  if (index >= 0) {
    lines_[static_cast<std::size_t>(index)] = std::move(line);
  } else {
    lines_.insert(lines_.begin() + header + 1, std::move(line));
  }
  return true;
}

bool IniDocument::SetString(std::string_view section, std::string_view key, std::string_view value) {
  return SetLine(section, key, value);
}

bool IniDocument::GetString(std::string_view section, std::string_view key, std::string& value) const {
  std::string raw;
  if (!FindValue(section, key, raw)) return false;
  value.assign(Trim(raw));
  return true;
}

bool IniDocument::SetInt(std::string_view section, std::string_view key, std::int32_t value) {
  return SetLine(section, key, std::to_string(value));
}

bool IniDocument::GetInt(std::string_view section, std::string_view key, std::int32_t& value) const {
  std::string raw;
  if (!FindValue(section, key, raw)) return false;
  value = ReadIntValue(raw);
  return true;
}

bool IniDocument::SetHex(std::string_view section, std::string_view key, std::uint32_t value) {
  return SetLine(section, key, DollarHex(value));
}

bool IniDocument::GetUnsigned(std::string_view section, std::string_view key, std::uint32_t& value) const {
  std::string raw;
  if (!FindValue(section, key, raw)) return false;
  value = ReadUnsignedValue(raw);
  return true;
}

bool IniDocument::SetBool(std::string_view section, std::string_view key, bool value) {
  return SetLine(section, key, value ? "true" : "false");
}

bool IniDocument::GetBool(std::string_view section, std::string_view key, bool& value) const {
  std::string raw;
  if (!FindValue(section, key, raw)) return false;
  value = raw.find("true") != std::string::npos;
  return true;
}

bool IniDocument::SetDouble(std::string_view section, std::string_view key, double value) {
  return SetLine(section, key, FormatFixed(value));
}

bool IniDocument::GetDouble(std::string_view section, std::string_view key, double& value) const {
  std::string raw;
  if (!FindValue(section, key, raw)) return false;
  value = ReadDouble(raw);
  return true;
}

bool IniDocument::SetFloat(std::string_view section, std::string_view key, float value) {
  return SetLine(section, key, FormatFixed(static_cast<double>(value)));
}

bool IniDocument::GetFloat(std::string_view section, std::string_view key, float& value) const {
  std::string raw;
  if (!FindValue(section, key, raw)) return false;
  value = static_cast<float>(ReadDouble(raw));
  return true;
}

bool IniDocument::SetLong(std::string_view section, std::string_view key, long value) {
  return SetLine(section, key, std::to_string(value));
}

bool IniDocument::GetLong(std::string_view section, std::string_view key, long& value) const {
  std::string raw;
  if (!FindValue(section, key, raw)) return false;
  value = std::strtol(raw.c_str(), nullptr, 10);
  return true;
}

bool IniDocument::SetUnsignedLong(std::string_view section, std::string_view key, unsigned long value) {
  return SetLine(section, key, std::to_string(value));
}

bool IniDocument::GetUnsignedLong(std::string_view section, std::string_view key, unsigned long& value) const {
  std::string raw;
  if (!FindValue(section, key, raw)) return false;
  // strtoul rather than atol, so every value SetUnsignedLong writes reads
  // back; "-1" still gives the all-ones value as it did.
  value = std::strtoul(raw.c_str(), nullptr, 10);
  return true;
}

bool IniDocument::SetRect(std::string_view section, std::string_view key, const IniRect& value) {
  std::string text = "RECT(" + std::to_string(value.left) + "," + std::to_string(value.top) + "," +
                     std::to_string(value.right) + "," + std::to_string(value.bottom) + ")";
  return SetLine(section, key, text);
}

bool IniDocument::GetRect(std::string_view section, std::string_view key, IniRect& value) const {
  std::string raw;
  if (!FindValue(section, key, raw)) return false;
  int fields[4] = {0, 0, 0, 0};
  ScanFields(raw, "RECT(", fields, 4);
  value = IniRect{fields[0], fields[1], fields[2], fields[3]};
  return true;
}

bool IniDocument::SetPoint(std::string_view section, std::string_view key, const IniPoint& value) {
  return SetLine(section, key, "POINT(" + std::to_string(value.x) + "," + std::to_string(value.y) + ")");
}

bool IniDocument::GetPoint(std::string_view section, std::string_view key, IniPoint& value) const {
  std::string raw;
  if (!FindValue(section, key, raw)) return false;
  int fields[2] = {0, 0};
  ScanFields(raw, "POINT(", fields, 2);
  value = IniPoint{fields[0], fields[1]};
  return true;
}

bool IniDocument::SetMultiLineString(std::string_view section, std::string_view key, std::string_view value) {
  std::string text(value);
  for (char& c : text) {
    if (c == '\r') c = '\'';
    else if (c == '\n') c = '|';
  }
  return SetLine(section, key, text);
}

bool IniDocument::GetMultiLineString(std::string_view section, std::string_view key, std::string& value) const {
  std::string raw;
  if (!FindValue(section, key, raw)) return false;
  for (char& c : raw) {
    if (c == '\'') c = '\r';
    else if (c == '|') c = '\n';
  }
  value = std::move(raw);
  return true;
}

}  // namespace romsmith
