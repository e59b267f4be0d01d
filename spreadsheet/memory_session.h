#pragma once
// A session over a sheet held in memory: the import run's tests and benchmark
// drive the run through it.
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "spreadsheet/session.h"

namespace ratemover::spreadsheet {

class MemorySession : public Session {
 public:
  // Cells not set read as empty text; a cell set to no value is a read failure.
  void SetCell(std::int32_t row, std::int32_t column, CellText text);

  // Makes OdpriExcel fail, as on a machine without a spreadsheet reader.
  void SetUnavailable(bool unavailable) { unavailable_ = unavailable; }

  bool OdpriExcel() override;
  void OdpriZvezek(const std::string& path, bool show) override;
  CellText BeriCelico(std::int32_t row, std::int32_t column) override;
  void ZapriExcel() noexcept override;

  bool IsOpen() const { return open_; }
  const std::string& OpenedPath() const { return openedPath_; }
  // Every cell read, in order, as (row, column).
  const std::vector<std::pair<std::int32_t, std::int32_t>>& Reads() const { return reads_; }
  int ZapriCount() const { return zapriCount_; }
  void ClearReads() { reads_.clear(); }

 private:
  static std::uint64_t Key(std::int32_t row, std::int32_t column) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(row)) << 32) | static_cast<std::uint32_t>(column);
  }
  // hashed, so that the sheet costs the benchmarked run little per read
  std::unordered_map<std::uint64_t, CellText> cells_;
  std::vector<std::pair<std::int32_t, std::int32_t>> reads_;
  std::string openedPath_;
  bool unavailable_ = false;
  bool open_ = false;
  int zapriCount_ = 0;
};

}  // namespace ratemover::spreadsheet
