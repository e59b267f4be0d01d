#include "spreadsheet/number_format.h"

#include <string>
#include <vector>

#include "common/cp1250.h"

namespace ratemover::spreadsheet {

namespace {

// The code as code points: UTF-8 when the whole code is well-formed UTF-8
// (the .xlsx and .ods files), Windows-1250 bytes otherwise (the .xls files).
std::u32string CodePoints(std::string_view code) {
  std::u32string points;
  points.reserve(code.size());
  std::size_t i = 0;
  bool utf8 = true;
  while (i < code.size()) {
    const auto lead = static_cast<unsigned char>(code[i]);
    std::size_t length = 0;
    char32_t cp = 0;
    if (lead < 0x80) {
      length = 1;
      cp = lead;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      cp = lead & 0x07;
    } else {
      utf8 = false;
      break;
    }
    if (i + length > code.size()) {
      utf8 = false;
      break;
    }
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(code[i + k]);
      if ((next & 0xC0) != 0x80) {
        utf8 = false;
        break;
      }
      cp = (cp << 6) | (next & 0x3F);
    }
    if (!utf8) break;
    points.push_back(cp);
    i += length;
  }
  if (utf8) return points;
  points.clear();
  for (char c : code) points.push_back(CodePointOfCp1250(static_cast<unsigned char>(c)));
  return points;
}

bool IsCurrencySymbol(char32_t cp) {
  return cp == U'$' || cp == U'\u20AC' /* euro */ || cp == U'\u00A3' /* pound */ || cp == U'\u00A5' /* yen */;
}

bool IsDateLetter(char32_t cp) {
  switch (cp) {
    case U'd': case U'D':
    case U'm': case U'M':
    case U'y': case U'Y':
    case U'h': case U'H':
    case U's': case U'S':
      return true;
    default:
      return false;
  }
}

// An elapsed-time bracket: [h], [hh], [mm], [ss] and the like.
bool IsElapsedTime(const std::u32string& inside) {
  if (inside.empty()) return false;
  const char32_t first = inside[0] | 0x20;  // lower case of an ASCII letter
  if (first != U'h' && first != U'm' && first != U's') return false;
  for (char32_t c : inside) {
    if ((c | 0x20) != first) return false;
  }
  return true;
}

// "[$€-424]" names a currency; "[$-424]" is only a locale.
bool IsCurrencyBracket(const std::u32string& inside) {
  if (inside.size() < 2 || inside[0] != U'$') return false;
  return inside[1] != U'-';
}

// The keyword "General" (any case) stands for the general form; its letters
// are no date letters.
bool IsGeneralKeyword(const std::u32string& points, std::size_t at) {
  static constexpr char32_t kWord[] = U"general";
  if (points.size() - at < 7) return false;
  for (std::size_t k = 0; k < 7; ++k) {
    const char32_t c = points[at + k];
    const char32_t lower = (c >= U'A' && c <= U'Z') ? c + 32 : c;
    if (lower != kWord[k]) return false;
  }
  return true;
}

}  // namespace

NumberStyle StyleOfBuiltinFormat(int id) {
  // 5 to 8 are the currency formats and 42, 44 accounting with the currency
  // symbol; 41 and 43 are the accounting layout without a symbol. 14 to 22,
  // 45 to 47 are dates and times, 27 to 36 and 50 to 58 the East Asian date
  // formats, 71 to 81 the Thai dates and times.
  if ((id >= 5 && id <= 8) || id == 42 || id == 44) return NumberStyle::Currency;
  if ((id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) || (id >= 50 && id <= 58) ||
      (id >= 71 && id <= 81)) {
    return NumberStyle::DateTime;
  }
  return NumberStyle::General;
}

// Only the first section decides (the one for positive numbers, or the
// conditional section that comes first). Quoted text, backslash escapes, the
// character after _ (a space of its width) and after * (a fill) are literal
// and never make a code a date or currency: 0.00" EUR" is a plain number.
NumberStyle StyleOfFormatCode(std::string_view code) {
  const std::u32string points = CodePoints(code);
  bool date = false;
  bool currency = false;
  std::size_t i = 0;
  while (i < points.size()) {
    const char32_t c = points[i];
    if (c == U';') break;
    if (c == U'"') {
      ++i;
      while (i < points.size() && points[i] != U'"') ++i;
      ++i;
      continue;
    }
    if (c == U'\\' || c == U'_' || c == U'*') {
      i += 2;
      continue;
    }
    if (c == U'[') {
      std::size_t close = i + 1;
      while (close < points.size() && points[close] != U']') ++close;
      const std::u32string inside = points.substr(i + 1, close - i - 1);
      if (IsElapsedTime(inside)) date = true;
      if (IsCurrencyBracket(inside)) currency = true;
      i = close + 1;
      continue;
    }
    if (IsGeneralKeyword(points, i)) {
      i += 7;
      continue;
    }
    if (IsDateLetter(c)) date = true;
    if (IsCurrencySymbol(c)) currency = true;
    ++i;
  }
  if (date) return NumberStyle::DateTime;
  if (currency) return NumberStyle::Currency;
  return NumberStyle::General;
}

}  // namespace ratemover::spreadsheet
