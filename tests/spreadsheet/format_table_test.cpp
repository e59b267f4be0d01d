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
  for (const FormatRow& row : FormatTable()) {
    EXPECT_NE(row.recognise, nullptr) << row.name;
    EXPECT_NE(row.read, nullptr) << row.name;
    for (const WorkbookFormat format : row.formats) ++rows[format];
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
  ASSERT_EQ(table.back().formats.size(), 1u);
  EXPECT_EQ(table.back().formats.front(), WorkbookFormat::Csv);
}

TEST(FormatTable, SheetSizeByFormat) {
  struct Case {
    std::optional<WorkbookFormat> format;
    std::int32_t rows;
    std::int32_t columns;
  };
  for (const Case& c : {Case{WorkbookFormat::Biff8, 65536, 256}, Case{WorkbookFormat::Biff5, 65536, 256},
                        Case{WorkbookFormat::Biff2, 16384, 256}, Case{WorkbookFormat::Biff4, 16384, 256},
                        Case{WorkbookFormat::Xlsx, 1048576, 16384}, Case{WorkbookFormat::Xlsb, 1048576, 16384},
                        Case{WorkbookFormat::Ods, 1048576, 16384}, Case{WorkbookFormat::Csv, 1048576, 16384},
                        Case{std::nullopt, 1048576, 16384}}) {
    const SheetSize size = SheetSizeOf(c.format);
    const std::string name = c.format ? std::string(ShortNameOf(*c.format)) : "none";
    EXPECT_EQ(size.rows, c.rows) << name;
    EXPECT_EQ(size.columns, c.columns) << name;
  }
}

}  // namespace
}  // namespace ratemover::spreadsheet
