#include "spreadsheet/ods_values.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "common/civil_calendar.h"

namespace ratemover::spreadsheet {

namespace {

// Durations beyond the last day of the year 9999 (in days from 1900) are no time.
constexpr double kMaxDurationDays = 2958466.0;

std::string_view Trimmed(std::string_view text) {
  const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Exactly `count` digits at the front of text, consumed.
std::optional<int> FixedDigits(std::string_view& text, std::size_t count) {
  if (text.size() < count) return std::nullopt;
  int value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (!IsDigit(text[i])) return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  text.remove_prefix(count);
  return value;
}

bool Consume(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

// A run of digits with an optional fraction ("30", "15.25") at the front of
// text, consumed; at most 32 characters.
std::optional<double> DecimalRun(std::string_view& text) {
  std::size_t length = 0;
  while (length < text.size() && IsDigit(text[length])) ++length;
  if (length == 0) return std::nullopt;
  if (length < text.size() && (text[length] == '.' || text[length] == ',')) {
    std::size_t end = length + 1;
    while (end < text.size() && IsDigit(text[end])) ++end;
    if (end == length + 1) return std::nullopt;
    length = end;
  }
  if (length > 32) return std::nullopt;
  char buffer[33];
  text.copy(buffer, length);
  for (std::size_t i = 0; i < length; ++i) {
    if (buffer[i] == ',') buffer[i] = '.';
  }
  double value = 0.0;
  const auto [end, ec] = std::from_chars(buffer, buffer + length, value);
  if (ec != std::errc() || end != buffer + length) return std::nullopt;
  text.remove_prefix(length);
  return value;
}

}  // namespace

std::optional<double> ParseOdfNumber(std::string_view text) {
  text = Trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || !(IsDigit(text.front()) || text.front() == '-' || text.front() == '.')) return std::nullopt;
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<OdfDateTime> ParseOdfDateTime(std::string_view text) {
  text = Trimmed(text);
  OdfDateTime result;
  const auto year = FixedDigits(text, 4);
  if (!year || !Consume(text, '-')) return std::nullopt;
  const auto month = FixedDigits(text, 2);
  if (!month || !Consume(text, '-')) return std::nullopt;
  const auto day = FixedDigits(text, 2);
  if (!day) return std::nullopt;
  if (*year < 1 || *month < 1 || *month > 12 || *day < 1 || *day > DaysInMonth(*year, *month)) return std::nullopt;
  result.year = *year;
  result.month = *month;
  result.day = *day;
  if (Consume(text, 'T')) {
    const auto hours = FixedDigits(text, 2);
    if (!hours || !Consume(text, ':')) return std::nullopt;
    const auto minutes = FixedDigits(text, 2);
    if (!minutes || !Consume(text, ':')) return std::nullopt;
    const auto seconds = FixedDigits(text, 2);
    if (!seconds || *hours > 23 || *minutes > 59 || *seconds > 59) return std::nullopt;
    double fraction = 0.0;
    if (!text.empty() && text.front() == '.') {
      std::string_view digits = text.substr(1);
      std::size_t length = 0;
      while (length < digits.size() && IsDigit(digits[length])) ++length;
      if (length == 0) return std::nullopt;
      double scale = 0.1;
      for (std::size_t i = 0; i < length && i < 12; ++i, scale /= 10) fraction += (digits[i] - '0') * scale;
      text.remove_prefix(1 + length);
    }
    result.secondsOfDay = *hours * 3600.0 + *minutes * 60.0 + *seconds + fraction;
  }
  // A time zone names where the time was taken; the date stays as written.
  if (Consume(text, 'Z')) {
  } else if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    text.remove_prefix(1);
    if (!FixedDigits(text, 2) || !Consume(text, ':') || !FixedDigits(text, 2)) return std::nullopt;
  }
  if (!text.empty()) return std::nullopt;
  return result;
}

std::optional<double> ParseOdfDuration(std::string_view text) {
  text = Trimmed(text);
  const bool negative = Consume(text, '-');
  if (!Consume(text, 'P')) return std::nullopt;
  double days = 0.0;
  bool any = false;
  // Days before the T (years and months have no fixed length: refused).
  if (!text.empty() && text.front() != 'T') {
    const auto value = DecimalRun(text);
    if (!value || !Consume(text, 'D')) return std::nullopt;
    days += *value;
    any = true;
  }
  if (Consume(text, 'T')) {
    static constexpr struct {
      char designator;
      double perDay;
    } kUnits[] = {{'H', 24.0}, {'M', 1440.0}, {'S', 86400.0}};
    std::size_t unit = 0;
    bool anyTime = false;
    while (!text.empty()) {
      const auto value = DecimalRun(text);
      if (!value || text.empty()) return std::nullopt;
      while (unit < 3 && kUnits[unit].designator != text.front()) ++unit;
      if (unit == 3) return std::nullopt;
      days += *value / kUnits[unit].perDay;
      text.remove_prefix(1);
      ++unit;
      anyTime = true;
    }
    if (!anyTime) return std::nullopt;
    any = true;
  }
  if (!any || !text.empty() || !std::isfinite(days) || days > kMaxDurationDays) return std::nullopt;
  return negative ? -days : days;
}

std::optional<bool> ParseOdfBoolean(std::string_view text) {
  text = Trimmed(text);
  if (text == "true" || text == "1") return true;
  if (text == "false" || text == "0") return false;
  return std::nullopt;
}

}  // namespace ratemover::spreadsheet
