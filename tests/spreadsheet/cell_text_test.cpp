#include "spreadsheet/cell_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <random>
#include <limits>
#include <string>
#include <vector>

namespace ratemover::spreadsheet {
namespace {

struct NumberCase {
  double value;
  const char* text;
};

TEST(GeneralNumberText, FifteenDigitsRegionalSeparatorNoTrailingZeros) {
  const std::vector<NumberCase> cases = {
      {0.0, "0"},
      {-0.0, "0"},
      {42.0, "42"},
      {-7.0, "-7"},
      {12.5, "12,5"},
      {-0.1234567, "-0,1234567"},
      {123456789.0, "123456789"},
      {2147483648.0, "2147483648"},
      {3.14159, "3,14159"},
      {1234.5678, "1234,5678"},
      {0.1 + 0.2, "0,3"},
      {1.0 / 3.0, "0,333333333333333"},
      {2.0 / 3.0, "0,666666666666667"},
      {-2.0 / 3.0, "-0,666666666666667"},
      {100.0, "100"},
      {1e14, "100000000000000"},
      {999999999999999.0, "999999999999999"},
      {123456.000001, "123456,000001"},
      {0.00001, "0,00001"},
      {0.000012345, "0,000012345"},
      {0.1, "0,1"},
  };
  for (const auto& c : cases) EXPECT_EQ(GeneralNumberText(c.value), c.text) << c.value;
}

TEST(GeneralNumberText, ScientificBelowOneHundredThousandthAndBeyondFifteenIntegerDigits) {
  const std::vector<NumberCase> cases = {
      {4e-7, "4E-07"},
      {1.5e-7, "1,5E-07"},
      {-1.5e-7, "-1,5E-07"},
      {0.0000099, "9,9E-06"},
      {1.23e-100, "1,23E-100"},
      {1e20, "1E+20"},
      {1e100, "1E+100"},
      {-2.5e30, "-2,5E+30"},
      {1e15, "1E+15"},
      {123456789012345678.0, "1,23456789012346E+17"},
      // rounds up to sixteen integer digits
      {999999999999999.9, "1E+15"},
      // rounds up to 0.00001 exactly, which is no longer below the limit
      {0.000009999999999999995, "0,00001"},
      {0.00000999999999999999, "9,99999999999999E-06"},
  };
  for (const auto& c : cases) EXPECT_EQ(GeneralNumberText(c.value), c.text) << c.value;
}

TEST(GeneralNumberText, RoundsHalfToEvenOnTheExactValue) {
  // Sixteen-digit whole numbers are exact doubles; the sixteenth digit is a
  // tie that goes to the even fifteenth digit.
  EXPECT_EQ(GeneralNumberText(1000000000000005.0), "1E+15");
  EXPECT_EQ(GeneralNumberText(1000000000000015.0), "1,00000000000002E+15");
  EXPECT_EQ(GeneralNumberText(1000000000000025.0), "1,00000000000002E+15");
  EXPECT_EQ(GeneralNumberText(1000000000000026.0), "1,00000000000003E+15");
  // 0.30000000000000004 and 0.1 + 0.7 = 0.7999999999999999 both keep 15 digits
  EXPECT_EQ(GeneralNumberText(0.1 + 0.7), "0,8");
}

// A value reads as its rounding to 15 significant digits, whether the digits
// come from its exact expansion or from its shortest form: the rounding,
// read back as a double of its own, gives the same text.
TEST(GeneralNumberText, AValueReadsAsItsFifteenDigitRounding) {
  std::mt19937_64 random(11);
  std::vector<double> values;
  for (int i = 0; i < 100000; ++i) values.push_back(std::bit_cast<double>(random()));  // every magnitude
  for (int i = 0; i < 100000; ++i) {
    // sixteen and seventeen digits around the magnitudes of prices
    const auto digits = static_cast<double>(random() % 100000000000000000ull);
    values.push_back(digits * std::pow(10.0, static_cast<int>(random() % 40) - 30));
  }
  for (int i = 0; i < 20000; ++i) values.push_back(static_cast<double>(random() % 100000000) / 100.0);
  int compared = 0;
  for (const double value : values) {
    if (!std::isnormal(value)) continue;
    char buffer[64];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 14);
    double rounded = 0;
    const auto read = std::from_chars(buffer, written.ptr, rounded);
    if (read.ec != std::errc() || !std::isnormal(rounded)) continue;
    ASSERT_EQ(GeneralNumberText(value), GeneralNumberText(rounded)) << std::string(buffer, written.ptr);
    ++compared;
  }
  EXPECT_GT(compared, 200000);
  // the smallest subnormal's shortest form is a single digit, its expansion is not
  EXPECT_EQ(GeneralNumberText(std::numeric_limits<double>::denorm_min()), "4,94065645841247E-324");
}

TEST(GeneralNumberText, NonFiniteGivesNoDigits) {
  EXPECT_EQ(GeneralNumberText(std::numeric_limits<double>::infinity()), "");
  EXPECT_EQ(GeneralNumberText(-std::numeric_limits<double>::infinity()), "");
  EXPECT_EQ(GeneralNumberText(std::numeric_limits<double>::quiet_NaN()), "");
}

struct DateCase {
  double serial;
  DateSystem system;
  const char* text;
};

TEST(DateTimeText, CalendarOfBothSystems) {
  const auto k1900 = DateSystem::Base1900;
  const auto k1904 = DateSystem::Base1904;
  const std::vector<DateCase> cases = {
      {45356.0, k1900, "5.3.2024"},
      {45356.6043402778, k1900, "5.3.2024 14:30:15"},
      {45357.0, k1900, "6.3.2024"},
      {36525.0, k1900, "31.12.1999"},
      {1.0, k1900, "1.1.1900"},
      {15.0, k1900, "15.1.1900"},
      {59.0, k1900, "28.2.1900"},
      {60.0, k1900, "29.2.1900"},
      {61.0, k1900, "1.3.1900"},
      {2958465.0, k1900, "31.12.9999"},
      {2958465.5, k1900, "31.12.9999 12:00:00"},
      {43894.0, k1904, "5.3.2024"},
      {43894.6043402778, k1904, "5.3.2024 14:30:15"},
      {35063.0, k1904, "31.12.1999"},
      {1.0, k1904, "2.1.1904"},
      {-1446.0, k1904, "15.1.1900"},
      {2957003.0, k1904, "31.12.9999"},
  };
  for (const auto& c : cases) EXPECT_EQ(DateTimeText(c.serial, c.system), c.text) << c.serial;
}

TEST(DateTimeText, TimeOfDayRoundsToTheNearestSecond) {
  const auto k1900 = DateSystem::Base1900;
  const std::vector<DateCase> cases = {
      {45356.0 + 0.4 / 86400, k1900, "5.3.2024"},
      {45356.0 + 0.6 / 86400, k1900, "5.3.2024 0:00:01"},
      {45356.0 + 86399.4 / 86400, k1900, "5.3.2024 23:59:59"},
      // a time that rounds to 24:00:00 belongs to the next day
      {45356.0 + 86399.7 / 86400, k1900, "6.3.2024"},
      {45356.0 + 9 * 3600.0 / 86400 + 5.0 / 86400, k1900, "5.3.2024 9:00:05"},
      {59.0 + 86399.7 / 86400, k1900, "29.2.1900"},
  };
  for (const auto& c : cases) EXPECT_EQ(DateTimeText(c.serial, c.system), c.text) << c.serial;
}

TEST(DateTimeText, ValueBelowOneDayIsTheTimeAloneInBothSystems) {
  for (const auto system : {DateSystem::Base1900, DateSystem::Base1904}) {
    EXPECT_EQ(DateTimeText(0.604166666666667, system), "14:30:00");
    EXPECT_EQ(DateTimeText(0.0, system), "0:00:00");
    EXPECT_EQ(DateTimeText(0.5, system), "12:00:00");
  }
}

TEST(DateTimeText, NoDateTheSpreadsheetCanShowReadsAsNumber) {
  EXPECT_EQ(DateTimeText(-1.0, DateSystem::Base1900), "-1");
  EXPECT_EQ(DateTimeText(-0.25, DateSystem::Base1900), "-0,25");
  EXPECT_EQ(DateTimeText(2958466.0, DateSystem::Base1900), "2958466");
  EXPECT_EQ(DateTimeText(1e20, DateSystem::Base1900), "1E+20");
  EXPECT_EQ(DateTimeText(2957004.0, DateSystem::Base1904), "2957004");
  EXPECT_EQ(DateTimeText(-1e20, DateSystem::Base1904), "-1E+20");
  EXPECT_EQ(DateTimeText(std::numeric_limits<double>::quiet_NaN(), DateSystem::Base1904), "");
}

TEST(SerialOfDateTime, GivesTheSerialThatReadsBack) {
  struct Case {
    int year, month, day;
    double seconds;
    DateSystem system;
    double serial;
  };
  const auto k1900 = DateSystem::Base1900;
  const auto k1904 = DateSystem::Base1904;
  const std::vector<Case> cases = {
      {2024, 3, 5, 0, k1900, 45356.0},
      {1900, 1, 1, 0, k1900, 1.0},
      {1900, 1, 15, 0, k1900, 15.0},
      {1900, 2, 28, 0, k1900, 59.0},
      {1900, 3, 1, 0, k1900, 61.0},
      {1899, 12, 30, 52200, k1900, 52200.0 / 86400},
      {2024, 3, 5, 0, k1904, 43894.0},
      {1904, 1, 1, 0, k1904, 0.0},
      {1900, 1, 15, 0, k1904, -1446.0},
  };
  for (const auto& c : cases) {
    const double serial = SerialOfDateTime(c.year, c.month, c.day, c.seconds, c.system);
    EXPECT_DOUBLE_EQ(serial, c.serial) << c.year << "-" << c.month << "-" << c.day;
  }
  const double afternoon = SerialOfDateTime(2024, 3, 5, 14 * 3600 + 30 * 60 + 15, k1904);
  EXPECT_EQ(DateTimeText(afternoon, k1904), "5.3.2024 14:30:15");
  const double lastSecond = SerialOfDateTime(1999, 12, 31, 86399, k1900);
  EXPECT_EQ(DateTimeText(lastSecond, k1900), "31.12.1999 23:59:59");
}

TEST(TextOfCell, EachKindOfCell) {
  const auto k1900 = DateSystem::Base1900;
  EXPECT_EQ(TextOfCell(CellValue::Empty(), k1900), std::string());
  EXPECT_EQ(TextOfCell(CellValue::OfText("  ABC  "), k1900), "  ABC  ");
  EXPECT_EQ(TextOfCell(CellValue::OfText("\xE8\x9A\x9E"), k1900), "\xE8\x9A\x9E");
  EXPECT_EQ(TextOfCell(CellValue::OfText(""), k1900), "");
  EXPECT_EQ(TextOfCell(CellValue::OfBoolean(true), k1900), "True");
  EXPECT_EQ(TextOfCell(CellValue::OfBoolean(false), k1900), "False");
  EXPECT_EQ(TextOfCell(CellValue::OfError(), k1900), std::nullopt);
  EXPECT_EQ(TextOfCell(CellValue::OfNumber(12.5), k1900), "12,5");
  EXPECT_EQ(TextOfCell(CellValue::OfNumber(45356.0, NumberStyle::DateTime), k1900), "5.3.2024");
  EXPECT_EQ(TextOfCell(CellValue::OfNumber(43894.0, NumberStyle::DateTime), DateSystem::Base1904), "5.3.2024");
  // the date system only matters to dates
  EXPECT_EQ(TextOfCell(CellValue::OfNumber(43894.0), DateSystem::Base1904), "43894");
}

TEST(TextOfCell, NonFiniteNumberIsAReadFailure) {
  for (const auto style : {NumberStyle::General, NumberStyle::DateTime, NumberStyle::Currency}) {
    EXPECT_EQ(TextOfCell(CellValue::OfNumber(std::numeric_limits<double>::infinity(), style), DateSystem::Base1900),
              std::nullopt);
    EXPECT_EQ(TextOfCell(CellValue::OfNumber(std::nan(""), style), DateSystem::Base1900), std::nullopt);
  }
}

TEST(TextOfCell, CurrencyRoundsToFourDecimalsHalfAwayFromZeroOnTheDigits) {
  const std::vector<NumberCase> cases = {
      {1234.56, "1234,56"},
      {12.0, "12"},
      {1.23456, "1,2346"},
      {1.23454, "1,2345"},
      // 1.23455 is 1.2345499999... in binary; its digits decide
      {1.23455, "1,2346"},
      {-1.23455, "-1,2346"},
      {1.00005, "1,0001"},
      {9.99995, "10"},
      {-9.99995, "-10"},
      {0.00005, "0,0001"},
      {0.00004, "0"},
      {-0.00004, "0"},
      {0.0, "0"},
      {123456789012.34567, "123456789012,346"},
      {1e15, "1E+15"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TextOfCell(CellValue::OfNumber(c.value, NumberStyle::Currency), DateSystem::Base1900), c.text) << c.value;
  }
}

}  // namespace
}  // namespace ratemover::spreadsheet
