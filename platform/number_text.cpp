#include "platform/text.h"

#include <cstdio>
#include <limits>

namespace romsmith {
namespace {

struct ParsedNumber {
  bool negative = false;
  bool any_digit = false;
  std::uint64_t magnitude = 0;  // saturates at the 64-bit maximum
};

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

ParsedNumber Parse(std::string_view text, int base) {
  ParsedNumber result;
  std::size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    result.negative = text[i] == '-';
    ++i;
  }
  if (base == 16 && i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      DigitValue(text[i + 2]) < 16) {
    i += 2;
  }
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  for (; i < text.size(); ++i) {
    int digit = DigitValue(text[i]);
    if (digit >= base) break;
    result.any_digit = true;
    if (result.magnitude > (kMax - static_cast<std::uint64_t>(digit)) / static_cast<std::uint64_t>(base)) {
      result.magnitude = kMax;
    } else {
      result.magnitude = result.magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    }
  }
  return result;
}

bool StartsWithHexPrefix(std::string_view text) {
  return text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

}  // namespace

std::int32_t ToInt32(std::string_view text, int base) {
  ParsedNumber number = Parse(text, base);
  if (!number.any_digit) return 0;
  constexpr std::uint64_t kPositiveLimit = 0x7FFFFFFFu;
  if (!number.negative) {
    return number.magnitude > kPositiveLimit ? std::numeric_limits<std::int32_t>::max()
                                              : static_cast<std::int32_t>(number.magnitude);
  }
  if (number.magnitude > kPositiveLimit + 1) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(-static_cast<std::int64_t>(number.magnitude));
}

std::uint32_t ToUInt32(std::string_view text, int base) {
  ParsedNumber number = Parse(text, base);
  if (!number.any_digit) return 0;
  if (number.magnitude > 0xFFFFFFFFu) return 0xFFFFFFFFu;
  auto value = static_cast<std::uint32_t>(number.magnitude);
  return number.negative ? static_cast<std::uint32_t>(0u - value) : value;
}

std::int32_t ReadIntValue(std::string_view value) {
  if (!value.empty() && value[0] == '$') return ToInt32(value.substr(1), 16);
  if (StartsWithHexPrefix(value)) return ToInt32(value.substr(2), 16);
  return ToInt32(value, 10);
}

std::uint32_t ReadUnsignedValue(std::string_view value) {
  if (!value.empty() && value[0] == '$') return ToUInt32(value.substr(1), 16);
  if (StartsWithHexPrefix(value)) return ToUInt32(value.substr(2), 16);
  return ToUInt32(value, 10);
}

std::uint32_t ParseNumberText(std::string_view text) {
  if (text.empty()) return 0;
  if (StartsWithHexPrefix(text)) return ToUInt32(text.substr(2), 16);
  // Decimal keeps its low 32 bits, so "-1" and "4294967295" both give the
  // all-ones pattern a user means by them.
  ParsedNumber number = Parse(text, 10);
  if (!number.any_digit) return 0;
  auto low = static_cast<std::uint32_t>(number.magnitude);
  return number.negative ? static_cast<std::uint32_t>(0u - low) : low;
}

std::string DollarHex(std::uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "$%08X", static_cast<unsigned>(value));
  return buffer;
}

}  // namespace romsmith
