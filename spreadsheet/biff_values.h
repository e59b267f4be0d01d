#pragma once
// Values that every version of the binary .xls records stores alike.
#include <cstdint>
#include <cstring>

namespace ratemover::spreadsheet {

// An RK number: a 30-bit integer or the high 30 bits of a double, divided by
// 100 when the lowest bit says so.
inline double RkValue(std::uint32_t rk) {
  double value;
  if ((rk & 0x02) != 0) {
    value = static_cast<double>(static_cast<std::int32_t>(rk) >> 2);
  } else {
    const std::uint64_t bits = static_cast<std::uint64_t>(rk & 0xFFFFFFFCu) << 32;
    std::memcpy(&value, &bits, sizeof value);
  }
  return (rk & 0x01) != 0 ? value / 100.0 : value;
}

}  // namespace ratemover::spreadsheet
