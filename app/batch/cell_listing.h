#pragma once
// ratemover-batch --cells: the cells of a workbook's active sheet as the
// transfer reads them from the session, for whoever asks what was read.
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "spreadsheet/session.h"

namespace ratemover::batch {

// A cell's text (Windows-1250) as one line can hold it, in UTF-8: a backslash
// as \\, tab \t, CR \r, LF \n, and any other byte below 0x20 as \x and two
// upper-case hex digits.
std::string EscapedCellText(std::string_view cp1250);

// Opens the workbook through the session and prints "# " and its format, then
// one line for each cell of columns A to Y, rows 1 to rows, whose text is not
// empty: the reference, a tab, and "=" with the text, or "!" alone for a
// read failure. A workbook that cannot be opened (or is missing) gives the
// one line "# cannot be opened: " and the reason. The exit status: 0 when
// the workbook opened, 2 when not.
int ListCells(spreadsheet::Session& session, const std::string& workbookPath, std::int32_t rows, std::ostream& out);

}  // namespace ratemover::batch
