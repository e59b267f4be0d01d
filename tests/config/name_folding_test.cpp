// Folding and comparing profile names, on Windows-1250 bytes.
#include <gtest/gtest.h>

#include <string>

#include "config/name_folding.h"

namespace ratemover {
namespace {

TEST(NameFolding, BrezSumnikov) {
  struct Case {
    std::string input;
    std::string folded;
  };
  const Case cases[] = {
      {"", ""},
      {"LJUBLJANSKA BORZA 1", "LJUBLJANSKA BORZA 1"},
      {"\xE8\xC8\xE6\xC6\x9A\x8A\x9E\x8E\xF0\xD0", "cCcCsSzZdD"},
      {"Te\xE8" "aj \x8Ailing", "Tecaj Siling"},
      // other letters with diacritics stay: á é ö ü Ł ř
      {"\xE1\xE9\xF6\xFC\xA3\xF8", "\xE1\xE9\xF6\xFC\xA3\xF8"},
      {std::string("a\0\xE8", 3), std::string("a\0c", 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(BrezSumnikov(c.input), c.folded);
  }
  // Every other byte of the code page is left alone.
  const std::string special = "\xE8\xC8\xE6\xC6\x9A\x8A\x9E\x8E\xF0\xD0";
  for (int b = 0; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    if (special.find(one) == std::string::npos) {
      EXPECT_EQ(BrezSumnikov(one), one) << b;
    }
  }
}

TEST(NameFolding, VelikaCrka) {
  struct Case {
    std::string input;
    std::string upper;
  };
  const Case cases[] = {
      {"a", "A"},       {"z", "Z"},       {"A", "A"},       {"1", "1"},       {"\x9A", "\x8A"}, {"\x8A", "\x8A"},
      {"\xE8", "\xC8"}, {"\xE6", "\xC6"}, {"\x9E", "\x8E"}, {"\xF0", "\xD0"}, {"\xC8", "\xC8"}, {"\xE1", "\xE1"},
      {"\xFC", "\xFC"}, {"\xB3", "\xB3"}, {"{", "{"},       {"`", "`"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(VelikaCrka(c.input), c.upper);
  }
}

TEST(NameFolding, EnakaImena) {
  struct Case {
    std::string first;
    std::string second;
    bool equal;
  };
  const Case cases[] = {
      {"", "", true},
      {"   ", "\t", true},
      {"", "A", false},
      {"A", "", false},
      {"  ", "A", false},
      {"A", "  ", false},
      {"Borza", "BORZA", true},
      {"  Borza\t", "borza", true},
      {"Ljubljanska borza", "Ljubljanska  borza", false},
      {"\xE8" "ek", "\xC8" "EK", true},  // č and Č
      {"\xE8" "ek", "cek", false},        // č and c
      {"\x9A\x9E\xF0\xE6", "\x8A\x8E\xD0\xC6", true},
      {"\xE1", "\xC1", false},  // á and Á are not folded
      {"ab", "abc", false},
      {"ab", "ac", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first + " | " + c.second);
    EXPECT_EQ(EnakaImena(c.first, c.second), c.equal);
    EXPECT_EQ(EnakaImena(c.second, c.first), c.equal);
  }
}

}  // namespace
}  // namespace ratemover
