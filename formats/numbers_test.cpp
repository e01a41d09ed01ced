#include "platform/text.h"

#include <gtest/gtest.h>

namespace romsmith {
namespace {

TEST(StoredNumbers, DollarAndHexPrefixesReadAsHexadecimal) {
  EXPECT_EQ(ReadIntValue("$10"), 16);
  EXPECT_EQ(ReadIntValue("0x10"), 16);
  EXPECT_EQ(ReadIntValue("0X10"), 16);
  EXPECT_EQ(ReadIntValue("16"), 16);
  EXPECT_EQ(ReadIntValue("$ff"), 255);
  EXPECT_EQ(ReadUnsignedValue("$10"), 16u);
  EXPECT_EQ(ReadUnsignedValue("0XaB"), 0xABu);
  EXPECT_EQ(ReadUnsignedValue("4294967295"), 4294967295u);
}

TEST(StoredNumbers, SignedHexadecimalSaturatesUnsignedKeepsAllBits) {
  EXPECT_EQ(ReadIntValue("$80000000"), 2147483647);
  EXPECT_EQ(ReadIntValue("$FFFFFFFF"), 2147483647);
  EXPECT_EQ(ReadIntValue("$7FFFFFFF"), 2147483647);
  EXPECT_EQ(ReadIntValue("$-10"), -16);
  EXPECT_EQ(ReadUnsignedValue("$80000000"), 2147483648u);
  EXPECT_EQ(ReadUnsignedValue("$FFFFFFFF"), 4294967295u);
  EXPECT_EQ(ReadUnsignedValue("$123456789"), 0xFFFFFFFFu);
  EXPECT_EQ(ReadIntValue("99999999999"), 2147483647);
  EXPECT_EQ(ReadIntValue("-99999999999"), -2147483647 - 1);
  EXPECT_EQ(ReadIntValue("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(ReadUnsignedValue("-1"), 0xFFFFFFFFu);
  EXPECT_EQ(ReadUnsignedValue("-2"), 0xFFFFFFFEu);
}

TEST(StoredNumbers, ConversionStopsAtFirstForeignCharacterAndIsNotTrimmed) {
  EXPECT_EQ(ReadIntValue("12abc"), 12);
  EXPECT_EQ(ReadIntValue("$1G"), 1);
  EXPECT_EQ(ReadIntValue(""), 0);
  EXPECT_EQ(ReadIntValue("$"), 0);
  EXPECT_EQ(ReadIntValue("0x"), 0);
  EXPECT_EQ(ReadIntValue("abc"), 0);
  // A blank first makes the value decimal: the digits stop at the 'x'.
  EXPECT_EQ(ReadIntValue(" 0x10"), 0);
  EXPECT_EQ(ReadIntValue(" $10"), 0);
  EXPECT_EQ(ReadUnsignedValue(" 0x10"), 0u);
  // Decimal reading itself skips leading white space, as atoi does.
  EXPECT_EQ(ReadIntValue("  42"), 42);
  EXPECT_EQ(ReadIntValue("\t-7 "), -7);
}

TEST(EditFieldNumbers, HexKeepsAllBitsDecimalIsSigned) {
  EXPECT_EQ(ParseNumberText(""), 0u);
  EXPECT_EQ(ParseNumberText("0x10"), 16u);
  EXPECT_EQ(ParseNumberText("0XFFFFFFFF"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseNumberText("0x80000000"), 0x80000000u);
  EXPECT_EQ(ParseNumberText("1024"), 1024u);
  EXPECT_EQ(ParseNumberText("-1"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseNumberText("  12"), 12u);
  EXPECT_EQ(ParseNumberText("hello"), 0u);
  EXPECT_EQ(ParseNumberText("0x"), 0u);
  EXPECT_EQ(ParseNumberText("$10"), 0u);
  EXPECT_EQ(ParseNumberText("3000000000"), 3000000000u);
}

TEST(StoredNumbers, DollarHexHasEightUpperCaseDigits) {
  EXPECT_EQ(DollarHex(0), "$00000000");
  EXPECT_EQ(DollarHex(0xabcdef), "$00ABCDEF");
  EXPECT_EQ(DollarHex(0xFFFFFFFF), "$FFFFFFFF");
  EXPECT_EQ(ReadUnsignedValue(DollarHex(0xDEADBEEF)), 0xDEADBEEFu);
}

}  // namespace
}  // namespace romsmith
