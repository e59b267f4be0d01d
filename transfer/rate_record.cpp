#include "transfer/rate_record.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <system_error>

#include "common/regional.h"
#include "common/text.h"

namespace ratemover {

namespace {

constexpr std::size_t kSymbolWidth = 30;
constexpr std::size_t kMarkerWidth = 10;
constexpr std::size_t kPriceWidth = 15;
constexpr int kDecimals = 6;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The text cut to width and filled with blanks on the right.
void AppendLeft(std::string& line, std::string_view text, std::size_t width) {
  const std::string_view cut = text.substr(0, width);
  line.append(cut);
  line.append(width - cut.size(), ' ');
}

void AppendBlanks(std::string& line, std::size_t width) { line.append(width, ' '); }

// Reads the number grammar of a price text (the decimal point already replaced
// by the regional separator): leading spaces, a sign, digits with one optional
// separator, an optional exponent, trailing spaces. The value is rebuilt as a
// C-form text and converted by from_chars, which rounds to the nearest double
// and never looks at the process locale.
double ParsePrice(std::string_view text, char separator) {
  const auto fail = [&]() -> double { throw ConversionError("'" + std::string(text) + "' ni veljavno \x9Atevilo"); };
  std::size_t pos = 0;
  while (pos < text.size() && text[pos] == ' ') ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  std::string digits;  // significant digits, leading zeros dropped
  bool anyDigit = false;
  bool separatorSeen = false;
  std::int64_t integerDigits = 0;  // digits kept before the separator
  std::int64_t fractionZeros = 0;  // zeros after the separator before the first kept digit
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (IsDigit(c)) {
      anyDigit = true;
      if (digits.empty() && c == '0') {
        if (separatorSeen) ++fractionZeros;
        continue;
      }
      digits.push_back(c);
      if (!separatorSeen) ++integerDigits;
    } else if (c == separator && !separatorSeen) {
      separatorSeen = true;
    } else {
      break;
    }
  }
  if (!anyDigit && !separatorSeen) return fail();
  std::int64_t exponent = 0;
  if (pos < text.size() && (text[pos] == 'E' || text[pos] == 'e')) {
    ++pos;
    bool exponentNegative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
      exponentNegative = text[pos] == '-';
      ++pos;
    }
    const std::size_t exponentStart = pos;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[pos] - '0');
    }
    if (pos == exponentStart) return fail();
    if (exponentNegative) exponent = -exponent;
  }
  while (pos < text.size() && text[pos] == ' ') ++pos;
  if (pos != text.size()) return fail();

  if (digits.empty()) return negative ? -0.0 : 0.0;
  // value = 0.<digits> * 10^(decimalExponent)
  const std::int64_t pointShift = separatorSeen && integerDigits == 0 ? -fractionZeros : integerDigits;
  const std::int64_t decimalExponent = pointShift + exponent;
  if (decimalExponent > 400) return fail();  // beyond the largest double
  if (decimalExponent < -400) return negative ? -0.0 : 0.0;  // below the smallest double
  std::string normal = "0." + digits + "e" + std::to_string(decimalExponent);
  double value = 0;
  const auto [end, error] = std::from_chars(normal.data(), normal.data() + normal.size(), value);
  if (error == std::errc::result_out_of_range) {
    if (decimalExponent > 0) return fail();
    value = 0;
  } else if (error != std::errc() || end != normal.data() + normal.size() || !std::isfinite(value)) {
    return fail();
  }
  return negative ? -value : value;
}

// Adds one to the last place of a string of decimal digits.
void IncrementDigits(std::string& digits) {
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    if (*it != '9') {
      ++*it;
      return;
    }
    *it = '0';
  }
  digits.insert(digits.begin(), '1');
}

}  // namespace

double DveDecimalki(std::string_view priceText) {
  const char separator = Regional().decimalSeparator;
  std::string copy(priceText);
  for (char& c : copy) {
    if (c == '.') c = ',';
  }
  if (IsBlank(copy)) return 0.0;
  return ParsePrice(copy, separator);
}

std::string PrvaBeseda(std::string_view text) {
  std::string trimmed = Trimmed(text);
  const auto blank = trimmed.find(' ');
  if (blank != std::string::npos) trimmed.resize(blank);
  return trimmed;
}

std::string FormattedDate(int day, int month, int year) {
  if (year < 2000) year += 2000;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%2.2d.%2.2d.%4.4d", day, month, year);
  return buffer;
}

std::string VrsticaDatuma(std::string_view formattedDate) {
  std::string line = " 0002 ";
  line.append(formattedDate);
  return line;
}

std::string PriceField(double price) {
  const char separator = Regional().decimalSeparator;
  std::string field;
  if (!std::isfinite(price)) {
    field = std::isnan(price) ? "NAN" : (price < 0 ? "-INF" : "INF");
  } else {
    // The price's decimal expansion rounded to 18 significant digits, worked on
    // as a digit string so that the sixth decimal is rounded exactly.
    std::string scaled = "0";  // |price| * 10^6, cut after the sixth decimal
    int roundingDigit = 0;
    if (price != 0) {
      char buffer[64];
      const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(price), std::chars_format::scientific, 17);
      const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
      const auto ePos = text.find('e');
      std::string digits;
      for (char c : text.substr(0, ePos)) {
        if (IsDigit(c)) digits.push_back(c);
      }
      int exponent = 0;
      std::from_chars(text.data() + ePos + 1 + (text[ePos + 1] == '+' ? 1 : 0), text.data() + text.size(), exponent);
      // digit i has the place value 10^(exponent - i); decimals down to 10^-6 are kept
      const int lastKept = exponent + kDecimals;
      if (lastKept >= 0) {
        const int available = static_cast<int>(digits.size());
        scaled = digits.substr(0, static_cast<std::size_t>(std::min(lastKept + 1, available)));
        if (lastKept + 1 > available) scaled.append(static_cast<std::size_t>(lastKept + 1 - available), '0');
      }
      const int firstDropped = lastKept + 1;
      if (firstDropped >= 0 && firstDropped < static_cast<int>(digits.size())) roundingDigit = digits[firstDropped] - '0';
    }
    if (roundingDigit >= 5) IncrementDigits(scaled);
    if (scaled.size() < kDecimals + 1) scaled.insert(0, kDecimals + 1 - scaled.size(), '0');
    std::string integerPart = scaled.substr(0, scaled.size() - kDecimals);
    const std::string fraction = scaled.substr(scaled.size() - kDecimals);
    const auto firstNonZero = integerPart.find_first_not_of('0');
    integerPart = firstNonZero == std::string::npos ? "0" : integerPart.substr(firstNonZero);
    const bool zero = scaled.find_first_not_of('0') == std::string::npos;
    // a price that rounds to zero carries no sign
    if (price < 0 && !zero) field.push_back('-');
    field += integerPart;
    field.push_back(separator);
    field += fraction;
  }
  // a price wider than its field widens the line instead of losing digits
  if (field.size() < kPriceWidth) field.insert(0, kPriceWidth - field.size(), ' ');
  return field;
}

std::string VrsticaTecaja(std::string_view symbol, std::string_view indexMarker, double price,
                          std::string_view formattedDate) {
  const std::string priceField = PriceField(price);
  std::string line;
  line.reserve(179 + priceField.size());
  line += " 0020";
  line += ' ';
  AppendBlanks(line, 4);
  line += ' ';
  AppendBlanks(line, 4);
  line += ' ';
  AppendLeft(line, Trimmed(symbol), kSymbolWidth);
  line += ' ';
  AppendBlanks(line, 20);
  line += ' ';
  AppendBlanks(line, 40);
  line += ' ';
  AppendBlanks(line, 15);
  line += ' ';
  AppendLeft(line, indexMarker, kMarkerWidth);
  line += ' ';
  line += priceField;
  line += ' ';
  AppendBlanks(line, 15);
  line += ' ';
  AppendBlanks(line, 15);
  line += ' ';
  // right-aligned and cut to ten, as "%10.10s" does
  const std::string_view date = formattedDate.substr(0, 10);
  AppendBlanks(line, 10 - date.size());
  line += date;
  return line;
}

std::string OutputFileName(std::string_view workbookPath) {
  const auto dot = workbookPath.rfind('.');
  std::string path(dot == std::string_view::npos ? workbookPath : workbookPath.substr(0, dot + 1));
  path += "ztr";
  return path;
}

}  // namespace ratemover
