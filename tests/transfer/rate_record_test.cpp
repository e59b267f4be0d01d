#include "transfer/rate_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <random>
#include <string>

namespace ratemover {
namespace {

const std::string kDate = "05.03.2024";

// The columns of a price line, counted from 1 as the file layout counts them.
std::string Columns(const std::string& line, std::size_t first, std::size_t last) {
  return line.substr(first - 1, last - first + 1);
}

TEST(RateRecord, FirstPriceLineInFull) {
  const std::string expected =
      " 0020           VPA1                                                                                          "
      "                                12,500000                                 05.03.2024";
  EXPECT_EQ(VrsticaTecaja("VPA1", "", 12.5, kDate), expected);
  EXPECT_EQ(expected.size(), 194u);
}

TEST(RateRecord, DateLine) {
  EXPECT_EQ(VrsticaDatuma(FormattedDate(5, 3, 2024)), " 0002 05.03.2024");
}

struct LineCase {
  const char* symbol;
  const char* marker;
  const char* priceText;
  std::string symbolColumns;
  std::string markerColumns;
  std::string priceColumns;
};

TEST(RateRecord, PriceLinesPutEachValueInItsColumns) {
  const LineCase cases[] = {
      {"VPA1", "", "12.5", "VPA1" + std::string(26, ' '), std::string(10, ' '), "      12,500000"},
      {"OBVEZNICA PRIMER DOLGO IME 2031 SERIJA A", "INDEKS", "1234,5678", "OBVEZNICA PRIMER DOLGO IME 203",
       "INDEKS    ", "    1234,567800"},
      {"  IDX-TEST  ", "INDEKS", "-0.1234567", "IDX-TEST" + std::string(22, ' '), "INDEKS    ", "      -0,123457"},
      {"\t X\xA0 \r\n", "", "1", "X\xA0" + std::string(28, ' '), std::string(10, ' '), "       1,000000"},
      {"VPA\r\nB\t2", "", "1", "VPA  B 2" + std::string(22, ' '), std::string(10, ' '), "       1,000000"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123", "", "1", "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123", std::string(10, ' '),
       "       1,000000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.symbol);
    const std::string line = VrsticaTecaja(c.symbol, c.marker, DveDecimalki(c.priceText).value(), kDate);
    ASSERT_EQ(line.size(), 194u);
    EXPECT_EQ(Columns(line, 1, 16), " 0020           ");
    EXPECT_EQ(Columns(line, 17, 46), c.symbolColumns);
    EXPECT_EQ(Columns(line, 47, 125), std::string(79, ' '));
    EXPECT_EQ(Columns(line, 126, 135), c.markerColumns);
    EXPECT_EQ(Columns(line, 136, 136), " ");
    EXPECT_EQ(Columns(line, 137, 151), c.priceColumns);
    EXPECT_EQ(Columns(line, 152, 184), std::string(33, ' '));
    EXPECT_EQ(Columns(line, 185, 194), kDate);
  }
}

TEST(RateRecord, WidePriceWidensTheLine) {
  const std::string line = VrsticaTecaja("X", "", 123456789, kDate);
  ASSERT_EQ(line.size(), 195u);
  EXPECT_EQ(Columns(line, 137, 152), "123456789,000000");
  EXPECT_EQ(Columns(line, 186, 195), kDate);
}

struct PriceCase {
  double price;
  const char* field;
};

TEST(RateRecord, PriceFieldRoundsHalfAwayFromZeroOnTheDecimalDigits) {
  const PriceCase cases[] = {
      {12.5, "      12,500000"},
      {12, "      12,000000"},
      {4e-7, "       0,000000"},
      {-4e-7, "       0,000000"},
      {-6e-7, "      -0,000001"},
      {-0.0, "       0,000000"},
      {0.0, "       0,000000"},
      {99999999.9999994, "99999999,999999"},
      {99999999.9999996, "100000000,000000"},
      {-9999999.9999996, "-10000000,000000"},
      {123456789, "123456789,000000"},
      {0.1234565, "       0,123456"},  // stored as 0.12345649999999999679...: 18 digits keep it below the half
      {-0.1234565, "      -0,123456"},
      {19138605.3555675, "19138605,355568"},  // stored just below the half; 18 digits make it the half
      {-19138605.3555675, "-19138605,355568"},
      {2.0000005, "       2,000001"},
      {1.0000004999, "       1,000000"},
      {0.5, "       0,500000"},
      {1e15, "1000000000000000,000000"},
      {9.9999995, "       9,999999"}, {9.99999951, "      10,000000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    EXPECT_EQ(PriceField(c.price), c.field);
  }
}

// A price with six decimals or fewer reads as those decimals, wherever it lies
// below 2^32 (printf's exact rounding agrees there); above, a short form can
// hide digits that the rounding of the double's 18 digits brings back.
TEST(RateRecord, PriceFieldOfPricesWithFewDecimals) {
  std::mt19937_64 random(5);
  for (int i = 0; i < 200000; ++i) {
    const int decimals = static_cast<int>(random() % 7);
    const double scale = std::pow(10.0, decimals);
    const auto units = static_cast<double>(random() % static_cast<std::uint64_t>(4294967296.0 * scale));
    const double price = (random() % 2 == 0 ? units : -units) / scale;
    char expected[64];
    std::snprintf(expected, sizeof expected, "%15.6f", price);
    std::string field(expected);
    std::replace(field.begin(), field.end(), '.', ',');
    if (field.find_first_not_of(" -0,") == std::string::npos) field = "       0,000000";  // no sign on zero
    ASSERT_EQ(PriceField(price), field) << expected;
  }
  EXPECT_EQ(PriceField(10403100604.0691), "10403100604,069099");
  EXPECT_EQ(PriceField(-64020012865.588), "-64020012865,587997");
  EXPECT_EQ(PriceField(477315699896917.9), "477315699896917,875000");
}

TEST(RateRecord, PriceFieldKeepsEveryDigitOfAVeryLargePrice) {
  const std::string field = PriceField(1e300);
  EXPECT_EQ(field.size(), 1u + 300 + 1 + 6);
  EXPECT_EQ(field.substr(0, 19), "1000000000000000050");  // the double's digits rounded to 18, then zeros
  EXPECT_EQ(field.substr(field.size() - 7), ",000000");
}

struct NumberCase {
  const char* text;
  double value;
};

TEST(RateRecord, PriceTextsThatAreNumbers) {
  const NumberCase cases[] = {
      {"12.5", 12.5},    {"12,5", 12.5},     {"12", 12},          {"  -3,25  ", -3.25}, {"+7", 7},
      {"", 0},           {"   ", 0},         {"\t\r\n", 0},       {"0", 0},             {"-0", 0},
      {"0.000", 0},      {"4e-7", 4e-7},     {"1,5E+3", 1500},    {",5", 0.5},          {"5,", 5},
      {"-,", 0},         {"1e-500", 0},      {"0.1", 0.1},        {"0001.50", 1.5},
      {"99999999.9999994", 99999999.9999994},
      {"0.30000000000000001665", 0.3},  // just below the midpoint of two doubles
      {"0.3000000000000000166534", 0.30000000000000004},  // just above it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(DveDecimalki(c.text), c.value);
  }
  EXPECT_TRUE(std::signbit(DveDecimalki("-0").value()));
}

// A price text reads as the double nearest its decimal, as from_chars reads
// it: short texts, long ones, with and without an exponent.
TEST(RateRecord, PriceTextsReadAsTheNearestDouble) {
  std::mt19937_64 random(9);
  for (int i = 0; i < 200000; ++i) {
    const int digitCount = 1 + static_cast<int>(random() % (i % 4 == 0 ? 20 : 15));
    std::string digits;
    for (int d = 0; d < digitCount; ++d) digits.push_back(static_cast<char>('0' + random() % 10));
    const std::size_t point = random() % (digits.size() + 1);
    std::string text = digits.substr(0, point) + "," + digits.substr(point);
    if (point == 0) text = "0" + text;
    if (random() % 3 == 0) text += "e" + std::to_string(static_cast<int>(random() % 61) - 30);
    const bool negative = random() % 2 == 0;
    std::string c = text;
    std::replace(c.begin(), c.end(), ',', '.');
    double expected = 0;
    ASSERT_EQ(std::from_chars(c.data(), c.data() + c.size(), expected).ec, std::errc()) << c;
    ASSERT_EQ(DveDecimalki((negative ? "-" : "") + text), negative ? -expected : expected) << text;
  }
}

TEST(RateRecord, PriceTextsThatAreNotNumbers) {
  const char* cases[] = {"1.234,50", "1 234", "abc", "12a", "1e", "1e+", "--1", "+-1", "\t12", "12\t",
                         "1,2,3",    "e5",    "-",   "+",   "0x10", "1e400", "12 %", "\xA0" "5"};
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(DveDecimalki(text), std::nullopt);
  }
}

TEST(RateRecord, FirstWord) {
  const std::pair<const char*, const char*> cases[] = {
      {"5.3.2024 14:30:00", "5.3.2024"}, {"  5.3.2024  ", "5.3.2024"}, {"5. 3. 2024", "5."},
      {"5.3.2024\t10:00", "5.3.2024\t10:00"}, {"", ""}, {" \r\n", ""},
  };
  for (const auto& [text, word] : cases) EXPECT_EQ(PrvaBeseda(text), word) << text;
}

TEST(RateRecord, FormattedDateAddsTwoThousandBelowTheYear2000) {
  EXPECT_EQ(FormattedDate(5, 3, 24), "05.03.2024");
  EXPECT_EQ(FormattedDate(31, 12, 1999), "31.12.3999");
  EXPECT_EQ(FormattedDate(1, 2, 2099), "01.02.2099");
  EXPECT_EQ(FormattedDate(1, 2, 2000), "01.02.2000");
  EXPECT_EQ(FormattedDate(29, 2, 0), "29.02.2000");
}

TEST(RateRecord, OutputFileName) {
  const std::pair<const char*, const char*> cases[] = {
      {"TECAJI_PAPIRJEV.XLS", "TECAJI_PAPIRJEV.ztr"},
      {"D:\\Tecaji\\danes.xls", "D:\\Tecaji\\danes.ztr"},
      {"D:\\Tecaji\\arhiv.2024.xls", "D:\\Tecaji\\arhiv.2024.ztr"},
      {"D:\\Tecaji\\danes", "D:\\Tecaji\\danesztr"},
      {"D:\\Tecaji.2024\\danes", "D:\\Tecaji.ztr"},
      {"D:\\Tecaji\\danes.", "D:\\Tecaji\\danes.ztr"},
      {"", "ztr"},
      {"/home/op/te\xE8" "aji.ods", "/home/op/te\xE8" "aji.ztr"},
  };
  for (const auto& [path, output] : cases) EXPECT_EQ(OutputFileName(path), output) << path;
}

}  // namespace
}  // namespace ratemover
