#include "formats/profile_reader.h"

#include <cstring>

#include "platform/text.h"
#include "platform/message_box.h"

namespace romsmith {
namespace {

constexpr const char* kLoadCaption = "CJXINIFile::Load";
constexpr std::size_t kIndexBuckets = 700;

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

}  // namespace

CJXINIFile& CJXINIFile::Instance() {
  static CJXINIFile engine;
  return engine;
}

CJXINIFile::CJXINIFile() : index_(kIndexBuckets) {}

CJXINIFile::~CJXINIFile() { FlushViewMMF(); }

void CJXINIFile::Fail(const char* text) {
  platform::ShowMessage(text, kLoadCaption, platform::MessageIcon::Error, platform::MessageButtons::Ok);
  file_.Close();
  file_name_.clear();
  text_ = nullptr;
  file_size_ = 0;
  text_length_ = 0;
}

bool CJXINIFile::Load(const std::string& path) {
  if (path.empty()) return false;
  if (path == file_name_) {
    if (file_.IsFileAt(path) && file_.Size() == file_size_ + kMappingExtension) return true;
    // Someone replaced or rewrote the file since it was mapped: the view no
    // longer matches it, and reading past its new end would fault. Map it
    // afresh.
    FlushViewMMF();
  }
  if (IsOpen()) FlushViewMMF();

  file_name_ = path;
  index_stale_ = true;
  using Mode = platform::MappedFile::OpenMode;
  if (!file_.Open(path, Mode::ExistingOnly) && !file_.Open(path, Mode::OpenOrCreate)) {
    Fail("CreateFile Failure");
    return false;
  }
  auto size = file_.Size();
  if (!size) {
    Fail("File Size Failure");
    return false;
  }
  file_size_ = *size;
  const std::uint64_t mapped = file_size_ + kMappingExtension;
  if (mapped > SIZE_MAX || !file_.Truncate(mapped)) {
    // Putting the length back is all that is left to try; the failure is
    // the mapping's, reported below.
    static_cast<void>(file_.Truncate(file_size_));
    Fail("CreateFileMapping Failure");
    return false;
  }
  if (!file_.Map(static_cast<std::size_t>(mapped))) {
    // Put the file back as it was rather than leave the room behind (at
    // best: the failure reported is the mapping's).
    static_cast<void>(file_.Truncate(file_size_));
    Fail("MapViewOfFile Failure");
    return false;
  }
  ++map_count_;
  text_ = file_.data();
  text_length_ = static_cast<std::size_t>(file_size_);
  while (text_length_ > 0 && text_[text_length_ - 1] == '\0') --text_length_;
  return true;
}

bool CJXINIFile::FlushViewMMF() {
  if (!IsOpen()) return true;
  file_.Unmap();
  // Cut off the mapping's room and trailing zeros, unless someone rewrote
  // the file in place meanwhile: its new length is theirs.
  bool rewritten = file_.IsFileAt(file_name_) && file_.Size() != file_size_ + kMappingExtension;
  // A cut that fails leaves zeros after the text, which the next read skips.
  if (!rewritten) static_cast<void>(file_.Truncate(text_length_));
  file_.Close();
  file_name_.clear();
  text_ = nullptr;
  file_size_ = 0;
  text_length_ = 0;
  index_.clear();
  index_stale_ = true;
  return true;
}

void CJXINIFile::BuildSectionIndex() {
  index_.clear();
  std::string_view text(text_, text_length_);
  std::size_t position = 0;
  // Plain characters, not lines: every bracketed run counts.
  while (text_length_ > 0 && position < text_length_ - 1) {
    std::size_t open = text.find('[', position);
    if (open == std::string_view::npos) break;
    std::size_t close = text.find(']', open + 1);
    if (close == std::string_view::npos) break;
    if (close - open > 1) index_[std::string(text.substr(open + 1, close - open - 1))] = open;
    position = close + 1;
  }
  index_stale_ = false;
}

long CJXINIFile::FindKeyValue(std::string_view section, std::string_view key) {
  if (!IsOpen()) return -1;
  if (index_stale_) BuildSectionIndex();
  auto found = index_.find(std::string(section));
  if (found == index_.end()) return -1;

  std::string_view text(text_, text_length_);
  std::size_t position = found->second;
  bool started = false;
  while (true) {
    while (position < text.size() && IsLineBreak(text[position])) ++position;
    if (position >= text.size()) return -1;
    std::size_t end = position;
    while (end < text.size() && !IsLineBreak(text[end])) ++end;
    std::string_view line = text.substr(position, end - position);
    const std::size_t line_start = position;
    position = end;
    if (line.size() < 2 || line.size() > kMaxLineLength) continue;

    if (line.front() == '[' && line.back() == ']') {
      bool ours = line.size() == section.size() + 2 && line.substr(1, section.size()) == section;
      if (ours) {
        started = true;
      } else if (started) {
        return -1;
      }
      continue;
    }
    if (!started) continue;
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || equals < key.size()) continue;
    if (line.substr(0, key.size()) != key) continue;
    bool blanks_only = true;
    for (std::size_t i = key.size(); i < equals; ++i) {
      if (line[i] != ' ') {
        blanks_only = false;
        break;
      }
    }
    if (blanks_only) return static_cast<long>(line_start + equals + 1);
  }
}

int CJXINIFile::ReadProfileString(const char* section, const char* key, const char* default_text,
                                  char* buffer, std::size_t size, const std::string& path) {
  if (!Load(path)) return -1;
  if (default_text == nullptr || text_length_ == 0) return -1;
  if (index_stale_) BuildSectionIndex();

  long offset = (section && key) ? FindKeyValue(section, key) : -1;
  if (offset < 0) {
    std::size_t length = std::strlen(default_text);
    if (length >= size) return -1;
    std::memcpy(buffer, default_text, length + 1);
    return 0;
  }
  if (size == 0) return 0;
  const char* value = text_ + offset;
  std::size_t length = 0;
  while (static_cast<std::size_t>(offset) + length < text_length_ && !IsLineBreak(value[length])) ++length;
  if (size > length) {
    std::memcpy(buffer, value, length);
    buffer[length] = '\0';
    return static_cast<int>(length);
  }
  std::memcpy(buffer, value, size - 1);
  buffer[size - 1] = '\0';
  return 0;
}

bool ProfileReader::SetFile(const std::string& path) {
  file_name_ = path;
  return true;
}

bool ProfileReader::ReadString(std::string_view section, std::string_view key, std::string& value) const {
  char buffer[kBufferSize] = {};
  CJXINIFile::Instance().ReadProfileString(std::string(section).c_str(), std::string(key).c_str(), "",
                                           buffer, sizeof buffer, file_name_);
  value = buffer;
  return !value.empty();
}

bool ProfileReader::ReadInt(std::string_view section, std::string_view key, std::int32_t& value) const {
  std::string text;
  if (!ReadString(section, key, text)) return false;
  value = ReadIntValue(text);
  return true;
}

bool ProfileReader::ReadUnsigned(std::string_view section, std::string_view key, std::uint32_t& value) const {
  std::string text;
  if (!ReadString(section, key, text)) return false;
  value = ReadUnsignedValue(text);
  return true;
}

void ProfileReader::Close() { CJXINIFile::Instance().FlushViewMMF(); }

}  // namespace romsmith
