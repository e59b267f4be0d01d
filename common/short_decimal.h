#pragma once
// The few decimals that most numbers of a price list are typed with.
#include <cstdint>
#include <optional>

namespace ratemover {

// A decimal units * 10^-decimals, units at least 0.
struct ShortDecimal {
  std::uint64_t units = 0;
  int decimals = 0;
};

// A decimal of at most `maxDecimals` places (0 to 15) and at most 15
// significant digits whose nearest double is |value|, when there is one
// (found by trying the places in turn); none for 0, a non-finite value, or
// one that needs more. Such a decimal lies within half a unit of the
// double's last binary place: rounding |value| to any grid that holds the
// decimal and whose half step is wider than that gives the decimal itself.
std::optional<ShortDecimal> ShortDecimalOf(double value, int maxDecimals);

}  // namespace ratemover
