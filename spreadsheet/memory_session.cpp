#include "spreadsheet/memory_session.h"

namespace ratemover::spreadsheet {

void MemorySession::SetCell(std::int32_t row, std::int32_t column, CellText text) {
  cells_[Key(row, column)] = std::move(text);
}

bool MemorySession::OdpriExcel() {
  if (unavailable_) return false;
  open_ = true;
  return true;
}

void MemorySession::OdpriZvezek(const std::string& path, bool) { openedPath_ = path; }

CellText MemorySession::BeriCelico(std::int32_t row, std::int32_t column) {
  reads_.emplace_back(row, column);
  if (!open_ || row < 1 || column < 1) return std::nullopt;
  const auto it = cells_.find(Key(row, column));
  return it == cells_.end() ? CellText(std::string()) : it->second;
}

void MemorySession::ZapriExcel() noexcept {
  open_ = false;
  ++zapriCount_;
}

}  // namespace ratemover::spreadsheet
