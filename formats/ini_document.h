// The read-write INI engine: a whole INI file held as an ordered list of
// lines, with typed reads and writes by section and key. Lines that no caller
// touches (comments, blank lines, unknown keys, their order) survive a load
// and save unchanged. Nothing is escaped, quoted or trimmed in the stored
// lines; section and key names are case-sensitive.
//
// Headers are lines of at least three characters that begin with '[' and end
// with ']'. A key line for key K begins with exactly "K=". When a section or a
// key occurs twice, the first one wins for every operation.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace romsmith {

struct IniRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool operator==(const IniRect&) const = default;
};

struct IniPoint {
  int x = 0;
  int y = 0;
  bool operator==(const IniPoint&) const = default;
};

class IniDocument {
 public:
  IniDocument() = default;
  // Sets the file name and loads the file at once (see Load).
  explicit IniDocument(const std::string& path);
  virtual ~IniDocument();

  IniDocument(const IniDocument&) = default;
  IniDocument& operator=(const IniDocument&) = default;

  // Replaces the lines with those of the file. The file name is set to the
  // path first, whether or not the file opens, so a later Save creates it.
  // Lines end at LF; a CR directly before the LF is dropped with it; a line
  // break at the very end gives no extra empty line.
  [[nodiscard]] bool Load(const std::string& path);
  // The same splitting applied to text already in memory; the file name is
  // left as it is.
  void LoadFromText(std::string_view text);

  // Writes every line followed by CR LF to the document's own file name.
  [[nodiscard]] bool Save();
  // The same to another path; the document's file name is not changed.
  // The old file is replaced only by a complete new one: the lines go to a
  // temporary file beside it, which is renamed over it at the end. A failure
  // shows a message box and returns false.
  [[nodiscard]] bool SaveAs(const std::string& path) const;

  // The file contents Save would write.
  std::string Text() const;

  const std::string& file_name() const { return file_name_; }
  const std::vector<std::string>& lines() const { return lines_; }

  // Line-level operations. Indexes are into lines(); -1 means not found.
  int FindSection(std::string_view section) const;
  int FindSection(const char* section) const;
  // As FindSection; appends "[section]" at the end when absent. A null name
  // gives -1.
  int AddSection(std::string_view section);
  int AddSection(const char* section);
  // Removes the header and the whole body; an absent section changes nothing.
  void RemoveSection(std::string_view section);
  // Scans from `start` up to the next header or the end; returns the first
  // key line for `key` and sets `value` to everything after its '='.
  int FindKey(int start, std::string_view key, std::string& value) const;

  static bool IsHeaderLine(std::string_view line);

  // Typed access. Every setter creates a missing section (a header at the
  // end of the file), replaces an existing key line in place or inserts the
  // new one directly after the header. Every getter returns false and leaves
  // its output unchanged when the section or the key is missing; a present
  // key with an empty value counts as found.

  // "key=value", the text unchanged. Reading trims blanks, tabs, CR, LF, VT
  // and FF from both ends.
  bool SetString(std::string_view section, std::string_view key, std::string_view value);
  bool GetString(std::string_view section, std::string_view key, std::string& value) const;

  // "key=%d". Reading: '$' or "0x"/"0X" hexadecimal (saturating at
  // 2147483647), else decimal; the value is not trimmed first.
  bool SetInt(std::string_view section, std::string_view key, std::int32_t value);
  bool GetInt(std::string_view section, std::string_view key, std::int32_t& value) const;

  // "key=$%08X". Read it back with GetUnsigned.
  bool SetHex(std::string_view section, std::string_view key, std::uint32_t value);
  // Reading as GetInt, but hexadecimal keeps all 32 bits.
  bool GetUnsigned(std::string_view section, std::string_view key, std::uint32_t& value) const;

  // "key=true" / "key=false"; reads true when the value contains "true".
  bool SetBool(std::string_view section, std::string_view key, bool value);
  bool GetBool(std::string_view section, std::string_view key, bool& value) const;

  // "key=%f" (six decimals, always with a '.'); read as atof.
  bool SetDouble(std::string_view section, std::string_view key, double value);
  bool GetDouble(std::string_view section, std::string_view key, double& value) const;
  bool SetFloat(std::string_view section, std::string_view key, float value);
  bool GetFloat(std::string_view section, std::string_view key, float& value) const;

  // Decimal; read as atol.
  bool SetLong(std::string_view section, std::string_view key, long value);
  bool GetLong(std::string_view section, std::string_view key, long& value) const;
  bool SetUnsignedLong(std::string_view section, std::string_view key, unsigned long value);
  bool GetUnsignedLong(std::string_view section, std::string_view key, unsigned long& value) const;

  // "key=RECT(left,top,right,bottom)"; fields that do not match read as 0.
  bool SetRect(std::string_view section, std::string_view key, const IniRect& value);
  bool GetRect(std::string_view section, std::string_view key, IniRect& value) const;

  // "key=POINT(x,y)"; fields that do not match read as 0.
  bool SetPoint(std::string_view section, std::string_view key, const IniPoint& value);
  bool GetPoint(std::string_view section, std::string_view key, IniPoint& value) const;

  // Multi-line text on one line: CR is stored as '\'' and LF as '|', and
  // turned back on reading.
  bool SetMultiLineString(std::string_view section, std::string_view key, std::string_view value);
  bool GetMultiLineString(std::string_view section, std::string_view key, std::string& value) const;

 private:
  // The raw value of a key, or false when the section or key is missing.
  bool FindValue(std::string_view section, std::string_view key, std::string& value) const;
  bool SetLine(std::string_view section, std::string_view key, std::string_view value);

  std::string file_name_;
  std::vector<std::string> lines_;
};

}  // namespace romsmith
