// Trimming, blank tests, ASCII upper-casing and whole numbers read from text.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/text.h"

namespace ratemover {
namespace {

using namespace std::string_literals;

TEST(Text, TrimmedAndIsBlank) {
  struct Case {
    std::string input;
    std::string trimmed;
  };
  const Case cases[] = {
      {"", ""},
      {"abc", "abc"},
      {"  abc  ", "abc"},
      {"\t\r\n a b \x1F", "a b"},
      {"\0\0x\0"s, "x"},
      {"\x01\x20", ""},
      {"\xA0x\xA0", "\xA0x\xA0"},  // the no-break space is above 32 and stays
      {"\x7F", "\x7F"},
      {"\xFF ", "\xFF"},
      {"a\0b"s, "a\0b"s},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(Trimmed(c.input), c.trimmed);
    EXPECT_EQ(IsBlank(c.input), c.trimmed.empty());
  }
}

TEST(Text, AsciiUpper) {
  EXPECT_EQ(AsciiUpper("az AZ 09 {`@[" ""), "AZ AZ 09 {`@[");
  EXPECT_EQ(AsciiUpper("\xE8\x9A\xE1"), "\xE8\x9A\xE1");  // č š á stay
  EXPECT_EQ(AsciiUpper(""), "");
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const char expected = (b >= 'a' && b <= 'z') ? static_cast<char>(b - 32) : c;
    EXPECT_EQ(AsciiUpper(c), expected) << b;
  }
}

TEST(Text, AsciiLowerAndEqualsIgnoringAsciiCase) {
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const char expected = (b >= 'A' && b <= 'Z') ? static_cast<char>(b + 32) : c;
    EXPECT_EQ(AsciiLower(c), expected) << b;
  }
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  };
  const Case cases[] = {
      {"UTF-8", "utf-8", true},          {"TaBlE", "table", true},     {"", "", true},
      {"table", "tables", false},        {"td", "th", false},          {"@", "`", false},  // no letters
      {"[", "{", false},                 {"\xC8", "\xE8", false},      // Č and č are not ASCII letters
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EqualsIgnoringAsciiCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
    EXPECT_EQ(EqualsIgnoringAsciiCase(c.b, c.a), c.equal) << c.b << " / " << c.a;
  }
}

TEST(Text, ReadWholeNumber) {
  struct Case {
    std::string text;
    std::optional<std::int32_t> value;
  };
  const Case cases[] = {
      {"0", 0},
      {"42", 42},
      {"007", 7},
      {"   15", 15},
      {"+3", 3},
      {"-3", -3},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"$7FFFFFFF", 2147483647},
      {"-$80000000", -2147483647 - 1},
      {"$ff", 255},
      {"$FF", 255},
      {"0x1A", 26},
      {"0X1a", 26},
      {"-0x10", -16},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"99999999999999999999999", std::nullopt},
      {"$80000000", std::nullopt},
      {"$FFFFFFFFFFFFFFFFFF", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {"$", std::nullopt},
      {"0x", std::nullopt},
      {"12 ", std::nullopt},
      {"1 2", std::nullopt},
      {"\t5", std::nullopt},
      {"1.0", std::nullopt},
      {"1,0", std::nullopt},
      {"1e3", std::nullopt},
      {"abc", std::nullopt},
      {"12a", std::nullopt},
      {"$1g", std::nullopt},
      {"--1", std::nullopt},
      {"+-1", std::nullopt},
      {"5\0"s, std::nullopt},
      {"\xB9" "1", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ReadWholeNumber(c.text), c.value);
  }
}

TEST(Text, DecimalText) {
  EXPECT_EQ(DecimalText(0), "0");
  EXPECT_EQ(DecimalText(-5), "-5");
  EXPECT_EQ(DecimalText(2147483647), "2147483647");
  EXPECT_EQ(DecimalText(-2147483647 - 1), "-2147483648");
  // Every value a whole number can hold comes back through the reader.
  for (const std::int32_t v : {0, 1, -1, 300, -300, 2147483647, -2147483647 - 1}) {
    EXPECT_EQ(ReadWholeNumber(DecimalText(v)), v);
  }
}

}  // namespace
}  // namespace ratemover
