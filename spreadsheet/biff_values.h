#pragma once
// Record types and values that every version of the binary .xls stores alike.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "spreadsheet/cell_value.h"

namespace ratemover::spreadsheet {

// Record types.
inline constexpr std::uint16_t kEof = 0x000A;
inline constexpr std::uint16_t kFilepass = 0x002F;
inline constexpr std::uint16_t kCodepage = 0x0042;
inline constexpr std::uint16_t kDatemode = 0x0022;
inline constexpr std::uint16_t kBlank = 0x0201;
inline constexpr std::uint16_t kNumber = 0x0203;
inline constexpr std::uint16_t kLabel = 0x0204;
inline constexpr std::uint16_t kBoolErr = 0x0205;
inline constexpr std::uint16_t kString = 0x0207;
inline constexpr std::uint16_t kArray = 0x0221;
inline constexpr std::uint16_t kTable = 0x0236;
inline constexpr std::uint16_t kRk = 0x027E;

// BOF substream types.
inline constexpr std::uint16_t kWorksheetType = 0x0010;
inline constexpr std::uint16_t kChartType = 0x0020;
inline constexpr std::uint16_t kMacroSheetType = 0x0040;

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

// A number of a cell; one that is no finite number reads as an error.
inline CellValue NumberValue(double value, NumberStyle style) {
  if (!std::isfinite(value)) return CellValue::OfError();
  return CellValue::OfNumber(value, style);
}

}  // namespace ratemover::spreadsheet
