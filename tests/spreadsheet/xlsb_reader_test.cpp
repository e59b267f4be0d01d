// The .xlsb reader through the public interfaces: the file session for the
// workbooks that SheetJS wrote, ReadActiveSheetFromFile for packages built
// here record by record, and the reader itself where the reason for a refusal
// matters.
#include <gsf/gsf.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "spreadsheet/cell_text.h"
#include "spreadsheet/open_failure.h"
#include "spreadsheet/session.h"
#include "spreadsheet/workbook_reader.h"
#include "tests/spreadsheet/reader_test_support.h"
#include "tests/spreadsheet/catalogue.h"
#include "tests/support/zip_writer.h"

namespace ratemover::spreadsheet {
namespace {

using readertest::kWorkbooks;
using readertest::OpenedWorkbook;
using readertest::Show;
using readertest::TextAt;

// Why the reader refuses a package: "" when it reads it.
std::string Refusal(const std::string& path, std::int32_t rowLimit = 3000) {
  SheetCells cells;
  const SheetRead read = ReadActiveSheetFromFile(path, rowLimit, cells);
  return read.failure ? read.failure->what() : "";
}

// --- the workbooks that SheetJS wrote from the LibreOffice catalogue ---

class XlsbCatalogue : public testing::TestWithParam<const char*> {};

TEST_P(XlsbCatalogue, EveryCellOfColumnBReadsAsTheApplicationShowsIt) {
  SheetCells cells;
  ASSERT_TRUE(ReadActiveSheetFromFile(kWorkbooks + GetParam(), 3000, cells));
  OpenedWorkbook book(kWorkbooks + GetParam());
  for (const auto& cell : testdata::TipiColumnB()) {
    const std::optional<std::string> expected =
        cell.row == 34 ? testdata::Row34Text(cells.GetDateSystem() == DateSystem::Base1900) : cell.text;
    EXPECT_EQ(Show(book.Cell(cell.row, 2)), Show(expected)) << GetParam() << " B" << cell.row << " " << cell.label;
  }
  // The active sheet is "Tipi", the second one.
  EXPECT_EQ(Show(book.Cell(1, 1)), Show(std::string("label")));
  EXPECT_EQ(Show(book.Cell(1, 25)), Show(std::string("colY")));
  EXPECT_EQ(Show(book.Cell(1, 26)), Show(std::string("colZ")));
  EXPECT_EQ(Show(book.Cell(2, 1)), Show(std::string("text_slovene")));
  EXPECT_EQ(Show(book.Cell(46, 2)), Show(std::string("")));
}

// types.xlsb keeps its strings in the shared strings part, types1904.xlsb in the cells.
INSTANTIATE_TEST_SUITE_P(SheetJS, XlsbCatalogue, testing::Values("types.xlsb", "types1904.xlsb"));

TEST(XlsbReader, Data3000ReadsRowsUpToTheLimitAndTheSessionReadsOn) {
  SheetCells cells;
  ASSERT_TRUE(ReadActiveSheetFromFile(kWorkbooks + "data3000.xlsb", 3000, cells));
  ASSERT_TRUE(cells.Find(3000, 2).has_value());
  EXPECT_FALSE(cells.Find(3001, 2).has_value());

  OpenedWorkbook book(kWorkbooks + "data3000.xlsb");
  const std::vector<std::tuple<int, int, CellText>> expected = {
      {1, 1, std::string("DATUM")},
      {1, 6, std::string("DVOJNO")},
      {2, 1, std::string("5.3.2024")},
      {2, 2, std::string("ZVTG")},
      {2, 3, std::string("Dru\x9E" "ba ZVTG d.d.")},
      {2, 4, std::string("2083")},
      {2, 5, std::string("")},
      {2, 6, std::string("4166")},
      {3, 4, std::string("4100,88")},
      {6, 2, std::string("\x8EITO")},
      {11, 4, std::string("2655,2185")},
      {3000, 2, std::string("KRKG3000")},
      {3000, 5, std::string("X")},
      {3000, 6, std::string("5146")},
      {3001, 2, std::string("PETG3001")},
      {3001, 4, std::string("4932,61561")},
      {3005, 6, std::string("3536,44")},
      {3006, 2, std::string("")},
  };
  for (const auto& [row, column, text] : expected) {
    EXPECT_EQ(Show(book.Cell(row, column)), Show(text)) << "row " << row << " column " << column;
  }
}

TEST(XlsbReader, DamagedCopiesOfData3000AreRefusedAsDamaged) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"bad/xlsb_record_past_part.xlsb", "runs past the end of the part"},
      {"bad/xlsb_rows_out_of_order.xlsb", "rows out of order: row 76 after row 3001"},
      {"bad/xlsb_truncated_part.xlsb", "runs past the end of the part"},
  };
  for (const auto& [name, what] : cases) {
    const std::string why = Refusal(kWorkbooks + name);
    EXPECT_EQ(why.rfind("damaged: xl/worksheets/sheet2.bin: ", 0), 0u) << name << ": " << why;
    EXPECT_NE(why.find(what), std::string::npos) << name << ": " << why;
    OpenedWorkbook book(kWorkbooks + name);
    EXPECT_EQ(Show(book.Cell(2, 2)), Show(std::string(""))) << name;
  }
}

// --- against LibreOffice's reading of the same files ---

// Every cell of rows 1 to 3010, columns A to Z, as this reader gives it from
// the .xlsb and as the .xlsx reader gives it from LibreOffice's .xlsx of the
// same .xlsb; the cells where the two differ.
std::vector<std::string> CellsThatDiffer(const std::string& name) {
  return readertest::CellsThatDiffer(name + ".xlsb", "xlsb_libreoffice/" + name + ".xlsx");
}

TEST(XlsbReader, ReadsAsLibreOfficeReadsTheSameFiles) {
  for (const char* name : {"data3000", "types", "types1904"}) {
    EXPECT_EQ(CellsThatDiffer(name), std::vector<std::string>{}) << name;
  }
  // B1 holds =84 with the cached result 85: this program reads the cached
  // result, LibreOffice calculates the formula anew.
  EXPECT_EQ(CellsThatDiffer("formulas"), std::vector<std::string>{"B1 \"85\" \"84\""});
}

// --- workbooks that Excel saved ---

TEST(XlsbReader, WorkbooksThatExcelSavedReadAsTheirRecordsSay) {
  // Excel 2011 for Mac: a block of future records after the sheet data.
  EXPECT_EQ(readertest::CellsThatDiffer("foreign/sheetjs__RkNumber.xlsb", "xlsb_libreoffice/sheetjs__RkNumber.xlsx"),
            std::vector<std::string>{});
  OpenedWorkbook mac(kWorkbooks + "foreign/sheetjs__RkNumber.xlsb");
  EXPECT_EQ(Show(mac.Cell(1, 1)), Show(std::string("fX100")));
  EXPECT_EQ(Show(mac.Cell(4, 3)), Show(std::string("0,01")));
  EXPECT_EQ(Show(mac.Cell(5, 3)), Show(std::string("12004,55")));

  // Excel 2007: 4 bytes more before each sheet's relationship id. LibreOffice
  // 7.4 reads the workbook as one empty sheet; the first sheet's records hold
  // one shared-string cell, A1.
  EXPECT_EQ(readertest::CellsThatDiffer("foreign/poi__Simple.xlsb", "xlsb_libreoffice/poi__Simple.xlsx"),
            std::vector<std::string>{
                "A1 \"This is an example spreadsheet created with Microsoft Excel 2007 Beta 2.\" \"\""});

  // Excel 2013, the active sheet a chart sheet: the workbook opens, every read fails.
  SheetCells cells;
  const SheetRead chart =
      ReadActiveSheetFromFile(kWorkbooks + "foreign/sheetjs__2013__apachepoi_chart_sheet.xlsx.xlsb", 3000, cells);
  EXPECT_TRUE(chart) << (chart.failure ? chart.failure->what() : "");
  EXPECT_FALSE(chart.activeIsWorksheet);
  OpenedWorkbook book(kWorkbooks + "foreign/sheetjs__2013__apachepoi_chart_sheet.xlsx.xlsb");
  for (const auto& [row, column] : std::vector<std::pair<int, int>>{{1, 1}, {1, 2}, {2, 5}, {3000, 25}}) {
    EXPECT_EQ(Show(book.Cell(row, column)), Show(std::nullopt)) << "row " << row << " column " << column;
  }
}

// --- packages built here, record by record ---

using testsupport::Le16;
using testsupport::Le32;

std::string Varint(std::uint32_t value) {
  std::string out;
  do {
    std::uint8_t byte = value & 0x7F;
    value >>= 7;
    if (value != 0) byte |= 0x80;
    out += static_cast<char>(byte);
  } while (value != 0);
  return out;
}

std::string Record(std::uint16_t type, const std::string& body) {
  std::string header;
  if (type < 0x80) {
    header += static_cast<char>(type);
  } else {
    header += static_cast<char>((type & 0x7F) | 0x80);
    header += static_cast<char>(type >> 7);
  }
  return header + Varint(static_cast<std::uint32_t>(body.size())) + body;
}

std::string F64(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return Le32(static_cast<std::uint32_t>(bits)) + Le32(static_cast<std::uint32_t>(bits >> 32));
}

// A string as the records hold it: its length in UTF-16 units, then the units.
std::string Wide(std::u16string_view text) {
  std::string out = Le32(static_cast<std::uint32_t>(text.size()));
  for (const char16_t unit : text) out += Le16(unit);
  return out;
}

std::string Row(std::uint32_t row) { return Record(0, Le32(row) + std::string(13, '\0')); }
std::string Cell(std::uint32_t column, std::uint32_t format = 0) { return Le32(column) + Le32(format); }
std::string SheetPart(const std::string& data) {
  return Record(129, "") + Record(145, "") + data + Record(146, "") + Record(130, "");
}

struct Book {
  std::string sheet;  // the whole sheet part
  std::vector<std::u16string> strings;
  std::uint32_t activeTab = 0;
  std::uint32_t workbookFlags = 0;
  bool withStrings = true;
  // The relationship type of the first sheet, after the common prefix.
  std::string firstSheetType = "worksheet";
  // Excel 2007 writes 4 bytes more before a sheet's relationship id.
  bool excel2007Sheets = false;
};

const char* kRelType = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

// A type given whole (with "://") stays as it is; any other follows kRelType.
std::string Rels(const std::vector<std::tuple<std::string, std::string, std::string>>& rels) {
  std::string xml = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  for (const auto& [id, type, target] : rels) {
    const std::string fullType = type.find("://") != std::string::npos ? type : kRelType + type;
    xml += "<Relationship Id=\"" + id + "\" Type=\"" + fullType + "\" Target=\"" + target + "\"/>";
  }
  return xml + "</Relationships>";
}

std::vector<testsupport::ZipMember> Members(const Book& b) {
  const std::string sheetFields = b.excel2007Sheets ? Le32(0) + Le32(0) : Le32(0);
  const std::string bookView = Le32(0) + Le32(0) + Le32(100) + Le32(100) + Le32(600) + Le32(0) + Le32(b.activeTab) +
                               std::string(1, '\x78');
  const std::string workbook = Record(131, "") + Record(153, Le32(b.workbookFlags) + Le32(0) + Wide(u"")) +
                               Record(135, "") + Record(158, bookView) + Record(136, "") + Record(143, "") +
                               Record(156, sheetFields + Le32(1) + Wide(u"rId1") + Wide(u"A")) +
                               Record(156, sheetFields + Le32(2) + Wide(u"rId9") + Wide(u"B")) + Record(144, "") +
                               Record(132, "");
  // Cell formats: 0 general, 1 built-in date 14, 2 custom date, 3 built-in currency 7, 4 fixed 0.00.
  std::string styles = Record(278, "") + Record(615, Le32(1)) + Record(44, Le16(164) + Wide(u"dd\\.mm\\.yyyy")) +
                       Record(616, "") + Record(626, Le32(1)) + Record(47, Le16(0xFFFF) + Le16(14) + std::string(12, '\0')) +
                       Record(627, "") + Record(617, Le32(5));
  for (const std::uint16_t format : {0, 14, 164, 7, 2}) styles += Record(47, Le16(0) + Le16(format) + std::string(12, '\0'));
  styles += Record(618, "") + Record(279, "");
  std::string strings = Record(159, Le32(static_cast<std::uint32_t>(b.strings.size())) +
                                        Le32(static_cast<std::uint32_t>(b.strings.size())));
  for (const auto& s : b.strings) strings += Record(19, std::string(1, '\0') + Wide(s));
  strings += Record(160, "");

  std::vector<testsupport::ZipMember> members = {
      {"_rels/.rels", Rels({{"rId1", "officeDocument", "xl/workbook.bin"}})},
      {"xl/workbook.bin", workbook},
      {"xl/_rels/workbook.bin.rels", Rels({{"rId1", b.firstSheetType, "worksheets/sheet1.bin"},
                                           {"rId9", "worksheet", "worksheets/sheet2.bin"},
                                           {"rId2", "styles", "styles.bin"},
                                           {"rId3", "sharedStrings", "sharedStrings.bin"}})},
      {"xl/styles.bin", styles},
      {"xl/worksheets/sheet1.bin", b.sheet},
      {"xl/worksheets/sheet2.bin", SheetPart(Row(0) + Record(2, Cell(0) + Le32((2 << 2) | 2)))},
  };
  if (b.withStrings) members.push_back({"xl/sharedStrings.bin", strings});
  return members;
}

std::string WriteTemp(const std::string& bytes) {
  static int counter = 0;
  const std::string path = testing::TempDir() + "xlsb_reader_test_" + std::to_string(getpid()) + "_" +
                           std::to_string(++counter) + ".xlsb";
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::optional<SheetCells> ReadBook(const Book& book, std::int32_t rowLimit = 3000) {
  const std::string path = WriteTemp(testsupport::ZipOf(Members(book)));
  SheetCells cells;
  const bool ok = static_cast<bool>(ReadActiveSheetFromFile(path, rowLimit, cells));
  std::remove(path.c_str());
  if (!ok) return std::nullopt;
  return cells;
}

std::string RefusalOf(const Book& book, std::int32_t rowLimit = 3000) {
  const std::string path = WriteTemp(testsupport::ZipOf(Members(book)));
  const std::string why = Refusal(path, rowLimit);
  std::remove(path.c_str());
  return why;
}

std::uint32_t Rk(double value, bool hundredths) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return static_cast<std::uint32_t>(bits >> 32) | (hundredths ? 1u : 0u);
}

struct CellCase {
  const char* what;
  std::string data;  // between the sheet data's begin and end
  std::vector<std::tuple<int, int, CellText>> expected;
};

TEST(XlsbReader, CellRules) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<CellCase> cases = {
      {"numbers: RK whole, RK hundredths, RK double, double",
       Row(0) + Record(2, Cell(0) + Le32((static_cast<std::uint32_t>(-7) << 2) | 2)) +
           Record(2, Cell(1) + Le32((12345u << 2) | 3)) + Record(2, Cell(2) + Le32(Rk(0.5, false))) +
           Record(5, Cell(3) + F64(-0.1234567)) + Record(5, Cell(4) + F64(1e20)) + Record(5, Cell(5) + F64(nan)),
       {{1, 1, std::string("-7")},
        {1, 2, std::string("123,45")},
        {1, 3, std::string("0,5")},
        {1, 4, std::string("-0,1234567")},
        {1, 5, std::string("1E+20")},
        {1, 6, std::nullopt}}},
      {"number styles from the cell formats",
       Row(4) + Record(5, Cell(0, 1) + F64(45356)) + Record(5, Cell(1, 2) + F64(45356.5)) +
           Record(5, Cell(2, 3) + F64(1234.56789)) + Record(5, Cell(3, 4) + F64(3.14159)) +
           Record(5, Cell(4, 99) + F64(45356)) + Record(2, Cell(5, 0x02000001) + Le32((45356u << 2) | 2)),
       {{5, 1, std::string("5.3.2024")},
        {5, 2, std::string("5.3.2024 12:00:00")},
        {5, 3, std::string("1234,5679")},
        {5, 4, std::string("3,14159")},
        {5, 5, std::string("45356")},
        {5, 6, std::string("5.3.2024")}}},
      {"text, shared, rich and in the cell; booleans; errors; blanks",
       Row(0) + Record(6, Cell(0) + Wide(u"\u010D\u0161\u017E \u65E5")) + Record(7, Cell(1) + Le32(1)) +
           Record(62, Cell(2) + std::string(1, '\1') + Wide(u"rich") + Le32(0)) + Record(4, Cell(3) + "\x01") +
           Record(4, Cell(4) + std::string(1, '\0')) + Record(3, Cell(5) + "\x2A") + Record(1, Cell(6)) +
           Record(6, Cell(7) + Wide(u"")),
       {{1, 1, std::string("\xE8\x9A\x9E ?")},
        {1, 2, std::string("drugi")},
        {1, 3, std::string("rich")},
        {1, 4, std::string("True")},
        {1, 5, std::string("False")},
        {1, 6, std::nullopt},
        {1, 7, std::string("")},
        {1, 8, std::string("")}}},
      {"formulas with their results",
       Row(1) + Record(8, Cell(0) + Wide(u"AB") + Le16(0) + Le32(0)) +
           Record(9, Cell(1, 1) + F64(45356) + Le16(0) + Le32(3) + "\x1E\x02\x00") +
           Record(10, Cell(2) + "\x01" + Le16(0) + Le32(0)) + Record(11, Cell(3) + "\x07" + Le16(0) + Le32(0)) +
           Record(8, Cell(4) + Wide(u"") + Le16(0) + Le32(0)) + Record(9, Cell(5) + F64(-0.0) + Le16(0) + Le32(0)),
       {{2, 1, std::string("AB")},
        {2, 2, std::string("5.3.2024")},
        {2, 3, std::string("True")},
        {2, 4, std::nullopt},
        {2, 5, std::string("")},
        {2, 6, std::string("0")}}},
      {"short cells follow the previous cell of their row",
       Row(0) + Record(12, Le32(0)) + Record(13, Le32(0) + Le32((5u << 2) | 2)) + Record(2, Cell(4) + Le32((9u << 2) | 2)) +
           Record(16, Le32(1) + F64(45357)) + Record(17, Le32(0) + Wide(u"kratek")) + Record(18, Le32(0) + Le32(0)) +
           Record(15, Le32(0) + "\x01") + Record(14, Le32(0) + "\x07") + Row(1) + Record(17, Le32(0) + Wide(u"A2")),
       {{1, 1, std::string("")},
        {1, 2, std::string("5")},
        {1, 5, std::string("9")},
        {1, 6, std::string("6.3.2024")},
        {1, 7, std::string("kratek")},
        {1, 8, std::string("prvi")},
        {1, 9, std::string("True")},
        {1, 10, std::nullopt},
        {2, 1, std::string("A2")}}},
      {"records this reader passes over, long ones too, and two-byte types",
       Record(0x1FF, std::string(3, 'x')) + Row(0) + Record(49, Le32(1)) + Record(5, Cell(0) + F64(1.5)) +
           Record(0x3FFF, std::string(2u << 20, 'y')) + Record(6, Cell(1) + Wide(std::u16string(40000, u'q'))),
       {{1, 1, std::string("1,5")}, {1, 2, std::string(40000, 'q')}}},
  };
  for (const auto& c : cases) {
    Book book;
    book.sheet = SheetPart(c.data);
    book.strings = {u"prvi", u"drugi"};
    const auto cells = ReadBook(book);
    ASSERT_TRUE(cells.has_value()) << c.what << ": " << RefusalOf(book);
    for (const auto& [row, column, text] : c.expected) {
      EXPECT_EQ(TextAt(*cells, row, column), Show(text)) << c.what << ": row " << row << " column " << column;
    }
  }
}

TEST(XlsbReader, ActiveTabAndDateSystem) {
  struct Case {
    std::uint32_t activeTab;
    std::uint32_t flags;
    const char* a1;
  };
  const std::vector<Case> cases = {
      {0, 0, "1.1.1900"},
      {0, 1, "2.1.1904"},
      {1, 0, "2"},   // the second sheet holds 2 in A1
      {7, 0, "1.1.1900"},  // past the last sheet: the first
  };
  for (const auto& c : cases) {
    Book book;
    book.sheet = SheetPart(Row(0) + Record(2, Cell(0, 1) + Le32((1u << 2) | 2)));
    book.activeTab = c.activeTab;
    book.workbookFlags = c.flags;
    const auto cells = ReadBook(book);
    ASSERT_TRUE(cells.has_value()) << c.activeTab;
    EXPECT_EQ(TextAt(*cells, 1, 1), Show(std::string(c.a1))) << c.activeTab << " " << c.flags;
  }
}

TEST(XlsbReader, WithoutPackageRelationshipsTheUsualWorkbookPartIsRead) {
  Book book;
  book.sheet = SheetPart(Row(0) + Record(2, Cell(0) + Le32((3u << 2) | 2)));
  auto members = Members(book);
  members.erase(members.begin());
  const std::string path = WriteTemp(testsupport::ZipOf(members));
  SheetCells cells;
  EXPECT_TRUE(ReadActiveSheetFromFile(path, 3000, cells));
  std::remove(path.c_str());
  EXPECT_EQ(TextAt(cells, 1, 1), Show(std::string("3")));
}

TEST(XlsbReader, RowsPastTheLimitAreCheckedButNotStored) {
  Book book;
  book.strings = {u"a", u"b"};
  book.sheet = SheetPart(Row(0) + Record(7, Cell(0) + Le32(0)) + Row(1) + Record(5, Cell(0) + F64(2)) + Row(5) +
                         Record(7, Cell(0) + Le32(1)));
  auto cells = ReadBook(book, 2);
  ASSERT_TRUE(cells.has_value());
  EXPECT_EQ(TextAt(*cells, 1, 1), Show(std::string("a")));
  EXPECT_EQ(TextAt(*cells, 2, 1), Show(std::string("2")));
  EXPECT_FALSE(cells->Find(6, 1).has_value());
  EXPECT_EQ(cells->Size(), 2u);

  // Damage beyond the limit refuses the workbook all the same.
  book.sheet = SheetPart(Row(0) + Record(5, Cell(0) + F64(1)) + Row(5) + Row(4));
  EXPECT_NE(RefusalOf(book, 2).find("rows out of order: row 5 after row 6"), std::string::npos) << RefusalOf(book, 2);
  book.sheet = SheetPart(Row(0) + Record(5, Cell(0) + F64(1)) + Row(5) + Record(7, Cell(0) + Le32(2)));
  EXPECT_NE(RefusalOf(book, 2).find("shared string 2 past the 2 strings"), std::string::npos) << RefusalOf(book, 2);
}

TEST(XlsbReader, DamagedRecordsAreRefusedWithTheirReason) {
  const std::string rows = Row(0) + Record(5, Cell(0) + F64(1));
  const std::vector<std::tuple<const char*, std::string, const char*>> cases = {
      {"type of three bytes", SheetPart(rows) + "\x81\x81\x01\x00", "record type longer than 2 bytes"},
      {"length of five bytes", SheetPart(rows) + "\x05\x80\x80\x80\x80\x00", "record length longer than 4 bytes"},
      {"length past the part", SheetPart(rows) + "\x05\x10" + Cell(0), "runs past the end of the part"},
      {"header broken off", SheetPart(rows) + "\x05", "record header breaks off"},
      {"rows out of order", SheetPart(Row(3) + Row(2)), "rows out of order: row 3 after row 4"},
      {"a row twice", SheetPart(Row(3) + Row(3)), "rows out of order: row 4 after row 4"},
      {"cells out of order", SheetPart(Row(0) + Record(1, Cell(3)) + Record(1, Cell(2))), "cells out of order in row 1"},
      {"a cell twice", SheetPart(Row(0) + Record(1, Cell(3)) + Record(1, Cell(3))), "cells out of order in row 1"},
      {"cell before the first row", SheetPart(Record(1, Cell(0))), "cell before the first row"},
      {"row past the last row", SheetPart(Row(1048576)), "row 1048577 past the last row"},
      {"cell past the last column", SheetPart(Row(0) + Record(1, Cell(16384))), "past the last column"},
      {"short cell past the last column", SheetPart(Row(0) + Record(1, Cell(16383)) + Record(12, Le32(0))),
       "past the last column"},
      {"cell outside the sheet data", Record(145, "") + Record(146, "") + Row(0), "row outside the sheet data"},
      {"no sheet data", Record(129, "") + Record(130, ""), "no sheet data"},
      {"sheet data twice", SheetPart(rows) + Record(145, "") + Record(146, ""), "sheet data begins twice"},
      {"sheet data ends twice", SheetPart(rows) + Record(146, ""), "sheet data ends where none began"},
      {"sheet data never ends", Record(145, "") + rows, "sheet data does not end"},
      {"record shorter than its fields", SheetPart(Row(0) + Record(5, Cell(0) + std::string(4, '\0'))), "shorter than its fields"},
      {"string longer than its record", SheetPart(Row(0) + Record(6, Cell(0) + Le32(50) + "a\0")),
       "string runs past its record"},
      {"boolean neither true nor false", SheetPart(Row(0) + Record(4, Cell(0) + "\x02")), "neither true nor false"},
      {"shared string past the table", SheetPart(Row(0) + Record(7, Cell(0) + Le32(2))),
       "shared string 2 past the 2 strings"},
      {"empty part", "", "no sheet data"},
  };
  for (const auto& [what, sheet, reason] : cases) {
    Book book;
    book.sheet = sheet;
    book.strings = {u"a", u"b"};
    const std::string why = RefusalOf(book);
    EXPECT_EQ(why.rfind("damaged: xl/worksheets/sheet1.bin: ", 0), 0u) << what << ": " << why;
    EXPECT_NE(why.find(reason), std::string::npos) << what << ": " << why;
  }
}

TEST(XlsbReader, SharedStringCellsWithoutTheStringsPartAreRefused) {
  Book book;
  book.sheet = SheetPart(Row(0) + Record(7, Cell(0) + Le32(0)));
  book.withStrings = false;
  EXPECT_EQ(RefusalOf(book), "damaged: xl/sharedStrings.bin: part missing");
  book.sheet = SheetPart(Row(0) + Record(5, Cell(0) + F64(1)));
  EXPECT_EQ(RefusalOf(book), "") << "no string cells, no strings part needed";
}

// One long shared string in every cell: each cell holds its own copy, and the
// string itself is held while the cells wait for it. 2,235 copies and the
// string are within the 64 MiB of text that the rows read may hold; one copy
// more is not.
TEST(XlsbReader, CopiesOfALongSharedStringCountAsTheTextTheyHold) {
  Book book;
  book.strings = {std::u16string(30000, u'x')};
  std::string data;
  for (std::uint32_t r = 0; r < 2236; ++r) data += Row(r) + Record(7, Cell(0) + Le32(0));
  book.sheet = SheetPart(data);
  EXPECT_EQ(RefusalOf(book), "too large: more cells or text than a price list holds");
  book.sheet = SheetPart(data.substr(0, data.size() / 2236 * 2235));
  const auto cells = ReadBook(book);
  ASSERT_TRUE(cells.has_value());
  EXPECT_EQ(cells->Find(2235, 1).value_or(CellValue::Empty()).text, std::string(30000, 'x'));
}

TEST(XlsbReader, PartDeclaringMoreThan256MiBIsTooLarge) {
  Book book;
  book.sheet = SheetPart(Row(0) + Record(5, Cell(0) + F64(1)));
  std::string zip = testsupport::ZipOf(Members(book));
  // The sheet member's uncompressed size, in its local header and its directory entry.
  const std::string name = "xl/worksheets/sheet1.bin";
  for (std::size_t at = zip.find(name); at != std::string::npos; at = zip.find(name, at + 1)) {
    const bool central = zip.compare(at - 46, 4, Le32(0x02014b50)) == 0;
    const std::size_t size = central ? at - 46 + 24 : at - 30 + 22;
    zip.replace(size, 4, Le32(257u << 20));
  }
  const std::string path = WriteTemp(zip);
  const std::string why = Refusal(path);
  std::remove(path.c_str());
  EXPECT_EQ(why, "too large: xl/worksheets/sheet1.bin: 269484032 bytes, more than the 268435456 bytes (256 MiB) "
                 "that may be read");
}

// Excel for Mac closes a sheet with a block of future records after the sheet
// data; what sits inside such a block is no cell, whatever its record type.
// Inside the sheet data nothing is passed over, so no cell can hide there.
TEST(XlsbReader, BlocksOfFutureRecordsOutsideTheSheetDataArePassedOver) {
  const std::string rows = Row(0) + Record(5, Cell(0) + F64(1));
  const std::string block = Record(35, Le32(0x00010E02)) + Record(1, Le32(0) + Le32(8) + std::string(1, '\0')) +
                            Row(7) + Record(36, "");
  const std::string begin = Record(129, "");
  const std::string end = Record(130, "");
  const std::vector<std::tuple<const char*, std::string, const char*>> cases = {
      {"after the sheet data, as Excel for Mac writes it",
       begin + Record(145, "") + rows + Record(146, "") + block + end, ""},
      {"before the sheet data", begin + block + Record(145, "") + rows + Record(146, "") + end, ""},
      {"nested", begin + Record(145, "") + rows + Record(146, "") + Record(35, "") + block + Record(36, "") + end, ""},
      {"inside the sheet data its cells are cells",
       begin + Record(145, "") + Row(0) + Record(35, "") + Record(5, Cell(0) + F64(1)) + Record(36, "") +
           Record(146, "") + end,
       ""},
      {"a block that does not end", begin + Record(145, "") + rows + Record(146, "") + Record(35, "") + Row(7) + end,
       "a block of future records does not end"},
      {"sheet data inside a block",
       begin + Record(35, "") + Record(145, "") + rows + Record(146, "") + Record(36, "") + end,
       "sheet data inside a block of future records"},
      {"a cell after the sheet data outside any block", begin + Record(145, "") + rows + Record(146, "") +
           Record(1, Cell(0)) + end,
       "cell outside the sheet data"},
  };
  for (const auto& [what, sheet, reason] : cases) {
    Book book;
    book.sheet = sheet;
    const std::string why = RefusalOf(book);
    if (*reason == '\0') {
      EXPECT_EQ(why, "") << what;
      const auto cells = ReadBook(book);
      ASSERT_TRUE(cells.has_value()) << what;
      EXPECT_EQ(TextAt(*cells, 1, 1), Show(std::string("1"))) << what;
      EXPECT_EQ(cells->Size(), 1u) << what;
    } else {
      EXPECT_EQ(why, std::string("damaged: xl/worksheets/sheet1.bin: ") + reason) << what;
    }
  }
}

TEST(XlsbReader, SheetEntriesReadInBothLayoutsOfTheWorkbookPart) {
  for (const bool excel2007 : {false, true}) {
    for (const std::uint32_t activeTab : {0u, 1u}) {
      Book book;
      book.sheet = SheetPart(Row(0) + Record(2, Cell(0) + Le32((1u << 2) | 2)));
      book.excel2007Sheets = excel2007;
      book.activeTab = activeTab;
      const auto cells = ReadBook(book);
      ASSERT_TRUE(cells.has_value()) << excel2007 << ": " << RefusalOf(book);
      EXPECT_EQ(TextAt(*cells, 1, 1), Show(std::string(activeTab == 0 ? "1" : "2"))) << excel2007 << " " << activeTab;
    }
  }
}

// As in .xls and .xlsx: the workbook opens and every read of the sheet fails.
TEST(XlsbReader, AnActiveSheetThatIsNoWorksheetOpensWithEveryReadFailing) {
  for (const char* type : {"chartsheet", "dialogsheet",
                            "http://schemas.microsoft.com/office/2006/relationships/xlMacrosheet",
                            "http://schemas.microsoft.com/office/2006/relationships/xlIntlMacrosheet"}) {
    Book book;
    book.firstSheetType = type;
    book.sheet = Record(129, "") + Record(130, "");  // a chart sheet's part holds no sheet data
    const std::string path = WriteTemp(testsupport::ZipOf(Members(book)));
    SheetCells cells;
    const SheetRead read = ReadActiveSheetFromFile(path, 3000, cells);
    EXPECT_TRUE(read) << type << ": " << (read.failure ? read.failure->what() : "");
    EXPECT_FALSE(read.activeIsWorksheet) << type;
    EXPECT_EQ(read.format, WorkbookFormat::Xlsb) << type;
    OpenedWorkbook opened(path);
    EXPECT_EQ(Show(opened.Cell(1, 1)), Show(std::nullopt)) << type;
    EXPECT_EQ(Show(opened.Cell(2, 2)), Show(std::nullopt)) << type;
    EXPECT_FALSE(opened.session->OpenFailureOf().has_value()) << type;
    std::remove(path.c_str());
  }
}

TEST(XlsbReader, LongSheetIsStreamedAndOnlyTheRowsAskedForAreKept) {
  // 60,000 rows of a number and a text: records of several lengths meet the
  // read chunks' boundaries at many offsets; only the first 3000 rows are kept.
  std::string data;
  for (std::uint32_t row = 0; row < 60000; ++row) {
    data += Row(row) + Record(2, Cell(0) + Le32((row << 2) | 2)) + Record(6, Cell(1) + Wide(u"vrstica"));
  }
  Book book;
  book.sheet = SheetPart(data);
  const auto cells = ReadBook(book);
  ASSERT_TRUE(cells.has_value());
  EXPECT_EQ(cells->Size(), 6000u);
  EXPECT_EQ(TextAt(*cells, 3000, 1), Show(std::string("2999")));
  EXPECT_EQ(TextAt(*cells, 3000, 2), Show(std::string("vrstica")));
}

}  // namespace
}  // namespace ratemover::spreadsheet
