#include "spreadsheet/ods_values.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "spreadsheet/xml_text.h"

namespace ratemover::spreadsheet {

namespace {

// Durations beyond the last day of the year 9999 (in days from 1900) are no time.
constexpr double kMaxDurationDays = 2958466.0;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

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
  text = TrimXmlSpace(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || !(IsDigit(text.front()) || text.front() == '-' || text.front() == '.')) return std::nullopt;
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<double> ParseOdfDuration(std::string_view text) {
  text = TrimXmlSpace(text);
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
  text = TrimXmlSpace(text);
  if (text == "true" || text == "1") return true;
  if (text == "false" || text == "0") return false;
  return std::nullopt;
}

}  // namespace ratemover::spreadsheet
