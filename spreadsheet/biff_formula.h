#pragma once
// The formulas of a binary sheet: the walk over a BIFF5/BIFF8 formula's
// tokens that tells how long its record must be, and the cached result that a
// formula cell of every version reads as.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "spreadsheet/cell_value.h"

namespace ratemover::spreadsheet::biff {

// A formula's expression: its tokens, then the data that some tokens keep
// after the whole token array (an array constant's values, the rectangles of a
// reference subexpression), in token order. Each token has an exact size,
// which differs between BIFF5 and BIFF8, so a formula record is exactly as
// long as its expression needs. A record whose length damage has changed
// swallows the records after it, or loses its end to them, and shows here.
//
// The bytes that the expression of cce token bytes at p (of `available`
// bytes in all) takes with its extra data; on failure an empty result and the
// reason in fault. An extended token, whose size is not known here, ends the
// walk: the size is then the tokens' declared length alone, and complete is
// false.
std::optional<std::size_t> ExpressionSize(const std::uint8_t* p, std::size_t available, bool biff8, std::size_t cce,
                                          std::string& fault, bool& complete);

// What a formula cell reads as by its cached result (the eight bytes after
// the cell's address and XF): a value, or none when the result is text that
// the STRING record after the formula holds. An empty text is what a
// calculated ="" leaves; where it may be a mere placeholder instead
// (emptyTextIsResult false), it is no result at all and reads as an error.
std::optional<CellValue> CachedResult(const std::uint8_t* result, NumberStyle style, bool emptyTextIsResult);

}  // namespace ratemover::spreadsheet::biff
