#include "common/short_decimal.h"

#include <cmath>

namespace ratemover {

std::optional<ShortDecimal> ShortDecimalOf(double value, int maxDecimals) {
  constexpr double kPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  constexpr double kFifteenDigits = 1e15;
  const double magnitude = std::fabs(value);
  if (!(magnitude > 0) || !std::isfinite(magnitude)) return std::nullopt;
  for (int decimals = 0; decimals <= maxDecimals && decimals <= 15; ++decimals) {
    const double scaled = std::nearbyint(magnitude * kPowers[decimals]);
    if (scaled >= kFifteenDigits) return std::nullopt;
    // Both the units (below 10^15) and the power of ten are exact doubles, so
    // the quotient is the double nearest to the decimal.
    if (scaled > 0 && scaled / kPowers[decimals] == magnitude) {
      return ShortDecimal{static_cast<std::uint64_t>(scaled), decimals};
    }
  }
  return std::nullopt;
}

}  // namespace ratemover
