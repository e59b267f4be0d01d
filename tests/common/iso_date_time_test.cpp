#include "common/iso_date_time.h"

#include <gtest/gtest.h>

namespace ratemover {
namespace {

// The forms the .xlsx, .ods, XML 2003 and text readers meet; a zone never
// moves the date or the time.
TEST(IsoDateTime, ReadsTheDateAndTimeAsWritten) {
  struct Case {
    const char* text;
    bool valid;
    int year, month, day;
    double seconds;
  };
  for (const Case& c : {
           Case{"2024-03-05", true, 2024, 3, 5, 0},
           Case{" 2024-03-05\n", true, 2024, 3, 5, 0},
           Case{"2024-03-05T14:30:15", true, 2024, 3, 5, 52215},
           Case{"2024-03-05T14:30:15.5", true, 2024, 3, 5, 52215.5},
           Case{"2024-03-05T23:30:00Z", true, 2024, 3, 5, 84600},
           Case{"2024-03-05T23:30:00+01:00", true, 2024, 3, 5, 84600},
           Case{"2024-03-05T00:30:00-05:30", true, 2024, 3, 5, 1800},
           Case{"2024-03-05Z", true, 2024, 3, 5, 0},
           Case{"2024-02-29", true, 2024, 2, 29, 0},
           Case{"0001-01-01", true, 1, 1, 1, 0},
           Case{"9999-12-31T23:59:59", true, 9999, 12, 31, 86399},
           Case{"2023-02-29", false, 0, 0, 0, 0},
           Case{"0000-01-01", false, 0, 0, 0, 0},
           Case{"2024-13-01", false, 0, 0, 0, 0},
           Case{"2024-3-5", false, 0, 0, 0, 0},
           Case{"2024-03-05T24:00:00", false, 0, 0, 0, 0},
           Case{"2024-03-05T14:30", false, 0, 0, 0, 0},
           Case{"2024-03-05T14:30:15.", false, 0, 0, 0, 0},
           Case{"2024-03-05T14:30:15+1", false, 0, 0, 0, 0},
           Case{"2024-03-05 x", false, 0, 0, 0, 0},
           Case{"", false, 0, 0, 0, 0},
       }) {
    const auto date = ParseIsoDateTime(c.text);
    ASSERT_EQ(date.has_value(), c.valid) << c.text;
    if (!date) continue;
    EXPECT_EQ(date->year, c.year) << c.text;
    EXPECT_EQ(date->month, c.month) << c.text;
    EXPECT_EQ(date->day, c.day) << c.text;
    EXPECT_DOUBLE_EQ(date->secondsOfDay, c.seconds) << c.text;
  }
}

TEST(IsoDateTime, ReadsATimeOfDayAlone) {
  struct Case {
    const char* text;
    bool valid;
    double seconds;
  };
  for (const Case& c : {Case{"14:30:15", true, 52215}, Case{"00:00:00.25Z", true, 0.25},
                        Case{"23:59:59+02:00", true, 86399}, Case{"14:60:00", false, 0}, Case{"14:30", false, 0},
                        Case{"2024-03-05", false, 0}}) {
    const auto seconds = ParseIsoTimeOfDay(c.text);
    ASSERT_EQ(seconds.has_value(), c.valid) << c.text;
    if (seconds) { EXPECT_DOUBLE_EQ(*seconds, c.seconds) << c.text; }
  }
}

}  // namespace
}  // namespace ratemover
