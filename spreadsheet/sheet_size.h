#pragma once
// The bounds of a worksheet: the rows and columns the largest sheet has, which
// every reader checks its addresses against.
#include <cstdint>

namespace ratemover::spreadsheet {

inline constexpr std::int32_t kMaxRows = 1048576;
inline constexpr std::int32_t kMaxColumns = 16384;

// The rows and columns of a sheet: cells beyond them are outside the sheet.
struct SheetSize {
  std::int32_t rows;
  std::int32_t columns;
};

// The sheet of an .xlsx, an .ods and every form without a size of its own; the
// empty workbook that stands in for one that cannot be opened has it too.
inline constexpr SheetSize kLargeSheet{kMaxRows, kMaxColumns};

}  // namespace ratemover::spreadsheet
