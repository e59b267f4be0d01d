#pragma once
// The bounds of a worksheet, which every reader checks its addresses against,
// and what the readers hold in memory at most.
#include <cstddef>
#include <cstdint>
#include <string>

#include "spreadsheet/open_failure.h"

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

// A cell holds at most this many characters.
inline constexpr std::size_t kMaxCellText = 32767;

// What the rows read may hold in all: more cells or text than any price list
// has makes the workbook one that cannot be opened instead of exhausting
// memory. The cell table (SheetCells) counts and refuses, whichever reader
// stores into it.
inline constexpr std::size_t kMaxCells = 1000000;
inline constexpr std::size_t kMaxTextBytes = 64u << 20;

// A package part, or a file read whole (a bare worksheet stream, a text
// form, an XML document), is refused above this size: the workbook cannot be
// opened, too large.
inline constexpr std::uint64_t kMaxReadBytes = std::uint64_t{256} << 20;

// Throws WorkbookError(TooLarge), naming the part or file and both sizes, when
// `bytes` is above kMaxReadBytes.
inline void CheckReadableSize(const std::string& name, std::uint64_t bytes) {
  if (bytes <= kMaxReadBytes) return;
  throw WorkbookError(OpenFailure::TooLarge, name + ": " + std::to_string(bytes) + " bytes, more than the " +
                                                 std::to_string(kMaxReadBytes) + " bytes (256 MiB) that may be read");
}

}  // namespace ratemover::spreadsheet
