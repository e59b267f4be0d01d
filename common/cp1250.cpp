#include "common/cp1250.h"

#include <array>

namespace ratemover {

namespace {

// Code points of the bytes 0x80 to 0xFF; bytes below 0x80 are ASCII.
constexpr std::array<char16_t, 128> kUpperHalf = {
    0x20AC, 0x0081, 0x201A, 0x0083, 0x201E, 0x2026, 0x2020, 0x2021,
    0x0088, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0098, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9};

// The byte of each code point of a range, 0 where the upper half has none.
template <char32_t First, char32_t Last>
constexpr std::array<unsigned char, Last - First + 1> BytesOfRange() {
  std::array<unsigned char, Last - First + 1> bytes{};
  for (std::size_t i = 0; i < kUpperHalf.size(); ++i) {
    if (kUpperHalf[i] >= First && kUpperHalf[i] <= Last) bytes[kUpperHalf[i] - First] = static_cast<unsigned char>(0x80 + i);
  }
  return bytes;
}

// The upper half's code points lie in two ranges: letters and signs up to
// U+02DD, punctuation, the euro and the trade mark from U+2013 to U+2122.
constexpr char32_t kLettersFirst = 0x80, kLettersLast = 0x2DD;
constexpr char32_t kPunctuationFirst = 0x2013, kPunctuationLast = 0x2122;
constexpr auto kLetterBytes = BytesOfRange<kLettersFirst, kLettersLast>();
constexpr auto kPunctuationBytes = BytesOfRange<kPunctuationFirst, kPunctuationLast>();

constexpr bool EveryByteHasItsRange() {
  for (const char16_t cp : kUpperHalf) {
    if (!(cp >= kLettersFirst && cp <= kLettersLast) && !(cp >= kPunctuationFirst && cp <= kPunctuationLast)) return false;
  }
  return true;
}
static_assert(EveryByteHasItsRange());

}  // namespace

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

char32_t CodePointOfCp1250(unsigned char byte) {
  return byte < 0x80 ? char32_t{byte} : char32_t{kUpperHalf[byte - 0x80]};
}

char Cp1250OfCodePoint(char32_t codePoint) {
  if (codePoint < 0x80) return static_cast<char>(codePoint);
  unsigned char byte = 0;
  if (codePoint <= kLettersLast) {
    byte = kLetterBytes[codePoint - kLettersFirst];
  } else if (codePoint >= kPunctuationFirst && codePoint <= kPunctuationLast) {
    byte = kPunctuationBytes[codePoint - kPunctuationFirst];
  }
  return byte != 0 ? static_cast<char>(byte) : '?';
}

Utf8Step DecodeUtf8At(std::string_view utf8, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(utf8[pos]);
  int extra = 0;
  char32_t cp = 0;
  if (lead < 0x80) {
    return {lead, 1, true};
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    cp = lead & 0x07;
  } else {
    return {0, 1, false};
  }
  std::size_t j = pos + 1;
  for (int k = 0; k < extra; ++k, ++j) {
    if (j >= utf8.size() || (static_cast<unsigned char>(utf8[j]) & 0xC0) != 0x80) return {0, j - pos, false};
    cp = (cp << 6) | (static_cast<unsigned char>(utf8[j]) & 0x3F);
  }
  static constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
  // an overlong form hides another character; surrogates and code points beyond
  // the last plane are no characters
  const bool ok = cp >= kSmallest[extra] && !(cp >= 0xD800 && cp <= 0xDFFF) && cp <= 0x10FFFF;
  return {ok ? cp : 0, j - pos, ok};
}

std::string Cp1250FromUtf8(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    if (static_cast<unsigned char>(utf8[i]) < 0x80) {
      out.push_back(utf8[i++]);
      continue;
    }
    const Utf8Step step = DecodeUtf8At(utf8, i);
    // a broken sequence is one '?' up to the byte that broke it
    out.push_back(step.valid ? Cp1250OfCodePoint(step.codePoint) : '?');
    i += step.length;
  }
  return out;
}

namespace {

// The UTF-16 rule on `count` code units that unitAt(i) gives.
template <typename UnitAt>
Utf16Step DecodeUtf16(UnitAt unitAt, std::size_t count, std::size_t pos) {
  const char16_t unit = unitAt(pos);
  const auto isHigh = [](char16_t u) { return u >= 0xD800 && u <= 0xDBFF; };
  const auto isLow = [](char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; };
  if (isHigh(unit)) {
    if (pos + 1 == count) return {0, 1, false, true};
    const char16_t next = unitAt(pos + 1);
    if (!isLow(next)) return {0, 1, false, false};
    return {0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (next - 0xDC00), 2, true, false};
  }
  if (isLow(unit)) return {0, 1, false, false};
  return {unit, 1, true, false};
}

}  // namespace

Utf16Step DecodeUtf16At(std::u16string_view units, std::size_t pos) {
  return DecodeUtf16([units](std::size_t i) { return units[i]; }, units.size(), pos);
}

template <typename UnitAt>
void Cp1250FromUtf16Runs::AppendUnits(UnitAt unitAt, std::size_t count, std::string& out) {
  std::size_t at = 0;
  if (waitingHigh_ != 0 && count > 0) {
    const char16_t pair[2] = {waitingHigh_, unitAt(0)};
    const Utf16Step step = DecodeUtf16At(std::u16string_view(pair, 2), 0);
    out.push_back('?');  // a character beyond the basic plane, or a lone surrogate
    at = step.length - 1;
    waitingHigh_ = 0;
  }
  // never more characters than units: room for all, cut to what was written
  const std::size_t base = out.size();
  out.resize(base + (count - at));
  char* write = out.data() + base;
  while (at < count) {
    const char16_t unit = unitAt(at);
    if (unit < 0x80) {
      *write++ = static_cast<char>(unit);
      ++at;
      continue;
    }
    const Utf16Step step = DecodeUtf16(unitAt, count, at);
    if (step.cut) {
      waitingHigh_ = unit;
      break;
    }
    *write++ = step.valid ? Cp1250OfCodePoint(step.codePoint) : '?';
    at += step.length;
  }
  out.resize(static_cast<std::size_t>(write - out.data()));
}

void Cp1250FromUtf16Runs::Append(std::u16string_view units, std::string& out) {
  AppendUnits([units](std::size_t i) { return units[i]; }, units.size(), out);
}

void Cp1250FromUtf16Runs::AppendLittleEndian(const unsigned char* bytes, std::size_t count, std::string& out) {
  AppendUnits(
      [bytes](std::size_t i) { return static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)); }, count, out);
}

std::string Cp1250FromUtf16(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  Cp1250FromUtf16Runs runs;
  runs.Append(utf16, out);
  runs.Finish(out);
  return out;
}

std::string Utf8FromCp1250(std::string_view cp1250) {
  std::string out;
  out.reserve(cp1250.size() * 2);
  for (char c : cp1250) AppendUtf8(out, CodePointOfCp1250(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace ratemover
