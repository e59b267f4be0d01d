#include "transfer/rate_record.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <system_error>
#include <type_traits>
#include <utility>

#include "common/regional.h"
#include "common/short_decimal.h"
#include "common/text.h"

namespace ratemover {

namespace {

// The fields of the two kinds of line, in order. Every field is preceded by one
// blank. A value longer than its field is cut to the field's width, except
// where the field widens: a price wider than its field widens the line instead
// of losing digits.
enum class Holds { RecordCode, Nothing, Symbol, IndexMarker, Price, Date };
enum class Align { Left, Right };

struct LineField {
  Holds holds;
  std::size_t width;
  Align align;
  bool widens = false;
};

constexpr LineField kDateLineFields[] = {
    {Holds::RecordCode, 4, Align::Left},
    {Holds::Date, 10, Align::Left, true},
};

constexpr LineField kPriceLineFields[] = {
    {Holds::RecordCode, 4, Align::Left},
    {Holds::Nothing, 4, Align::Right},
    {Holds::Nothing, 4, Align::Right},
    {Holds::Symbol, 30, Align::Left},
    {Holds::Nothing, 20, Align::Right},
    {Holds::Nothing, 40, Align::Right},
    {Holds::Nothing, 15, Align::Right},
    {Holds::IndexMarker, 10, Align::Left},
    {Holds::Price, 15, Align::Right, true},
    {Holds::Nothing, 15, Align::Right},
    {Holds::Nothing, 15, Align::Right},
    {Holds::Date, 10, Align::Right},
};

// A field that holds a value, at its column in a line whose fields keep their
// widths (counted from 0, after the field's blank).
struct PlacedField {
  Holds holds;
  std::size_t column;
  std::size_t width;
  Align align;
  bool widens;
};

// The fields of a line that hold a value, placed once, when compiled; and the
// length of the line when no field widens.
template <std::size_t N>
struct LineLayout {
  std::array<PlacedField, N> placed{};
  std::size_t length = 0;
};

template <std::size_t Holding, std::size_t N>
constexpr LineLayout<Holding> LayoutOf(const LineField (&fields)[N]) {
  LineLayout<Holding> layout;
  std::size_t next = 0;
  for (const LineField& field : fields) {
    if (field.holds != Holds::Nothing) {
      layout.placed[next++] = {field.holds, layout.length + 1, field.width, field.align, field.widens};
    }
    layout.length += 1 + field.width;
  }
  return layout;
}

template <std::size_t N>
constexpr std::size_t HoldingCount(const LineField (&fields)[N]) {
  std::size_t count = 0;
  for (const LineField& field : fields) count += field.holds != Holds::Nothing ? 1 : 0;
  return count;
}

constexpr auto kDateLine = LayoutOf<HoldingCount(kDateLineFields)>(kDateLineFields);
constexpr auto kPriceLine = LayoutOf<HoldingCount(kPriceLineFields)>(kPriceLineFields);

constexpr std::string_view kDateRecordCode = "0002";
constexpr std::string_view kPriceRecordCode = "0020";
constexpr std::size_t kPriceWidth = [] {
  for (const LineField& field : kPriceLineFields) {
    if (field.holds == Holds::Price) return field.width;
  }
  return std::size_t{0};
}();
constexpr int kDecimals = 6;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The text without bytes of code 0 to 32 at either end, without copying it.
std::string_view TrimmedView(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
  return text;
}

// Reads the number grammar of a price text (the decimal point already replaced
// by the regional separator): leading spaces, a sign, digits with one optional
// separator, an optional exponent, trailing spaces. The value is rebuilt as a
// C-form text and converted by from_chars, which rounds to the nearest double
// and never looks at the process locale. No value when the text is not a number.
std::optional<double> ParsePrice(std::string_view text, char separator) {
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
  if (!anyDigit && !separatorSeen) return std::nullopt;
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
    if (pos == exponentStart) return std::nullopt;
    if (exponentNegative) exponent = -exponent;
  }
  while (pos < text.size() && text[pos] == ' ') ++pos;
  if (pos != text.size()) return std::nullopt;

  if (digits.empty()) return negative ? -0.0 : 0.0;
  // value = 0.<digits> * 10^(decimalExponent)
  const std::int64_t pointShift = separatorSeen && integerDigits == 0 ? -fractionZeros : integerDigits;
  const std::int64_t decimalExponent = pointShift + exponent;
  if (decimalExponent > 400) return std::nullopt;  // beyond the largest double
  if (decimalExponent < -400) return negative ? -0.0 : 0.0;  // below the smallest double
  // Up to 15 digits are an exact double, and so is a power of ten up to
  // 10^22: one multiplication or division rounds once, to the double nearest
  // the decimal, as from_chars does.
  const std::int64_t scale = decimalExponent - static_cast<std::int64_t>(digits.size());
  if (digits.size() <= 15 && scale >= -22 && scale <= 22) {
    constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                  1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    std::uint64_t units = 0;
    for (const char digit : digits) units = units * 10 + static_cast<std::uint64_t>(digit - '0');
    const auto exact = static_cast<double>(units);
    const double value = scale < 0 ? exact / kPowers[-scale] : exact * kPowers[scale];
    if (std::isfinite(value)) return negative ? -value : value;
  }
  std::string normal;
  normal.reserve(digits.size() + 16);
  normal += "0.";
  normal += digits;
  normal += 'e';
  char exponentText[24];
  const auto exponentEnd = std::to_chars(exponentText, exponentText + sizeof exponentText, decimalExponent).ptr;
  normal.append(exponentText, exponentEnd);
  double value = 0;
  const auto [end, error] = std::from_chars(normal.data(), normal.data() + normal.size(), value);
  if (error == std::errc::result_out_of_range) {
    if (decimalExponent > 0) return std::nullopt;
    value = 0;
  } else if (error != std::errc() || end != normal.data() + normal.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

}  // namespace

std::optional<double> DveDecimalki(std::string_view priceText) {
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

namespace {

// The price field has room for every digit of the largest double (309 integer
// digits, a sign, the separator and six decimals).
constexpr std::size_t kPriceRoom = 400;

// Writes the price rounded half away from zero to six decimals, without the
// blanks that fill it to 15, and returns its length. The rounding works on the
// price's decimal expansion cut to 18 significant digits, as a digit string, so
// that the sixth decimal never suffers from binary fractions.
std::size_t FormatPrice(char (&field)[kPriceRoom], double price) {
  const char separator = Regional().decimalSeparator;
  std::size_t length = 0;
  if (!std::isfinite(price)) {
    const std::string_view text = std::isnan(price) ? "NAN" : (price < 0 ? "-INF" : "INF");
    text.copy(field, text.size());
    length = text.size();
  } else {
    char scaled[330];  // |price| * 10^6 cut to whole units, most significant digit first
    int scaledLength = 0;
    int roundingDigit = 0;
    if (price != 0) {
      const double magnitude = std::fabs(price);
      char digits[18];
      int digitCount = 0;
      int exponent = 0;
      // d.ddddddddddddddddde[+-]xx: the digits and the power of ten of the first
      const auto takeDigits = [&](std::to_chars_result result, const char* buffer) {
        digitCount = 0;
        const char* p = buffer;
        for (; p < result.ptr && *p != 'e'; ++p) {
          if (IsDigit(*p) && digitCount < 18) digits[digitCount++] = *p;
        }
        exponent = 0;
        if (p < result.ptr) {
          ++p;
          if (p < result.ptr && *p == '+') ++p;
          std::from_chars(p, result.ptr, exponent);
        }
      };
      char buffer[32];
      // Most prices have a short form with six decimals at most: a decimal
      // whose nearest double the price is. Below 2^32 a double lies within
      // 2^-22 of such a form and its 18 digits within 2^-22 + 5e-9, less than
      // half a millionth: rounding them gives the short form itself.
      constexpr double kShortFormBelow = 4294967296.0;
      if (const auto decimal = magnitude < kShortFormBelow ? ShortDecimalOf(magnitude, kDecimals) : std::nullopt) {
        const char* const end = std::to_chars(buffer, buffer + sizeof buffer, decimal->units).ptr;
        digitCount = static_cast<int>(end - buffer);
        std::memcpy(digits, buffer, static_cast<std::size_t>(digitCount));
        exponent = digitCount - 1 - decimal->decimals;
      } else {
        // the shortest digits that read back as the same double, else all 18
        takeDigits(std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific), buffer);
        if (!(magnitude < kShortFormBelow && digitCount - 1 - exponent <= kDecimals)) {
          takeDigits(std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::scientific, 17), buffer);
        }
      }
      // digit i has the place value 10^(exponent - i); places down to 10^-6 are kept
      const int lastKept = exponent + kDecimals;
      for (int i = 0; i <= lastKept; ++i) scaled[scaledLength++] = i < digitCount ? digits[i] : '0';
      const int firstDropped = lastKept + 1;
      if (firstDropped >= 0 && firstDropped < digitCount) roundingDigit = digits[firstDropped] - '0';
    }
    if (roundingDigit >= 5) {
      int i = scaledLength - 1;
      for (; i >= 0 && scaled[i] == '9'; --i) scaled[i] = '0';
      if (i >= 0) {
        ++scaled[i];
      } else {
        std::memmove(scaled + 1, scaled, static_cast<std::size_t>(scaledLength));
        scaled[0] = '1';
        ++scaledLength;
      }
    }
    // at least one integer digit before the six decimals
    if (scaledLength < kDecimals + 1) {
      const int missing = kDecimals + 1 - scaledLength;
      std::memmove(scaled + missing, scaled, static_cast<std::size_t>(scaledLength));
      std::memset(scaled, '0', static_cast<std::size_t>(missing));
      scaledLength = kDecimals + 1;
    }
    const int integerDigits = scaledLength - kDecimals;
    int firstInteger = 0;
    while (firstInteger < integerDigits - 1 && scaled[firstInteger] == '0') ++firstInteger;
    bool zero = true;
    for (int i = 0; i < scaledLength && zero; ++i) zero = scaled[i] == '0';
    // a price that rounds to zero carries no sign
    if (price < 0 && !zero) field[length++] = '-';
    for (int i = firstInteger; i < integerDigits; ++i) field[length++] = scaled[i];
    field[length++] = separator;
    for (int i = integerDigits; i < scaledLength; ++i) field[length++] = scaled[i];
  }
  return length;
}

}  // namespace

std::string PriceField(double price) {
  char field[kPriceRoom];
  const std::size_t length = FormatPrice(field, price);
  // a price wider than its field widens the line instead of losing digits
  std::string text(length < kPriceWidth ? kPriceWidth - length : 0, ' ');
  text.append(field, length);
  return text;
}

namespace {

// The values of a line's fields; the price as its formatted text.
struct FieldValues {
  std::string_view recordCode;
  std::string_view symbol;
  std::string_view indexMarker;
  std::string_view price;
  std::string_view date;
};

template <Holds holds>
std::string_view ValueOf(const FieldValues& values) {
  if constexpr (holds == Holds::RecordCode) return values.recordCode;
  if constexpr (holds == Holds::Symbol) return TrimmedView(values.symbol);
  if constexpr (holds == Holds::IndexMarker) return values.indexMarker;
  if constexpr (holds == Holds::Price) return values.price;
  if constexpr (holds == Holds::Date) return values.date;
  return {};
}

// Calls step(std::integral_constant<std::size_t, I>) for I from 0 to N - 1, so
// that every field of a layout is a constant where it is written.
template <std::size_t N, typename Step>
void ForEachField(Step step) {
  [&]<std::size_t... I>(std::index_sequence<I...>) { (step(std::integral_constant<std::size_t, I>{}), ...); }
  (std::make_index_sequence<N>{});
}

// The line starts as blanks, as long as its fields make it, and each value is
// put in at its place; a field that widens moves the fields after it.
template <const auto& layout>
void AppendFields(std::string& out, const FieldValues& values) {
  constexpr std::size_t N = layout.placed.size();
  std::string_view cut[N];
  std::size_t widened = 0;
  ForEachField<N>([&](auto index) {
    constexpr PlacedField field = layout.placed[decltype(index)::value];
    std::string_view& value = cut[decltype(index)::value];
    value = ValueOf<field.holds>(values);
    if constexpr (!field.widens) {
      value = value.substr(0, field.width);
    } else if (value.size() > field.width) {
      widened += value.size() - field.width;
    }
  });
  const std::size_t base = out.size();
  out.append(layout.length + widened, ' ');
  char* const line = out.data() + base;
  std::size_t shift = 0;
  ForEachField<N>([&](auto index) {
    constexpr PlacedField field = layout.placed[decltype(index)::value];
    const std::string_view value = cut[decltype(index)::value];
    const std::size_t width = field.widens ? std::max(field.width, value.size()) : field.width;
    char* const at = line + field.column + shift + (field.align == Align::Right ? width - value.size() : 0);
    if constexpr (field.holds == Holds::Symbol) {
      // A control character inside the symbol (a line break typed into the cell)
      // would split the fixed-width line in the file; it becomes a blank instead.
      for (std::size_t c = 0; c < value.size(); ++c) at[c] = static_cast<unsigned char>(value[c]) < 32 ? ' ' : value[c];
    } else {
      value.copy(at, value.size());
    }
    if constexpr (field.widens) shift += width - field.width;
  });
}

}  // namespace

std::string VrsticaDatuma(std::string_view formattedDate) {
  std::string line;
  AppendFields<kDateLine>(
      line, {.recordCode = kDateRecordCode, .symbol = {}, .indexMarker = {}, .price = {}, .date = formattedDate});
  return line;
}

void AppendVrsticaTecaja(std::string& out, const PriceLine& values) {
  char field[kPriceRoom];
  const std::size_t priceLength = FormatPrice(field, values.price);
  AppendFields<kPriceLine>(out, {.recordCode = kPriceRecordCode,
                                 .symbol = values.symbol,
                                 .indexMarker = values.indexMarker,
                                 .price = std::string_view(field, priceLength),
                                 .date = values.formattedDate});
}

std::string VrsticaTecaja(std::string_view symbol, std::string_view indexMarker, double price,
                          std::string_view formattedDate) {
  std::string line;
  line.reserve(200);
  AppendVrsticaTecaja(line, {symbol, indexMarker, price, formattedDate});
  return line;
}

std::string OutputFileName(std::string_view workbookPath) {
  const auto dot = workbookPath.rfind('.');
  std::string path(dot == std::string_view::npos ? workbookPath : workbookPath.substr(0, dot + 1));
  path += "ztr";
  return path;
}

}  // namespace ratemover
