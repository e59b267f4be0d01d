#include "spreadsheet/format_table.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace ratemover::spreadsheet {
namespace {

constexpr WorkbookFormat kEveryFormat[] = {
    WorkbookFormat::Biff2, WorkbookFormat::Biff3, WorkbookFormat::Biff4, WorkbookFormat::Biff5,
    WorkbookFormat::Biff8, WorkbookFormat::Xlsx,  WorkbookFormat::Xlsb,  WorkbookFormat::Ods,
    WorkbookFormat::Xml2003, WorkbookFormat::Html, WorkbookFormat::Csv};

// Each format a reader reports belongs to one row: a format without a row
// would be read by no one and sized by guess.
TEST(FormatTable, EveryFormatHasExactlyOneRow) {
  std::map<WorkbookFormat, int> rows;
  for (const FormatRow* row : FormatTable()) {
    ASSERT_NE(row, nullptr);
    EXPECT_NE(row->recognise, nullptr) << row->name;
    EXPECT_NE(row->read, nullptr) << row->name;
    for (const WorkbookFormat format : row->formats) ++rows[format];
  }
  for (const WorkbookFormat format : kEveryFormat) {
    EXPECT_EQ(rows[format], 1) << ShortNameOf(format);
  }
  EXPECT_EQ(rows.size(), std::size(kEveryFormat));
}

// Delimited text claims whatever text is left, so a row after it would never
// be tried.
TEST(FormatTable, DelimitedTextIsTriedLast) {
  const auto table = FormatTable();
  ASSERT_FALSE(table.empty());
  ASSERT_EQ(table.back()->formats.size(), 1u);
  EXPECT_EQ(table.back()->formats.front(), WorkbookFormat::Csv);
}

// The size of the sheets of the row that reads the format.
SheetSize SizeOf(WorkbookFormat format) {
  for (const FormatRow* row : FormatTable()) {
    for (const WorkbookFormat reported : row->formats) {
      if (reported == format) return row->size;
    }
  }
  ADD_FAILURE() << "no row reads " << ShortNameOf(format);
  return kLargeSheet;
}

TEST(FormatTable, SheetSizeByFormat) {
  struct Case {
    WorkbookFormat format;
    std::int32_t rows;
    std::int32_t columns;
  };
  for (const Case& c : {Case{WorkbookFormat::Biff8, 65536, 256}, Case{WorkbookFormat::Biff5, 65536, 256},
                        Case{WorkbookFormat::Biff2, 16384, 256}, Case{WorkbookFormat::Biff4, 16384, 256},
                        Case{WorkbookFormat::Xlsx, 1048576, 16384}, Case{WorkbookFormat::Xlsb, 1048576, 16384},
                        Case{WorkbookFormat::Ods, 1048576, 16384}, Case{WorkbookFormat::Csv, 1048576, 16384},
                        Case{WorkbookFormat::Html, 1048576, 16384}}) {
    const SheetSize size = SizeOf(c.format);
    const std::string name(ShortNameOf(c.format));
    EXPECT_EQ(size.rows, c.rows) << name;
    EXPECT_EQ(size.columns, c.columns) << name;
  }
}

}  // namespace
}  // namespace ratemover::spreadsheet
