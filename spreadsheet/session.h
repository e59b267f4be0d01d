#pragma once
// The spreadsheet session: the four operations through which the import run
// reaches a workbook. Cells are addressed by 1-based row and column.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "spreadsheet/open_failure.h"
#include "spreadsheet/workbook_format.h"

namespace ratemover::spreadsheet {

// The text of one cell (Windows-1250), or no value when the read fails.
using CellText = std::optional<std::string>;

class Session {
 public:
  virtual ~Session() = default;

  // Makes the session usable; false when it cannot be.
  virtual bool OdpriExcel() = 0;

  // Opens the workbook; a workbook that cannot be opened is replaced, silently,
  // by an empty workbook of one sheet. A failure of that fallback is thrown.
  virtual void OdpriZvezek(const std::string& path, bool show) = 0;

  // The text of a cell of the active sheet, by the cell text rules; no value for
  // a read failure (an error value, a row or column below 1, no open session).
  virtual CellText BeriCelico(std::int32_t row, std::int32_t column) = 0;

  // Closes the session; never fails, may be called with nothing open.
  virtual void ZapriExcel() noexcept = 0;

  // Why the workbook of the last OdpriZvezek could not be opened (the session
  // went on with an empty one), or why rows read after opening could not be
  // read; none when nothing failed. It outlasts ZapriExcel, so that it can be
  // asked after a run. Nothing is shown: the caller decides.
  virtual std::optional<WorkbookError> OpenFailureOf() const { return std::nullopt; }

  // The format of the workbook of the last OdpriZvezek, as the reader that
  // read it recognised it; none when it could not be opened, or when the
  // session does not read workbook files. Like OpenFailureOf, it outlasts
  // ZapriExcel.
  virtual std::optional<WorkbookFormat> FormatOf() const { return std::nullopt; }
};

// A session that reads the workbook file itself (.xls, .xlsx, .ods, recognised
// by content).
std::unique_ptr<Session> MakeWorkbookFileSession();

}  // namespace ratemover::spreadsheet
