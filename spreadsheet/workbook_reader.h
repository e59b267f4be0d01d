#pragma once
// Reading the active sheet of a workbook file, whatever its format.
#include <cstdint>
#include <string>

#include "spreadsheet/sheet_cells.h"

typedef struct _GsfInput GsfInput;
typedef struct _GsfInfile GsfInfile;

namespace ratemover::spreadsheet {

// Reads rows 1 to rowLimit of the active sheet into cells. False when the
// workbook cannot be opened: not a workbook, encrypted, or damaged in what is
// read (a sheet that breaks off before its end or before row rowLimit + 1).
bool ReadActiveSheet(GsfInput* input, std::int32_t rowLimit, SheetCells& cells);

// The workbook file opened for reading; nullptr when it is missing or not a
// regular file (a device or a pipe would never end). The caller owns the
// reference.
GsfInput* OpenWorkbookFile(const std::string& nativePath);
bool ReadActiveSheetFromFile(const std::string& nativePath, std::int32_t rowLimit, SheetCells& cells);

// The readers of the three formats, on an opened container.
bool ReadBiffActiveSheet(GsfInfile* ole, std::int32_t rowLimit, SheetCells& cells);
bool ReadXlsxActiveSheet(GsfInfile* zip, std::int32_t rowLimit, SheetCells& cells);
bool ReadOdsActiveSheet(GsfInfile* zip, std::int32_t rowLimit, SheetCells& cells);

// Excel 2.x to 4.0 worksheets and Excel 4.0 workbooks: a bare record stream
// starting with a BOF record. False when the input does not start so; a
// damaged stream throws WorkbookError.
bool IsBiff234Stream(GsfInput* input);
bool ReadBiff234ActiveSheet(GsfInput* input, std::int32_t rowLimit, SheetCells& cells);

}  // namespace ratemover::spreadsheet
