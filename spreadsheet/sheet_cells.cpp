#include "spreadsheet/sheet_cells.h"

#include <utility>

namespace ratemover::spreadsheet {

void SheetCells::Put(std::int32_t row, std::int32_t column, CellValue value) {
  if (value.kind == CellValue::Kind::Empty) {
    cells_.erase(Key(row, column));
    return;
  }
  cells_[Key(row, column)] = std::move(value);
}

const CellValue* SheetCells::Find(std::int32_t row, std::int32_t column) const {
  const auto it = cells_.find(Key(row, column));
  return it == cells_.end() ? nullptr : &it->second;
}

}  // namespace ratemover::spreadsheet
