#include "common/iso_date_time.h"

#include "common/civil_calendar.h"

namespace ratemover {

namespace {

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

// "hh:mm:ss[.fraction]" at the front of text, consumed.
std::optional<double> TimeOfDay(std::string_view& text) {
  const auto hours = FixedDigits(text, 2);
  if (!hours || !Consume(text, ':')) return std::nullopt;
  const auto minutes = FixedDigits(text, 2);
  if (!minutes || !Consume(text, ':')) return std::nullopt;
  const auto seconds = FixedDigits(text, 2);
  if (!seconds || *hours > 23 || *minutes > 59 || *seconds > 59) return std::nullopt;
  double fraction = 0.0;
  if (Consume(text, '.')) {
    std::size_t length = 0;
    while (length < text.size() && IsDigit(text[length])) ++length;
    if (length == 0) return std::nullopt;
    // digits past the twelfth are below what a double holds of a day
    double scale = 0.1;
    for (std::size_t i = 0; i < length && i < 12; ++i, scale /= 10) fraction += (text[i] - '0') * scale;
    text.remove_prefix(length);
  }
  return *hours * 3600.0 + *minutes * 60.0 + *seconds + fraction;
}

// The time zone, if any, and then the end of the text.
bool ZoneThenEnd(std::string_view text) {
  if (Consume(text, 'Z')) {
  } else if (Consume(text, '+') || Consume(text, '-')) {
    if (!FixedDigits(text, 2) || !Consume(text, ':') || !FixedDigits(text, 2)) return false;
  }
  return text.empty();
}

}  // namespace

std::optional<IsoDateTime> ParseIsoDateTime(std::string_view text) {
  text = Trimmed(text);
  IsoDateTime result;
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
    const auto seconds = TimeOfDay(text);
    if (!seconds) return std::nullopt;
    result.secondsOfDay = *seconds;
  }
  if (!ZoneThenEnd(text)) return std::nullopt;
  return result;
}

std::optional<double> ParseIsoTimeOfDay(std::string_view text) {
  text = Trimmed(text);
  const auto seconds = TimeOfDay(text);
  if (!seconds || !ZoneThenEnd(text)) return std::nullopt;
  return seconds;
}

}  // namespace ratemover
