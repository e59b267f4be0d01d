#pragma once
// Dates and times as ISO 8601 writes them in workbooks: "2024-03-05",
// "2024-03-05T14:30:15[.fraction]", a time of day alone "14:30:15". A time
// zone ("Z", "+01:00", "-05:30") may follow; it names where the time was
// taken and does not move the date or the time, which read as written.
#include <optional>
#include <string_view>

namespace ratemover {

struct IsoDateTime {
  int year = 0;
  int month = 0;
  int day = 0;
  double secondsOfDay = 0.0;
};

// A date with an optional time; no value for a date outside the years 1 to
// 9999 or not in the calendar, or for anything around it but white space.
std::optional<IsoDateTime> ParseIsoDateTime(std::string_view text);

// A time of day alone, "14:30:15[.fraction][zone]", as seconds since midnight.
std::optional<double> ParseIsoTimeOfDay(std::string_view text);

}  // namespace ratemover
