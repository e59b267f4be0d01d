#include "transfer/date_text.h"

#include <ctime>

#include "common/civil_calendar.h"

namespace ratemover {

namespace {

enum class DateOrder { MonthDayYear, DayMonthYear, YearMonthDay };

// The first of d, m and y (e counting as y) in the short date format decides.
DateOrder OrderOf(std::string_view format) {
  for (char c : format) {
    switch (c) {
      case 'd': case 'D': return DateOrder::DayMonthYear;
      case 'y': case 'Y': case 'e': case 'E': return DateOrder::YearMonthDay;
      case 'm': case 'M': return DateOrder::MonthDayYear;
      default: break;
    }
  }
  return DateOrder::MonthDayYear;
}

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  void SkipBlanks() {
    while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
  }

  // A run of digits after blanks. Reading stops at a non-digit or once the value
  // has reached 1000, so that a stray fifth digit is left over.
  bool Number(int& value, int& digitCount) {
    SkipBlanks();
    value = 0;
    digitCount = 0;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9' && value < 1000) {
      value = value * 10 + (text_[pos_] - '0');
      ++digitCount;
      ++pos_;
    }
    return digitCount > 0;
  }

  // The separator after blanks; consumes nothing when it is not there.
  bool Separator(char separator) {
    const std::size_t saved = pos_;
    SkipBlanks();
    if (pos_ < text_.size() && text_[pos_] == separator) {
      ++pos_;
      return true;
    }
    pos_ = saved;
    return false;
  }

  bool AtEnd() const { return pos_ == text_.size(); }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

std::optional<CalendarDate> ParseDateText(std::string_view text, const RegionalSettings& regional, int currentYear) {
  const DateOrder order = OrderOf(regional.shortDateFormat);
  const char separator = regional.dateSeparator;
  Scanner scan(text);
  int n1 = 0, n2 = 0, n3 = 0;
  int digits1 = 0, digits2 = 0, digits3 = 0;
  if (!scan.Number(n1, digits1) || !scan.Separator(separator) || !scan.Number(n2, digits2)) return std::nullopt;

  CalendarDate date;
  if (scan.Separator(separator)) {
    if (!scan.Number(n3, digits3)) return std::nullopt;
    scan.Separator(separator);  // one further separator may close the date
    int yearDigits = 0;
    switch (order) {
      case DateOrder::DayMonthYear: date = {n1, n2, n3}; yearDigits = digits3; break;
      case DateOrder::YearMonthDay: date = {n3, n2, n1}; yearDigits = digits1; break;
      case DateOrder::MonthDayYear: date = {n2, n1, n3}; yearDigits = digits3; break;
    }
    if (yearDigits <= 2) {
      // a one- or two-digit year falls in the hundred years from 50 years back
      const int centuryBase = currentYear - 50;
      date.year += centuryBase / 100 * 100;
      if (date.year < centuryBase) date.year += 100;
    }
  } else {
    date = order == DateOrder::DayMonthYear ? CalendarDate{n1, n2, currentYear} : CalendarDate{n2, n1, currentYear};
  }
  scan.SkipBlanks();
  if (!scan.AtEnd()) return std::nullopt;

  if (date.year < 1 || date.year > 9999 || date.month < 1 || date.month > 12) return std::nullopt;
  if (date.day < 1 || date.day > DaysInMonth(date.year, date.month)) return std::nullopt;
  return date;
}

int CurrentYear() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local.tm_year + 1900;
}

}  // namespace ratemover
