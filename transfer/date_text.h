#pragma once
// Reading the rate date from the text of the date cell.
#include <optional>
#include <string_view>

#include "common/regional.h"

namespace ratemover {

struct CalendarDate {
  int day = 0;
  int month = 0;
  int year = 0;
  bool operator==(const CalendarDate&) const = default;
};

// The date that the text names under the regional short-date format, or no
// value. Two-digit years fall in the hundred years that begin 50 years before
// currentYear; a text of two numbers takes currentYear.
std::optional<CalendarDate> ParseDateText(std::string_view text, const RegionalSettings& regional, int currentYear);

// The year of today's date on this machine.
int CurrentYear();

}  // namespace ratemover
