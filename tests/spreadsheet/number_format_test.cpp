#include "spreadsheet/number_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ratemover::spreadsheet {
namespace {

const auto kGeneral = NumberStyle::General;
const auto kDate = NumberStyle::DateTime;
const auto kCurrency = NumberStyle::Currency;

TEST(StyleOfBuiltinFormat, DatesCurrenciesAndTheRest) {
  struct Range {
    int first, last;
    NumberStyle style;
  };
  const std::vector<Range> ranges = {
      {0, 4, kGeneral},     // General, 0, 0.00, #,##0, #,##0.00
      {5, 8, kCurrency},    // currency with the locale's symbol
      {9, 13, kGeneral},    // percent, scientific, fractions
      {14, 22, kDate},      // dates, times, date and time
      {27, 36, kDate},      // East Asian dates
      {37, 40, kGeneral},   // accounting without symbol
      {41, 41, kGeneral},   // accounting layout, no symbol
      {42, 42, kCurrency},  // accounting with the currency symbol
      {43, 43, kGeneral},
      {44, 44, kCurrency},
      {45, 47, kDate},  // mm:ss, [h]:mm:ss, mmss.0
      {48, 49, kGeneral},
      {50, 58, kDate},
      {59, 70, kGeneral},
      {71, 81, kDate},
      {164, 200, kGeneral},  // custom ids have no meaning of their own
      {-1, -1, kGeneral},
  };
  for (const auto& range : ranges) {
    for (int id = range.first; id <= range.last; ++id) EXPECT_EQ(StyleOfBuiltinFormat(id), range.style) << id;
  }
}

struct CodeCase {
  const char* code;
  NumberStyle style;
};

TEST(StyleOfFormatCode, CodesOfTheTestWorkbooks) {
  const std::vector<CodeCase> cases = {
      {"General", kGeneral},
      {"DD.MM.YYYY", kDate},
      {"DD\\.MM\\.YYYY HH:MM:SS", kDate},
      {"DD\\.MM\\.YYYY HH:MM", kDate},
      {"HH:MM:SS", kDate},
      {"#,##0.00 [$\xE2\x82\xAC-424]", kCurrency},
      {"0.00%", kGeneral},
      {"YYYY-MM-DD", kDate},
      {"0.00", kGeneral},
      {"0.00\" EUR\"", kGeneral},
      {"D. MMMM YYYY", kDate},
      {"MM/DD/YY", kDate},
      {"#,##0.00", kGeneral},
      {"BOOLEAN", kGeneral},
      {"[$-424]DD.MM.YYYY", kDate},
      {"@", kGeneral},
  };
  for (const auto& c : cases) EXPECT_EQ(StyleOfFormatCode(c.code), c.style) << c.code;
}

TEST(StyleOfFormatCode, LiteralsBracketsAndSections) {
  const std::vector<CodeCase> cases = {
      // date letters in any case; elapsed times in brackets
      {"d/m/yyyy", kDate},
      {"yy", kDate},
      {"h:mm AM/PM", kDate},
      {"[h]:mm:ss", kDate},
      {"[mm]:ss", kDate},
      {"[ss]", kDate},
      {"[HH]", kDate},
      // literal letters never make a date
      {"0.00\" days\"", kGeneral},
      {"0\\d", kGeneral},
      {"0_d", kGeneral},
      {"0*s", kGeneral},
      {"\"ymd\"0", kGeneral},
      {"[Red]0.00", kGeneral},
      {"[>=100]0;0.0", kGeneral},
      {"[$-409]0.00", kGeneral},
      {"[DBNum1]0", kGeneral},
      {"0.00E+00", kGeneral},
      {"# ?/?", kGeneral},
      {"GENERAL", kGeneral},
      {"General;[Red]-General", kGeneral},
      // only the first section decides
      {"0.00;dd.mm.yyyy", kGeneral},
      {"dd.mm.yyyy;0.00", kDate},
      {"0.00;[$\xE2\x82\xAC-424]0.00", kGeneral},
      {"\"a;b\"0;dd", kGeneral},
      // currency symbols outside quotes, in brackets, UTF-8 or Windows-1250
      {"[$$-409]#,##0.00", kCurrency},
      {"$#,##0_);($#,##0)", kCurrency},
      {"#,##0.00 \xE2\x82\xAC", kCurrency},
      {"#,##0.00 \x80", kCurrency},
      {"\xC2\xA3#,##0", kCurrency},
      {"\xC2\xA5#,##0", kCurrency},
      {"[$USD] #,##0.00", kCurrency},
      {"_-* #,##0.00 [$\xE2\x82\xAC-424]_-", kCurrency},
      {"0.00\" \xE2\x82\xAC\"", kGeneral},
      {"0.00\\$", kGeneral},
      {"0.00_$", kGeneral},
      // Windows-1250 letters that are no currency: 0xA3 is Ł, 0xA5 is Ą there
      {"0 \xA3\xA5", kGeneral},
      // a date with a locale wins over nothing; a date with a currency is a date
      {"[$-F800]dddd, mmmm dd, yyyy", kDate},
      {"[$\xE2\x82\xAC-424] dd.mm.yyyy", kDate},
      // broken codes do not crash
      {"\"unterminated", kGeneral},
      {"[unterminated", kGeneral},
      {"0\\", kGeneral},
      {"_", kGeneral},
      {"", kGeneral},
  };
  for (const auto& c : cases) EXPECT_EQ(StyleOfFormatCode(c.code), c.style) << c.code;
}

}  // namespace
}  // namespace ratemover::spreadsheet
