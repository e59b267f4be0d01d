// The short decimal form of a double: the units and places of a decimal whose
// nearest double it is.
#include "common/short_decimal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace ratemover {
namespace {

TEST(ShortDecimal, FewestPlacesThatReadBackAsTheDouble) {
  struct Case {
    double value;
    int maxDecimals;
    std::optional<std::uint64_t> units;
    int decimals;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {4100.88, 6, 410088, 2},
      {12, 6, 12, 0},
      {-0.5, 6, 5, 1},
      {0.1, 15, 1, 1},
      {0.1 + 0.2, 15, std::nullopt, 0},  // 0.30000000000000004: seventeen digits
      {1e-7, 6, std::nullopt, 0},
      {1e-7, 7, 1, 7},
      {123.4567891, 6, std::nullopt, 0},
      {999999999999999.0, 0, 999999999999999u, 0},
      {1e15, 15, std::nullopt, 0},  // sixteen digits
      {0.0, 6, std::nullopt, 0},
      {inf, 6, std::nullopt, 0},
      {std::numeric_limits<double>::quiet_NaN(), 6, std::nullopt, 0},
      {std::numeric_limits<double>::denorm_min(), 15, std::nullopt, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    const auto decimal = ShortDecimalOf(c.value, c.maxDecimals);
    ASSERT_EQ(decimal.has_value(), c.units.has_value());
    if (!decimal) continue;
    EXPECT_EQ(decimal->units, *c.units);
    EXPECT_EQ(decimal->decimals, c.decimals);
  }
}

TEST(ShortDecimal, EveryDecimalOfFifteenDigitsIsFound) {
  std::mt19937_64 random(3);
  for (int i = 0; i < 200000; ++i) {
    const int places = static_cast<int>(random() % 16);
    const std::uint64_t units = random() % 1000000000000000u + 1;
    const double value = static_cast<double>(units) / std::pow(10.0, places);
    const auto decimal = ShortDecimalOf(value, 15);
    ASSERT_TRUE(decimal.has_value()) << units << "e-" << places;
    EXPECT_LE(decimal->decimals, places);
    EXPECT_EQ(static_cast<double>(decimal->units) / std::pow(10.0, decimal->decimals), value);
  }
}

}  // namespace
}  // namespace ratemover
