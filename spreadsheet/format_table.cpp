#include "spreadsheet/format_table.h"

#include <stdexcept>
#include <string>

namespace ratemover::spreadsheet {

// The rows, each defined in its reader's file.
extern const FormatRow kBiffRow;
extern const FormatRow kXlsbRow;
extern const FormatRow kXlsxRow;
extern const FormatRow kOdsRow;
extern const FormatRow kBiff234Row;
extern const FormatRow kXml2003Row;
extern const FormatRow kHtmlRow;
extern const FormatRow kCsvRow;

namespace {

// A binary workbook's package may hold an xl/workbook.xml as well, so its
// row comes before the .xlsx one. Text forms come last, delimited text the
// very last: it claims whatever text is left.
const FormatRow* const kFormats[] = {
    &kBiffRow, &kXlsbRow, &kXlsxRow, &kOdsRow, &kBiff234Row, &kXml2003Row, &kHtmlRow, &kCsvRow,
};

}  // namespace

std::span<const FormatRow* const> FormatTable() { return kFormats; }

const FormatRow& FormatRowNamed(std::string_view name) {
  for (const FormatRow* row : kFormats) {
    if (row->name == name) return *row;
  }
  throw std::out_of_range("no format row named " + std::string(name));
}

}  // namespace ratemover::spreadsheet
