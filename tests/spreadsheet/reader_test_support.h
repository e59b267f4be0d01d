#pragma once
// What the reader tests share: the test workbooks' folder, a workbook opened
// through the session, and one way of showing a cell's text in a failure.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "spreadsheet/cell_text.h"
#include "spreadsheet/session.h"
#include "spreadsheet/sheet_cells.h"

namespace ratemover::spreadsheet::readertest {

inline const std::string kWorkbooks = std::string(RATEMOVER_TEST_DATA) + "/workbooks/";

// A workbook opened through the session, closed again at the end of the scope.
struct OpenedWorkbook {
  std::unique_ptr<Session> session = MakeWorkbookFileSession();
  explicit OpenedWorkbook(const std::string& path) {
    EXPECT_TRUE(session->OdpriExcel());
    session->OdpriZvezek(path, false);
  }
  ~OpenedWorkbook() { session->ZapriExcel(); }
  CellText Cell(std::int32_t row, std::int32_t column) { return session->BeriCelico(row, column); }
};

// A cell's text in quotes, told apart from a read failure.
inline std::string Show(const CellText& text) { return text ? "\"" + *text + "\"" : "<read failure>"; }

// A stored cell's text as Show gives it; an empty text for a cell not stored.
inline std::string TextAt(const SheetCells& cells, int row, int column) {
  const CellValue* value = cells.Find(row, column);
  return Show(TextOfCell(value != nullptr ? *value : CellValue::Empty(), cells.GetDateSystem()));
}

}  // namespace ratemover::spreadsheet::readertest
