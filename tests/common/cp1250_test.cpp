// Windows-1250 to Unicode and back.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

#include "common/cp1250.h"

namespace ratemover {
namespace {

using namespace std::string_literals;

TEST(Cp1250, KnownLetters) {
  struct Case {
    unsigned char byte;
    char32_t codePoint;
  };
  const Case cases[] = {
      {0x41, U'A'},      {0x00, 0},          {0x7F, 0x7F},      {0x80, U'\u20AC'}, {0x8A, U'\u0160'},
      {0x8E, U'\u017D'}, {0x9A, U'\u0161'},  {0x9E, U'\u017E'}, {0xC8, U'\u010C'}, {0xE8, U'\u010D'},
      {0xC6, U'\u0106'}, {0xE6, U'\u0107'},  {0xD0, U'\u0110'}, {0xF0, U'\u0111'}, {0xA0, U'\u00A0'},
      {0xA3, U'\u0141'}, {0xE1, U'\u00E1'},  {0xFC, U'\u00FC'}, {0xFF, U'\u02D9'}, {0x96, U'\u2013'},
      {0x84, U'\u201E'}, {0x93, U'\u201C'},  {0x81, 0x81},       {0x98, 0x98},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.byte));
    EXPECT_EQ(CodePointOfCp1250(c.byte), c.codePoint);
    EXPECT_EQ(Cp1250OfCodePoint(c.codePoint), static_cast<char>(c.byte));
  }
}

TEST(Cp1250, EveryCodePointFindsItsByteOrAQuestionMark) {
  std::map<char32_t, unsigned char> byteOf;
  for (int b = 0; b < 256; ++b) byteOf[CodePointOfCp1250(static_cast<unsigned char>(b))] = static_cast<unsigned char>(b);
  int mismatches = 0;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    const auto it = byteOf.find(cp);
    const char expected = it == byteOf.end() ? '?' : static_cast<char>(it->second);
    if (Cp1250OfCodePoint(cp) != expected && ++mismatches <= 5) ADD_FAILURE() << "U+" << std::hex << static_cast<std::uint32_t>(cp);
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(Cp1250, EveryByteSurvivesARoundTrip) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(Cp1250FromUtf8(Utf8FromCp1250(all)), all);
  std::u16string utf16;
  for (int b = 0; b < 256; ++b) utf16.push_back(static_cast<char16_t>(CodePointOfCp1250(static_cast<unsigned char>(b))));
  EXPECT_EQ(Cp1250FromUtf16(utf16), all);
  // 256 distinct code points: no two bytes share one.
  std::u16string sorted = utf16;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end());
}

TEST(Cp1250, Utf8Text) {
  EXPECT_EQ(Utf8FromCp1250("TESTNA TE\xC8" "AJNICA"), "TESTNA TEČAJNICA");
  EXPECT_EQ(Utf8FromCp1250("\x80"), "€");
  EXPECT_EQ(Cp1250FromUtf8("Šiling čaj žaba đak ć"), "\x8Ailing \xE8" "aj \x9E" "aba \xF0" "ak \xE6");
}

TEST(Cp1250, MalformedOrForeignUtf8BecomesQuestionMarks) {
  struct Case {
    const char* what;
    std::string utf8;
    std::string cp1250;
  };
  const Case cases[] = {
      {"a character the code page lacks", "å", "?"},
      {"a character beyond the basic plane", "a\xF0\x9F\x98\x80" "b", "a?b"},
      {"a cut sequence at the end", "ab\xC4", "ab?"},
      {"a cut sequence before ASCII", "\xE2\x82" "A", "?A"},
      {"a stray continuation byte", "\x80x", "?x"},
      {"an overlong NUL", "\xC0\x80", "?"},
      {"an overlong slash", "\xE0\x80\xAF", "?"},
      {"a bad lead byte", "\xFF\xFE", "??"},
      {"an encoded surrogate", "\xED\xA0\x80", "?"},
      {"NUL stays", "a\0b"s, "a\0b"s},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Cp1250FromUtf8(c.utf8), c.cp1250);
  }
}

// One rule for UTF-16 whether the units come whole or in runs cut anywhere:
// a pair is one character, a lone surrogate one '?'.
TEST(Cp1250, Utf16TextWholeOrInRuns) {
  struct Case {
    std::u16string utf16;
    std::string cp1250;
  };
  const Case cases[] = {
      {u"Te\u010Daj", "Te\xE8" "aj"},
      {u"a\U0001F600b", "a?b"},
      {{u'a', char16_t(0xD800), u'b'}, "a?b"},
      {{char16_t(0xDC00)}, "?"},
      {{u'a', char16_t(0xD800)}, "a?"},
      {{char16_t(0xD800), char16_t(0xD800), char16_t(0xDC00)}, "??"},
      {{char16_t(0xDC00), char16_t(0xD800)}, "??"},
      {u"\u4E2D", "?"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Cp1250FromUtf16(c.utf16), c.cp1250) << c.cp1250;
    for (std::size_t cut = 0; cut <= c.utf16.size(); ++cut) {
      std::string out;
      Cp1250FromUtf16Runs runs;
      runs.Append(std::u16string_view(c.utf16).substr(0, cut), out);
      runs.Append(std::u16string_view(c.utf16).substr(cut), out);
      runs.Finish(out);
      EXPECT_EQ(out, c.cp1250) << "cut after " << cut << " units of " << c.cp1250;
    }
  }
  const Utf16Step pair = DecodeUtf16At(u"\U0001F600", 0);
  EXPECT_TRUE(pair.valid);
  EXPECT_EQ(pair.codePoint, char32_t(0x1F600));
  EXPECT_EQ(pair.length, 2u);
  EXPECT_TRUE(DecodeUtf16At(std::u16string{char16_t(0xD83D)}, 0).cut);
}

// Every length of sequence, at both ends of its range, encodes to the bytes
// that decode back to the same character.
TEST(Cp1250, Utf8EncodingOfEachLengthDecodesBack) {
  struct Case {
    char32_t codePoint;
    std::string_view utf8;
  };
  for (const Case& c : {Case{U'A', "A"}, Case{0x7F, "\x7F"}, Case{0x80, "\xC2\x80"}, Case{0x7FF, "\xDF\xBF"},
                        Case{0x800, "\xE0\xA0\x80"}, Case{0x20AC, "\xE2\x82\xAC"}, Case{0xFFFF, "\xEF\xBF\xBF"},
                        Case{0x10000, "\xF0\x90\x80\x80"}, Case{0x1F600, "\xF0\x9F\x98\x80"},
                        Case{0x10FFFF, "\xF4\x8F\xBF\xBF"}}) {
    std::string out;
    AppendUtf8(out, c.codePoint);
    EXPECT_EQ(out, c.utf8) << static_cast<unsigned long>(c.codePoint);
    const Utf8Step step = DecodeUtf8At(out, 0);
    EXPECT_TRUE(step.valid) << static_cast<unsigned long>(c.codePoint);
    EXPECT_EQ(step.codePoint, c.codePoint);
    EXPECT_EQ(step.length, out.size());
  }
}

}  // namespace
}  // namespace ratemover
