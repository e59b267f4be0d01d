#include "transfer/date_text.h"

#include <gtest/gtest.h>

#include <optional>

namespace ratemover {
namespace {

constexpr int kYear = 2026;

RegionalSettings WithFormat(const char* format, char separator) {
  RegionalSettings regional;
  regional.shortDateFormat = format;
  regional.dateSeparator = separator;
  return regional;
}

struct DateCase {
  const char* text;
  std::optional<CalendarDate> date;
};

TEST(DateText, DayMonthYearWithPoint) {
  const RegionalSettings regional = WithFormat("d.M.yyyy", '.');
  const DateCase cases[] = {
      {"5.3.2024", CalendarDate{5, 3, 2024}},
      {"05.03.2024", CalendarDate{5, 3, 2024}},
      {"5.3", CalendarDate{5, 3, kYear}},
      {"5.3.24", CalendarDate{5, 3, 2024}},
      {"5.3.0024", CalendarDate{5, 3, 24}},
      {"5.3.024", CalendarDate{5, 3, 24}},
      {"1.1.76", CalendarDate{1, 1, 1976}},
      {"1.1.75", CalendarDate{1, 1, 2075}},
      {"1.1.99", CalendarDate{1, 1, 1999}},
      {"1.1.00", CalendarDate{1, 1, 2000}},
      {"1.1.5", CalendarDate{1, 1, 2005}},
      {"31.12.1999", CalendarDate{31, 12, 1999}},
      {"5.3.2024.", CalendarDate{5, 3, 2024}},
      {"5.3.2024. ", CalendarDate{5, 3, 2024}},
      {" 5 . 3 . 2024 . ", CalendarDate{5, 3, 2024}},
      {"5.3  ", CalendarDate{5, 3, kYear}},
      {"29.2.2024", CalendarDate{29, 2, 2024}},
      {"29.2.2000", CalendarDate{29, 2, 2000}},
      {"1.1.0001", CalendarDate{1, 1, 1}},
      {"31.12.9999", CalendarDate{31, 12, 9999}},
      {"00005.0003.2024", CalendarDate{5, 3, 2024}},
      {"5.3.", std::nullopt},
      {"5.3.2024x", std::nullopt},
      {"5.3.20245", std::nullopt},
      {"5.3.2024..", std::nullopt},
      {"5.3 x", std::nullopt},
      {"5.", std::nullopt},
      {"5", std::nullopt},
      {"", std::nullopt},
      {".5.3", std::nullopt},
      {"5/3/2024", std::nullopt},
      {"5.3.2024\t", std::nullopt},
      {"29.2.2023", std::nullopt},
      {"29.2.1900", std::nullopt},
      {"31.4.2024", std::nullopt},
      {"0.3.2024", std::nullopt},
      {"5.0.2024", std::nullopt},
      {"5.13.2024", std::nullopt},
      {"1.1.0000", std::nullopt},
      {"1.1.000", std::nullopt},
      {"1.1.10000", std::nullopt},
      {"1000.1.2024", std::nullopt},
      {"5.3.-2024", std::nullopt},
      {"2024-03-05", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseDateText(c.text, regional, kYear), c.date);
  }
}

TEST(DateText, OrderFollowsTheFirstLetterOfTheFormat) {
  const struct {
    const char* format;
    char separator;
    const char* text;
    std::optional<CalendarDate> date;
  } cases[] = {
      {"yyyy-MM-dd", '-', "2024-03-05", CalendarDate{5, 3, 2024}},
      {"yy-MM-dd", '-', "24-03-05", CalendarDate{5, 3, 2024}},
      {"yyyy-MM-dd", '-', "03-05", CalendarDate{5, 3, kYear}},  // two numbers are month and day
      {"eeee/M/d", '/', "2024/3/5", CalendarDate{5, 3, 2024}},
      {"M/d/yyyy", '/', "3/5/2024", CalendarDate{5, 3, 2024}},
      {"M/d/yyyy", '/', "3/5", CalendarDate{5, 3, kYear}},
      {"MM/dd/yy", '/', "13/5/2024", std::nullopt},
      {"", '.', "3.5.2024", CalendarDate{5, 3, 2024}},  // no letter: month first
      {"dd.MM.yyyy", '.', "05.03.2024", CalendarDate{5, 3, 2024}},
      {"DD/MM/YYYY", '/', "5/3/2024", CalendarDate{5, 3, 2024}},
      {"DD/MM/YYYY", '/', "5.3.2024", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.format) + " " + c.text);
    EXPECT_EQ(ParseDateText(c.text, WithFormat(c.format, c.separator), kYear), c.date);
  }
}

TEST(DateText, TwoDigitYearWindowMovesWithTheCurrentYear) {
  const RegionalSettings regional = WithFormat("d.M.yyyy", '.');
  const struct {
    int currentYear;
    const char* text;
    int year;
  } cases[] = {
      {2026, "1.1.24", 2024}, {2026, "1.1.76", 1976}, {2026, "1.1.75", 2075},
      {2050, "1.1.00", 2000}, {2050, "1.1.99", 2099}, {2051, "1.1.00", 2100},
      {2000, "1.1.50", 1950}, {2000, "1.1.49", 2049},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto date = ParseDateText(c.text, regional, c.currentYear);
    ASSERT_TRUE(date.has_value());
    EXPECT_EQ(date->year, c.year);
  }
}

TEST(DateText, CurrentYearIsPlausible) {
  EXPECT_GE(CurrentYear(), 2024);
  EXPECT_LE(CurrentYear(), 9999);
}

}  // namespace
}  // namespace ratemover
