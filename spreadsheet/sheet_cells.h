#pragma once
// The cells of the rows read so far of one sheet.
#include <cstdint>
#include <unordered_map>

#include "spreadsheet/cell_value.h"

namespace ratemover::spreadsheet {

class SheetCells {
 public:
  void SetDateSystem(DateSystem system) { dateSystem_ = system; }
  DateSystem GetDateSystem() const { return dateSystem_; }

  // Stores a cell (row and column from 1); a later value for the same cell replaces it.
  void Put(std::int32_t row, std::int32_t column, CellValue value);

  // The stored cell, or nullptr for a cell that holds nothing.
  const CellValue* Find(std::int32_t row, std::int32_t column) const;

  std::size_t Size() const { return cells_.size(); }
  void Clear() { cells_.clear(); }

 private:
  static std::uint64_t Key(std::int32_t row, std::int32_t column) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(row)) << 32) | static_cast<std::uint32_t>(column);
  }
  std::unordered_map<std::uint64_t, CellValue> cells_;
  DateSystem dateSystem_ = DateSystem::Base1900;
};

}  // namespace ratemover::spreadsheet
