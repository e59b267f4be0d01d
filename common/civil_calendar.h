#pragma once
// The civil (proleptic Gregorian) calendar: leap years, month lengths, and
// dates counted as days.
namespace ratemover {

bool IsLeapYear(long year);

// The days of the month (1 to 12) in the year.
int DaysInMonth(long year, int month);

struct CivilDate {
  long year;
  int month;
  int day;
};

// Days since 1970-01-01, and back.
long DaysFromCivil(long year, int month, int day);
CivilDate CivilFromDays(long days);

}  // namespace ratemover
