// The read-only INI value reader for the large database texts.
//
// CJXINIFile maps the whole file into memory once, indexes its section
// headers by name and answers each lookup with a scan of one section. The
// file stays open and mapped between lookups, so a run of lookups on one file
// opens it once; asking for another file closes the first. While a file is
// open it is 1 MiB longer on disk (the mapping's room) and other programs can
// read it but not write it; closing cuts it back to its text, dropping any
// trailing zero bytes.
//
// ProfileReader is the small front the databases use: set the file, read
// strings and numbers, close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/mapped_file.h"

namespace romsmith {

class CJXINIFile {
 public:
  // Room the mapping adds behind the file.
  static constexpr std::size_t kMappingExtension = 0x100000;
  // Key lines longer than this are passed over.
  static constexpr std::size_t kMaxLineLength = 260;

  // The one engine of the process, created on first use; its destruction at
  // process exit closes the open file.
  static CJXINIFile& Instance();

  CJXINIFile();
  ~CJXINIFile();
  CJXINIFile(const CJXINIFile&) = delete;
  CJXINIFile& operator=(const CJXINIFile&) = delete;

  // Opens and maps `path` unless it is already the open file (exact text
  // comparison) and has not been replaced or rewritten since it was mapped.
  // A missing file is created empty. Failures show a message
  // box with the caption "CJXINIFile::Load" and leave no file open.
  bool Load(const std::string& path);

  // Closes the open file, cutting it back to its text length (unless it was
  // rewritten in place since it was mapped). Succeeds also when nothing is
  // open.
  bool FlushViewMMF();

  // Looks `key` up in `section` of the file at `path`. Found: copies the
  // value (up to CR, LF or the end of the text, untrimmed) into `buffer` and
  // returns its length, or copies size - 1 characters and returns 0 when it
  // does not fit. Not found: copies `default_text` and returns 0, or returns
  // -1 when it does not fit. Returns -1, leaving the buffer untouched, when
  // the file cannot be loaded, the default is null or the text is empty.
  int ReadProfileString(const char* section, const char* key, const char* default_text, char* buffer,
                        std::size_t size, const std::string& path);

  // The offset of the value of `key` in `section` of the open text, or -1.
  // Builds the section index first when it is stale.
  long FindKeyValue(std::string_view section, std::string_view key);

  // Inspection, for diagnostics and tests.
  bool IsOpen() const { return !file_name_.empty(); }
  const std::string& file_name() const { return file_name_; }
  std::size_t text_length() const { return text_length_; }
  std::uint64_t file_size() const { return file_size_; }
  // How many times a file has been opened and mapped since construction.
  std::size_t map_count() const { return map_count_; }
  // Whether the (fresh) section index holds `section`.
  bool IsIndexed(const std::string& section) const {
    return !index_stale_ && index_.count(section) != 0;
  }
  std::size_t indexed_section_count() const { return index_stale_ ? 0 : index_.size(); }

 private:
  void BuildSectionIndex();
  void Fail(const char* text);

  std::unordered_map<std::string, std::size_t> index_;
  bool index_stale_ = true;
  std::string file_name_;
  platform::MappedFile file_;
  std::uint64_t file_size_ = 0;
  std::size_t text_length_ = 0;
  const char* text_ = nullptr;
  std::size_t map_count_ = 0;
};

class ProfileReader {
 public:
  // The buffer a single read fills.
  static constexpr std::size_t kBufferSize = 1024;

  ProfileReader() = default;
  explicit ProfileReader(std::string path) : file_name_(std::move(path)) {}

  // Stores the path for later reads; touches no file.
  bool SetFile(const std::string& path);
  const std::string& file_name() const { return file_name_; }

  // Sets `value` to the stored text (empty when missing); true when it is
  // not empty, so an empty value counts as missing.
  bool ReadString(std::string_view section, std::string_view key, std::string& value) const;
  // The text read as ReadString, then '$' or "0x"/"0X" hexadecimal, else
  // decimal; not trimmed. False and the output unchanged for an empty text.
  // Signed hexadecimal saturates at 2147483647.
  bool ReadInt(std::string_view section, std::string_view key, std::int32_t& value) const;
  // As ReadInt, but hexadecimal keeps all 32 bits.
  bool ReadUnsigned(std::string_view section, std::string_view key, std::uint32_t& value) const;

  // Closes whatever file the shared engine has open.
  void Close();

 private:
  std::string file_name_;
};

}  // namespace romsmith
