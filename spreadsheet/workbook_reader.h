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

// The readers of the formats, on an opened container.
bool ReadBiffActiveSheet(GsfInfile* ole, std::int32_t rowLimit, SheetCells& cells);
bool ReadXlsxActiveSheet(GsfInfile* zip, std::int32_t rowLimit, SheetCells& cells);
bool ReadOdsActiveSheet(GsfInfile* zip, std::int32_t rowLimit, SheetCells& cells);
bool ReadXlsbActiveSheet(GsfInfile* zip, std::int32_t rowLimit, SheetCells& cells);

}  // namespace ratemover::spreadsheet
