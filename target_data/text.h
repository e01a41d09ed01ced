// Small text helpers shared by the target description code.
#pragma once

#include <string>
#include <string_view>

namespace romsmith {

// Comparisons of ASCII texts ignoring case, as the byte-order and "(Nand)"
// tests and the configuration comparison need them.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
bool ContainsIgnoringCase(std::string_view text, std::string_view part);

// printf-style formatting into a string.
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Every ':' replaced by a blank, so colon-separated rows scan like blank-
// separated ones.
std::string ColonsToBlanks(std::string text);

}  // namespace romsmith
