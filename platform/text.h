// The text helpers of the whole program, below every other layer: ASCII
// comparisons ignoring case, printf-style formatting, and the number texts
// as the INI files, the databases and the edit fields hold them.
//
// The number conversions behave like the C library's strtol, strtoul and
// atoi on a system whose long is 32 bits wide, whatever the width of long
// here: leading white space is skipped, a sign is accepted, conversion stops
// at the first character that is not a digit of the base, a text without
// digits gives 0, and out-of-range values saturate the way those functions
// do.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace romsmith {

// Comparisons of ASCII texts ignoring case, as the byte-order and "(Nand)"
// tests and the configuration comparison need them.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
bool ContainsIgnoringCase(std::string_view text, std::string_view part);
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix);

// printf-style formatting into a string.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Every ':' replaced by a blank, so colon-separated rows scan like blank-
// separated ones.
std::string ColonsToBlanks(std::string text);

// strtol with a 32-bit long: saturates at INT32_MIN / INT32_MAX. Base 16
// accepts an optional "0x" / "0X" after the sign, as strtol does.
std::int32_t ToInt32(std::string_view text, int base);

// strtoul with a 32-bit unsigned long: a magnitude above 0xFFFFFFFF gives
// 0xFFFFFFFF; a leading minus negates in 32-bit arithmetic ("-1" gives
// 0xFFFFFFFF).
std::uint32_t ToUInt32(std::string_view text, int base);

// The stored-value rule: a first character '$' means the rest is
// hexadecimal; else a first "0x" or "0X" means the rest after it is
// hexadecimal; else the text is decimal. Nothing is trimmed first, so a blank
// before "$" or "0x" makes the text decimal (and usually 0).
//
// Signed reading: hexadecimal saturates like strtol (so "$80000000" gives
// 2147483647), decimal reads like atoi.
std::int32_t ReadIntValue(std::string_view value);
// Unsigned reading: both hexadecimal and decimal read like strtoul, so
// hexadecimal keeps all 32 bits ("$FFFFFFFF" gives 4294967295).
std::uint32_t ReadUnsignedValue(std::string_view value);

// A number the user typed into an edit field: empty text gives 0; text that
// begins with "0x" or "0X" is hexadecimal after the prefix and keeps all 32
// bits; any other text is a signed decimal number (leading blanks skipped),
// taken as its 32-bit pattern ("-1" gives 0xFFFFFFFF). Text that holds no
// number gives 0.
std::uint32_t ParseNumberText(std::string_view text);

// A value the way the INI texts store hexadecimal: "$%08X".
std::string DollarHex(std::uint32_t value);

// True for the characters that C's isspace accepts in the "C" locale: blank,
// tab, line feed, vertical tab, form feed, carriage return.
constexpr bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace romsmith
