#pragma once
// What the reader tests share: the test workbooks' folder, a workbook opened
// through the session, and one way of showing a cell's text in a failure.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "spreadsheet/cell_text.h"
#include "spreadsheet/session.h"
#include "spreadsheet/sheet_cells.h"
#include "spreadsheet/workbook_reader.h"

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
  return Show(TextOfCell(cells.Find(row, column).value_or(CellValue::Empty()), cells.GetDateSystem()));
}

// A cell's name: "B12" for row 12, column 2.
inline std::string CellName(int row, int column) {
  return std::string(1, static_cast<char>('A' + column - 1)) + std::to_string(row);
}

// Every cell of rows 1 to `rows` (3010 unless told), columns A to Z, as the
// readers give it from a workbook and from LibreOffice's .xlsx of the same
// workbook (both under kWorkbooks): the cells where the two differ, as
// "B1 \"85\" \"84\"".
inline std::vector<std::string> CellsThatDiffer(const std::string& ours, const std::string& libreOffice, int rows = 3010) {
  SheetCells a, b;
  EXPECT_TRUE(ReadActiveSheetFromFile(kWorkbooks + ours, rows, a)) << ours;
  EXPECT_TRUE(ReadActiveSheetFromFile(kWorkbooks + libreOffice, rows, b)) << libreOffice;
  std::vector<std::string> differ;
  for (int row = 1; row <= rows; ++row) {
    for (int column = 1; column <= 26; ++column) {
      const std::string textA = TextAt(a, row, column);
      const std::string textB = TextAt(b, row, column);
      if (textA != textB) differ.push_back(CellName(row, column) + " " + textA + " " + textB);
    }
  }
  return differ;
}

}  // namespace ratemover::spreadsheet::readertest
