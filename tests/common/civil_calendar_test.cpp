#include "common/civil_calendar.h"

#include <gtest/gtest.h>

namespace ratemover {
namespace {

TEST(CivilCalendar, LeapYearsAndMonthLengths) {
  struct Case {
    long year;
    int month;
    int days;
  };
  for (const Case& c : {Case{1900, 2, 28}, Case{2000, 2, 29}, Case{2024, 2, 29}, Case{2023, 2, 28},
                        Case{2100, 2, 28}, Case{1600, 2, 29}, Case{2024, 1, 31}, Case{2024, 4, 30},
                        Case{2024, 12, 31}, Case{9999, 11, 30}}) {
    EXPECT_EQ(DaysInMonth(c.year, c.month), c.days) << c.year << "-" << c.month;
    if (c.month == 2) {
      EXPECT_EQ(IsLeapYear(c.year), c.days == 29) << c.year;
    }
  }
}

// Days from 1970-01-01, checked against dates whose count is known, and the
// way back.
TEST(CivilCalendar, DaysAndDatesAgree) {
  struct Case {
    long year;
    int month;
    int day;
    long days;
  };
  for (const Case& c : {Case{1970, 1, 1, 0}, Case{1969, 12, 31, -1}, Case{1899, 12, 30, -25569},
                        Case{1900, 3, 1, -25508}, Case{2000, 2, 29, 11016}, Case{2000, 3, 1, 11017},
                        Case{2024, 3, 5, 19787}, Case{1904, 1, 1, -24107}, Case{9999, 12, 31, 2932896},
                        Case{1, 1, 1, -719162}}) {
    EXPECT_EQ(DaysFromCivil(c.year, c.month, c.day), c.days) << c.year << "-" << c.month << "-" << c.day;
    const CivilDate date = CivilFromDays(c.days);
    EXPECT_EQ(date.year, c.year) << c.days;
    EXPECT_EQ(date.month, c.month) << c.days;
    EXPECT_EQ(date.day, c.day) << c.days;
  }
}

}  // namespace
}  // namespace ratemover
