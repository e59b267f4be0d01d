#include "spreadsheet/cell_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

#include "common/civil_calendar.h"
#include "common/short_decimal.h"
#include "common/regional.h"

namespace ratemover::spreadsheet {

namespace {

// A decimal number as digits and the power of ten of its first digit:
// 1234.5 is digits "12345", exponent 3. No leading zeros; zero has no digits.
struct Decimal {
  bool negative = false;
  std::string digits;
  int exponent = 0;
};

// The value rounded to 15 significant digits, half to even on the double's
// exact binary value (the digits printf("%.15g") gives). std::to_chars never
// consults the process locale, which a GUI toolkit may have changed.
//
// Other values may still have a short form: the shortest digits that read
// back as the same double. A normal double lies within half a unit of its last binary
// place of that form, less than half a unit of a 15th significant digit; a
// short form of at most 15 digits is therefore the rounded value itself, found
// without working out the exact binary expansion.
Decimal FifteenDigits(double value) {
  Decimal result;
  if (value == 0.0) return result;  // -0 as well
  char buffer[64];
  // the few decimals a price is typed with, found without formatting
  if (const auto decimal = ShortDecimalOf(value, 15)) {
    result.negative = value < 0;
    const char* const end = std::to_chars(buffer, buffer + sizeof buffer, decimal->units).ptr;
    result.digits.assign(buffer, static_cast<std::size_t>(end - buffer));
    result.digits.resize(15, '0');
    result.exponent = static_cast<int>(end - buffer) - 1 - decimal->decimals;
    return result;
  }
  std::to_chars_result written = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  if (written.ec != std::errc()) return result;
  int shortDigits = 0;
  for (const char* q = buffer; q < written.ptr && *q != 'e'; ++q) shortDigits += *q >= '0' && *q <= '9';
  if (shortDigits > 15 || !std::isnormal(value)) {
    written = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14);
    if (written.ec != std::errc()) return result;
  }
  const char* const end = written.ptr;
  const char* p = buffer;
  if (*p == '-') {
    result.negative = true;
    ++p;
  }
  for (; p < end && *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9') result.digits.push_back(*p);
  }
  result.digits.resize(15, '0');  // the short form's digits, as the rounding gives them
  int exponent = 0;
  if (p < end) std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), end, exponent);
  result.exponent = exponent;
  return result;
}

void StripTrailingZeros(Decimal& number) {
  while (!number.digits.empty() && number.digits.back() == '0') number.digits.pop_back();
  if (number.digits.empty()) number.negative = false;
}

// The decimal rounded to `decimals` places after the separator, half away
// from zero (the digits decide, not the binary value behind them).
Decimal RoundedToDecimals(Decimal number, int decimals) {
  if (number.digits.empty()) return number;
  // Digit i stands for 10^(exponent - i); keep those with exponent - i >= -decimals.
  const long keep = static_cast<long>(number.exponent) + decimals + 1;
  if (keep >= static_cast<long>(number.digits.size())) return number;
  if (keep < 0) return Decimal{};
  const bool roundUp = number.digits[static_cast<std::size_t>(keep)] >= '5';
  number.digits.resize(static_cast<std::size_t>(keep));
  if (roundUp) {
    std::size_t i = number.digits.size();
    while (i > 0 && number.digits[i - 1] == '9') {
      number.digits[i - 1] = '0';
      --i;
    }
    if (i == 0) {
      number.digits.insert(number.digits.begin(), '1');
      ++number.exponent;
    } else {
      ++number.digits[i - 1];
    }
  }
  StripTrailingZeros(number);
  return number;
}

// The general form of a decimal of at most 15 significant digits: plain
// between 0.00001 and 15 integer digits, scientific outside.
std::string GeneralText(Decimal number) {
  StripTrailingZeros(number);
  if (number.digits.empty()) return "0";
  const char separator = Regional().decimalSeparator;
  std::string text;
  if (number.negative) text.push_back('-');
  const int exponent = number.exponent;
  const std::string& digits = number.digits;
  if (exponent < -5 || exponent > 14) {
    text.push_back(digits[0]);
    if (digits.size() > 1) {
      text.push_back(separator);
      text.append(digits, 1);
    }
    text.push_back('E');
    text.push_back(exponent < 0 ? '-' : '+');
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude < 10) text.push_back('0');
    text += std::to_string(magnitude);
    return text;
  }
  if (exponent < 0) {
    text += "0";
    text.push_back(separator);
    text.append(static_cast<std::size_t>(-exponent - 1), '0');
    text += digits;
    return text;
  }
  const std::size_t integerDigits = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= integerDigits) {
    text += digits;
    text.append(integerDigits - digits.size(), '0');
  } else {
    text.append(digits, 0, integerDigits);
    text.push_back(separator);
    text.append(digits, integerDigits);
  }
  return text;
}

void AppendNumber(std::string& out, long value, int width) {
  std::string digits = std::to_string(value);
  if (static_cast<int>(digits.size()) < width) out.append(static_cast<std::size_t>(width) - digits.size(), '0');
  out += digits;
}

// Day 0 of the automation date type, 30.12.1899, counted from 1970-01-01.
const long kAutomationEpoch = DaysFromCivil(1899, 12, 30);
// 31.12.9999, the last day the automation date type and the spreadsheet know.
const long kLastAutomationDay = DaysFromCivil(9999, 12, 31) - DaysFromCivil(1899, 12, 30);
// The 1904 system counts from 1.1.1904, which is automation day 1462.
constexpr long k1904Offset = 1462;

// A date pattern of the regional settings (d, dd, M, MM, yy, yyyy, H, HH, h,
// hh, m, mm, s, ss; anything else literal) filled in.
std::string FormatPattern(const std::string& pattern, const CivilDate& date, long hour, long minute, long second) {
  std::string out;
  std::size_t i = 0;
  while (i < pattern.size()) {
    const char c = pattern[i];
    std::size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == c) ++run;
    const int width = run >= 2 ? 2 : 1;
    switch (c) {
      case 'd': AppendNumber(out, date.day, width); break;
      case 'M': AppendNumber(out, date.month, width); break;
      case 'y':
        if (run >= 3) AppendNumber(out, date.year, 4);
        else AppendNumber(out, date.year % 100, 2);
        break;
      case 'H':
      case 'h': AppendNumber(out, hour, width); break;
      case 'm': AppendNumber(out, minute, width); break;
      case 's': AppendNumber(out, second, width); break;
      default: out.append(run, c); break;
    }
    i += run;
  }
  return out;
}

}  // namespace

std::string GeneralNumberText(double value) {
  // A workbook cannot hold an infinity or a NaN; if one arrives anyway it has
  // no number text (TextOfCell turns it into a read failure first).
  if (!std::isfinite(value)) return std::string();
  return GeneralText(FifteenDigits(value));
}

// The calendar follows what the spreadsheet shows and the automation date
// type can hold:
// - 1900 system: serials 1 to 59 are 1.1.1900 to 28.2.1900, from 61 on a
//   serial is the count of days since 30.12.1899. Serial 60 is the phantom
//   29.2.1900 that the sheet shows but no real calendar has; it reads as
//   "29.2.1900" rather than as a neighbouring real day, so the rate date check
//   rejects it instead of taking a day the operator never saw.
// - 1904 system: serial 0 is 1.1.1904.
// - A value below one day (0 <= serial < 1) is a time of day whatever the
//   system: it reads as the time alone ("0:00:00" for exactly 0), as the
//   automation date type gives its day 0.
// - Anything before its system's first day or after 31.12.9999 is no date
//   the spreadsheet can show: it reads in the general number form.
std::string DateTimeText(double serial, DateSystem system) {
  if (!std::isfinite(serial)) return std::string();
  const double rounded = std::round(serial * 86400.0);
  // Whole seconds since the serial's day 0; a time that rounds to 24:00:00
  // moves to the next day.
  if (serial < 0.0 && system == DateSystem::Base1900) return GeneralNumberText(serial);
  if (std::fabs(rounded) > 1e15) return GeneralNumberText(serial);
  const auto seconds = static_cast<std::int64_t>(rounded);
  std::int64_t serialDay = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  const std::int64_t secondOfDay = seconds - serialDay * 86400;
  const long hour = static_cast<long>(secondOfDay / 3600);
  const long minute = static_cast<long>(secondOfDay / 60 % 60);
  const long second = static_cast<long>(secondOfDay % 60);
  const RegionalSettings& regional = Regional();

  if (serialDay == 0) return FormatPattern(regional.timeFormat, {1899, 12, 30}, hour, minute, second);

  CivilDate date{};
  if (system == DateSystem::Base1900) {
    if (serialDay == 60) {
      date = {1900, 2, 29};
    } else {
      const std::int64_t automationDay = serialDay < 60 ? serialDay + 1 : serialDay;
      if (automationDay > kLastAutomationDay) return GeneralNumberText(serial);
      date = CivilFromDays(kAutomationEpoch + static_cast<long>(automationDay));
    }
  } else {
    const std::int64_t automationDay = serialDay + k1904Offset;
    if (automationDay < 1 || automationDay > kLastAutomationDay) return GeneralNumberText(serial);
    date = CivilFromDays(kAutomationEpoch + static_cast<long>(automationDay));
  }
  std::string text = FormatPattern(regional.shortDateFormat, date, hour, minute, second);
  if (secondOfDay != 0) {
    text.push_back(' ');
    text += FormatPattern(regional.timeFormat, date, hour, minute, second);
  }
  return text;
}

double SerialOfDateTime(int year, int month, int day, double secondsOfDay, DateSystem system) {
  const long automationDay = DaysFromCivil(year, month, day) - kAutomationEpoch;
  double serialDay = 0.0;
  if (system == DateSystem::Base1900) {
    // Up to 28.2.1900 the 1900 system is one day behind the automation date
    // type (it counts the phantom 29.2.1900 later); 30.12.1899 stays day 0, so
    // that a time alone keeps reading as a time.
    serialDay = static_cast<double>(automationDay >= 1 && automationDay <= 60 ? automationDay - 1 : automationDay);
  } else {
    serialDay = static_cast<double>(automationDay - k1904Offset);
  }
  return serialDay + secondsOfDay / 86400.0;
}

CellText TextOfCell(const CellValue& value, DateSystem system) {
  switch (value.kind) {
    case CellValue::Kind::Empty: return std::string();
    case CellValue::Kind::Text: return value.text;
    case CellValue::Kind::Boolean: return std::string(value.boolean ? "True" : "False");
    case CellValue::Kind::Error: return std::nullopt;
    case CellValue::Kind::Number: break;
  }
  if (!std::isfinite(value.number)) return std::nullopt;
  switch (value.style) {
    case NumberStyle::DateTime: return DateTimeText(value.number, system);
    case NumberStyle::Currency:
      // The automation currency type holds four decimals and stops short of
      // 922337203685477.5807; a larger amount keeps its general form.
      if (std::fabs(value.number) < 922337203685477.0) return GeneralText(RoundedToDecimals(FifteenDigits(value.number), 4));
      return GeneralNumberText(value.number);
    case NumberStyle::General: break;
  }
  return GeneralNumberText(value.number);
}

}  // namespace ratemover::spreadsheet
