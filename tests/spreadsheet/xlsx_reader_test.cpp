// The .xlsx reader through the public interfaces: the file session for the
// workbooks that real producers wrote, ReadActiveSheetFromFile for packages
// built here to reach one rule at a time.
#include <unistd.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "spreadsheet/cell_text.h"
#include "spreadsheet/session.h"
#include "spreadsheet/workbook_reader.h"
#include "tests/spreadsheet/reader_test_support.h"
#include "tests/support/zip_writer.h"
#include "tests/spreadsheet/catalogue.h"

namespace ratemover::spreadsheet {
namespace {

using readertest::kWorkbooks;
using readertest::OpenedWorkbook;
using readertest::Show;
using readertest::TextAt;

// --- the catalogue sheet of the LibreOffice and Gnumeric workbooks ---

class XlsxCatalogue : public testing::TestWithParam<const char*> {};

TEST_P(XlsxCatalogue, EveryCellOfColumnBReadsAsTheApplicationShowsIt) {
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

INSTANTIATE_TEST_SUITE_P(Producers, XlsxCatalogue,
                         testing::Values("types.xlsx", "types1904.xlsx", "types_gnumeric.xlsx",
                                         "quirks/activeTab1_tabSelected0.xlsx"));

// --- openpyxl's small catalogue: inline strings, formulas without results ---

class XlsxOpenpyxl : public testing::TestWithParam<const char*> {};

TEST_P(XlsxOpenpyxl, SmallCatalogue) {
  OpenedWorkbook book(kWorkbooks + GetParam());
  const std::vector<std::pair<int, CellText>> expected = {
      {2, std::string("\xE8\x9A\x9E\xE6\xF0 \xC8\x8A\x8E\xC6\xD0")},
      {3, std::string("42")},
      {4, std::string("12,5")},
      {5, std::nullopt},  // =B3*2 written without a cached result
      {6, std::nullopt},  // CONCATENATE without a result
      {7, std::nullopt},  // NA() without a result
      {8, std::string("5.3.2024")},
      {9, std::string("5.3.2024 14:30:15")},
      {10, std::string("True")},
      {11, std::string("")},
      {12, std::string("za praznim")},
  };
  for (const auto& [row, text] : expected) {
    EXPECT_EQ(Show(book.Cell(row, 2)), Show(text)) << GetParam() << " B" << row;
  }
  EXPECT_EQ(Show(book.Cell(1, 1)), Show(std::string("label")));
}

INSTANTIATE_TEST_SUITE_P(Producers, XlsxOpenpyxl,
                         testing::Values("types_openpyxl.xlsx", "types1904_openpyxl.xlsx",
                                         "quirks/types_openpyxl_relative_rels.xlsx"));

TEST(XlsxReader, ConstantErrorsAreReadFailuresAndBooleansReadAsWords) {
  OpenedWorkbook book(kWorkbooks + "const_errors_gnumeric.xlsx");
  EXPECT_EQ(Show(book.Cell(2, 2)), Show(std::nullopt));
  EXPECT_EQ(Show(book.Cell(3, 2)), Show(std::nullopt));
  EXPECT_EQ(Show(book.Cell(4, 2)), Show(std::string("True")));
  EXPECT_EQ(Show(book.Cell(5, 2)), Show(std::string("False")));
  EXPECT_EQ(Show(book.Cell(2, 1)), Show(std::string("const_na")));
}

TEST(XlsxReader, Data3000ReadsRowsUpToTheLimitAndNoFurther) {
  SheetCells cells;
  ASSERT_TRUE(ReadActiveSheetFromFile(kWorkbooks + "data3000.xlsx", 3000, cells));
  ASSERT_TRUE(cells.Find(3000, 2).has_value());
  EXPECT_FALSE(cells.Find(3001, 2).has_value());
  EXPECT_FALSE(cells.Find(3001, 1).has_value());

  OpenedWorkbook book(kWorkbooks + "data3000.xlsx");
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
      {3, 6, std::string("8201,76")},
      {6, 2, std::string("\x8EITO")},
      {10, 5, std::string("X")},
      {11, 4, std::string("2655,2185")},
      {11, 5, std::string("")},
      {3000, 2, std::string("KRKG3000")},
      {3000, 5, std::string("X")},
      {3000, 6, std::string("5146")},
      // beyond the rows read first: the session reads on
      {3001, 2, std::string("PETG3001")},
      {3001, 4, std::string("4932,61561")},
      {3005, 6, std::string("3536,44")},
      {3006, 2, std::string("")},
  };
  for (const auto& [row, column, text] : expected) {
    EXPECT_EQ(Show(book.Cell(row, column)), Show(text)) << "row " << row << " column " << column;
  }
}

TEST(XlsxReader, SparseSheetStopsAtTheFarRowAndReadsItWhenAsked) {
  SheetCells cells;
  ASSERT_TRUE(ReadActiveSheetFromFile(kWorkbooks + "sparse.xlsx", 3000, cells));
  EXPECT_EQ(cells.Size(), 1u);

  OpenedWorkbook book(kWorkbooks + "sparse.xlsx");
  EXPECT_EQ(Show(book.Cell(1, 1)), Show(std::string("start")));
  EXPECT_EQ(Show(book.Cell(2, 1)), Show(std::string("")));
  EXPECT_EQ(Show(book.Cell(1048576, 16384)), Show(std::string("1")));
}

// --- damaged files: cannot be opened (every cell empty) or a correct reading ---

TEST(XlsxReader, DamagedFilesCannotBeOpened) {
  struct Case {
    const char* name;
    OpenFailure reason;
    const char* detail;  // nullptr: any
  };
  const std::vector<Case> cases = {
      {"bad/gzip.xlsx", OpenFailure::NotAWorkbook, nullptr},
      {"bad/trunc_600.xlsx", OpenFailure::Damaged, nullptr},
      {"bad/trunc_half.xlsx", OpenFailure::Damaged, nullptr},
      {"bad/garbage_mid.xlsx", OpenFailure::Damaged, nullptr},
      {"bad/badxml.xlsx", OpenFailure::Damaged, "xl/worksheets/sheet2.xml: XML not well-formed"},
      {"bad/crc_mismatch.xlsx", OpenFailure::Damaged, "xl/worksheets/sheet2.xml: CRC-32 differs"},
      {"bad/crc_mismatch_deflated.xlsx", OpenFailure::Damaged, "xl/worksheets/sheet2.xml: CRC-32 differs"},
      {"bad/row_beyond_limit.xlsx", OpenFailure::Damaged, "xl/worksheets/sheet2.xml: cell outside its row"},
      {"bad/inflates_longer.xlsx", OpenFailure::Damaged,
       "xl/worksheets/sheet2.xml: inflates to more than its declared size"},
      // an encrypted .xls under an .xlsx name: the OLE2 side refuses it
      {"bad/ole2_named.xlsx", OpenFailure::Encrypted, nullptr},
      // a password-protected package: an OLE2 file of its encryption streams
      {"foreign/encrypted_package_cfb.xlsx", OpenFailure::Encrypted, "EncryptionInfo"},
  };
  for (const auto& c : cases) {
    SheetCells cells;
    const SheetRead read = ReadActiveSheetFromFile(kWorkbooks + c.name, 3000, cells);
    ASSERT_FALSE(read) << c.name;
    EXPECT_EQ(cells.Size(), 0u) << c.name;
    EXPECT_EQ(OpenFailureText(read.failure->Reason()), OpenFailureText(c.reason)) << c.name;
    if (c.detail != nullptr) {
      EXPECT_EQ(read.failure->Detail(), c.detail) << c.name;
    }

    OpenedWorkbook book(kWorkbooks + c.name);
    for (const auto& [row, column] : std::vector<std::pair<int, int>>{{1, 1}, {2, 1}, {2, 2}, {2, 4}, {3000, 2}}) {
      EXPECT_EQ(Show(book.Cell(row, column)), Show(std::string(""))) << c.name << " row " << row;
    }
  }
}

TEST(XlsxReader, BombOfBlanksBeyondTheFarRowIsTooLarge) {
  // The sheet declares a gigabyte: it is refused before anything is
  // inflated, whatever the row limit.
  OpenedWorkbook book(kWorkbooks + "bad/bomb_1g.xlsx");
  EXPECT_EQ(Show(book.Cell(1, 1)), Show(std::string("")));

  for (const std::int32_t limit : {3000, 1048576}) {
    SheetCells cells;
    const SheetRead read = ReadActiveSheetFromFile(kWorkbooks + "bad/bomb_1g.xlsx", limit, cells);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.failure->Reason(), OpenFailure::TooLarge);
    EXPECT_EQ(read.failure->Detail(),
              "xl/worksheets/sheet1.xml: 1073744108 bytes, more than the 268435456 bytes (256 MiB) that may be read");
  }
}

TEST(XlsxReader, HugeSharedStringCountsAreNotTrusted) {
  OpenedWorkbook book(kWorkbooks + "bad/sst_count_huge.xlsx");
  EXPECT_EQ(Show(book.Cell(1, 2)), Show(std::string("SIMBOL")));
  EXPECT_EQ(Show(book.Cell(2, 2)), Show(std::string("ZVTG")));
  EXPECT_EQ(Show(book.Cell(2, 4)), Show(std::string("2083")));
  EXPECT_EQ(Show(book.Cell(6, 2)), Show(std::string("\x8EITO")));
  EXPECT_EQ(Show(book.Cell(3000, 2)), Show(std::string("KRKG3000")));
}

// --- packages built here, one rule at a time ---

using Member = testsupport::ZipMember;
constexpr auto Zip = testsupport::ZipOf;

const char* kMain = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";
const char* kRel = "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
const char* kRelType = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

std::string Rels(const std::vector<std::tuple<std::string, std::string, std::string>>& rels) {
  std::string xml = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  for (const auto& [id, type, target] : rels) {
    xml += "<Relationship Id=\"" + id + "\" Type=\"" + kRelType + type + "\" Target=\"" + target + "\"/>";
  }
  return xml + "</Relationships>";
}

struct Book {
  std::string sheetData;                  // the content of <sheetData>
  std::string strings;                    // the <si> elements, or none
  std::string sheetTarget = "worksheets/sheet1.xml";
  std::string sheetPart = "xl/worksheets/sheet1.xml";
  std::string workbookExtra;              // inside <workbook> before <sheets>
  bool stored = false;
  bool wrongCrc = false;
  bool closeSheet = true;
};

std::vector<Member> Members(const Book& b) {
  std::vector<Member> members;
  members.push_back({"_rels/.rels", Rels({{"rId1", "officeDocument", "xl/workbook.xml"}})});
  members.push_back({"xl/workbook.xml", std::string("<workbook ") + kMain + " " + kRel + ">" + b.workbookExtra +
                                            "<sheets><sheet name=\"A\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"});
  members.push_back({"xl/_rels/workbook.xml.rels", Rels({{"rId1", "worksheet", b.sheetTarget},
                                                         {"rId2", "styles", "styles.xml"},
                                                         {"rId3", "sharedStrings", "sharedStrings.xml"}})});
  members.push_back({"xl/styles.xml",
                     std::string("<styleSheet ") + kMain +
                         "><numFmts count=\"1\"><numFmt numFmtId=\"164\" formatCode=\"dd\\.mm\\.yyyy\"/></numFmts>"
                         "<cellXfs count=\"4\"><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"164\"/>"
                         "<xf numFmtId=\"2\"/></cellXfs></styleSheet>"});
  members.push_back({"xl/sharedStrings.xml", std::string("<sst ") + kMain + ">" + b.strings + "</sst>"});
  std::string sheet = std::string("<worksheet ") + kMain + "><sheetData>" + b.sheetData;
  if (b.closeSheet) sheet += "</sheetData></worksheet>";
  members.push_back({b.sheetPart, sheet, b.stored, b.wrongCrc});
  return members;
}

std::string WriteTemp(const std::string& bytes) {
  static int counter = 0;
  const std::string path = testing::TempDir() + "xlsx_reader_test_" + std::to_string(getpid()) + "_" +
                           std::to_string(++counter) + ".xlsx";
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

// Why a package is refused: "" when it is read.
std::string RefusalOf(const std::vector<Member>& members) {
  const std::string path = WriteTemp(Zip(members));
  SheetCells cells;
  const SheetRead read = ReadActiveSheetFromFile(path, 3000, cells);
  std::remove(path.c_str());
  return read.failure ? read.failure->what() : "";
}

std::optional<SheetCells> ReadBook(const std::vector<Member>& members, std::int32_t rowLimit = 3000) {
  const std::string path = WriteTemp(Zip(members));
  SheetCells cells;
  const bool ok = static_cast<bool>(ReadActiveSheetFromFile(path, rowLimit, cells));
  std::remove(path.c_str());
  if (!ok) return std::nullopt;
  return cells;
}

struct CellCase {
  const char* what;
  std::string sheetData;
  std::string strings;
  std::vector<std::tuple<int, int, CellText>> expected;
};

TEST(XlsxReader, CellRules) {
  const std::vector<CellCase> cases = {
      {"rich text runs are joined, phonetic runs left out",
       "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>1</v></c></row>",
       "<si><t>zero</t></si><si><r><t>Ab</t></r><r><rPr><b/></rPr><t xml:space=\"preserve\"> c </t></r>"
       "<rPh sb=\"0\" eb=\"1\"><t>PHON</t></rPh></si>",
       {{1, 1, std::string("Ab c ")}}},
      {"escaped characters are decoded once; missing characters become ?",
       "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"inlineStr\"><is><t>_x017E__xD83D__xDE00_"
       "\xE6\x97\xA5</t></is></c></row>",
       "<si><t>A_x0009_B_x005F_x0041_ _x00zz_</t></si>",
       {{1, 1, std::string("A\tB_x0041_ _x00zz_")}, {1, 2, std::string("\x9E??")}}},
      {"cells and rows without a reference follow the previous one",
       "<row r=\"2\"><c><v>1</v></c><c><v>2</v></c><c r=\"E2\"><v>5</v></c><c><v>6</v></c></row>"
       "<row><c r=\"C3\"><v>3</v></c></row>",
       "",
       {{2, 1, std::string("1")},
        {2, 2, std::string("2")},
        {2, 5, std::string("5")},
        {2, 6, std::string("6")},
        {3, 3, std::string("3")},
        {3, 1, std::string("")}}},
      {"formula results: cached, empty text, none",
       "<row r=\"1\"><c r=\"A1\" t=\"str\"><f>X</f><v></v></c><c r=\"B1\" t=\"str\"><f>X</f></c>"
       "<c r=\"C1\"><f>X</f><v></v></c><c r=\"D1\"><f>X</f></c><c r=\"E1\"><f>X</f><v>2.5</v></c>"
       "<c r=\"F1\" t=\"b\"><f>X</f><v>0</v></c><c r=\"G1\" t=\"e\"><f>X</f><v>#VALUE!</v></c>"
       "<c r=\"H1\" t=\"str\"><f>X</f><v> x </v></c><c r=\"I1\"><v></v></c></row>",
       "",
       {{1, 1, std::string("")},
        {1, 2, std::nullopt},
        {1, 3, std::nullopt},
        {1, 4, std::nullopt},
        {1, 5, std::string("2,5")},
        {1, 6, std::string("False")},
        {1, 7, std::nullopt},
        {1, 8, std::string(" x ")},
        {1, 9, std::string("")}}},
      {"number styles come from the cell's format",
       "<row r=\"1\"><c r=\"A1\" s=\"1\"><v>45356</v></c><c r=\"B1\" s=\"2\"><v>45356.5</v></c>"
       "<c r=\"C1\" s=\"3\"><v>3.14159</v></c><c r=\"D1\" s=\"99\"><v>45356</v></c><c r=\"E1\"><v>1E+020</v></c>"
       "<c r=\"F1\"><v>-0</v></c><c r=\"G1\" t=\"d\"><v>2024-03-05T14:30:15Z</v></c>"
       "<c r=\"H1\" t=\"d\"><v>2024-03-06</v></c></row>",
       "",
       {{1, 1, std::string("5.3.2024")},
        {1, 2, std::string("5.3.2024 12:00:00")},
        {1, 3, std::string("3,14159")},
        {1, 4, std::string("45356")},
        {1, 5, std::string("1E+20")},
        {1, 6, std::string("0")},
        {1, 7, std::string("5.3.2024 14:30:15")},
        {1, 8, std::string("6.3.2024")}}},
  };
  for (const auto& c : cases) {
    Book book;
    book.sheetData = c.sheetData;
    book.strings = c.strings;
    const auto cells = ReadBook(Members(book));
    ASSERT_TRUE(cells.has_value()) << c.what;
    for (const auto& [row, column, text] : c.expected) {
      EXPECT_EQ(TextAt(*cells, row, column), Show(text)) << c.what << ": row " << row << " column " << column;
    }
  }
}

TEST(XlsxReader, DamagedContentCannotBeOpened) {
  const std::string sheet = "damaged: xl/worksheets/sheet1.xml: ";
  const std::vector<std::tuple<const char*, std::string, std::string>> cases = {
      {"number that is no number", "<row r=\"1\"><c r=\"A1\"><v>12a</v></c></row>", "number not valid"},
      {"infinity spelled out", "<row r=\"1\"><c r=\"A1\"><v>inf</v></c></row>", "number not valid"},
      {"shared string index past the strings", "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>7</v></c></row>",
       "damaged: xl/sharedStrings.xml: string index out of range"},
      {"shared string cell without index", "<row r=\"1\"><c r=\"A1\" t=\"s\"/></row>", "shared string index not valid"},
      {"cell reference past the last column", "<row r=\"1\"><c r=\"XFE1\"><v>1</v></c></row>",
       "cell reference not valid"},
      {"row 0", "<row r=\"0\"><c><v>1</v></c></row>", "row number not valid"},
      {"boolean that is neither", "<row r=\"1\"><c r=\"A1\" t=\"b\"><v>2</v></c></row>", "boolean not valid"},
      {"malformed XML", "<row r=\"1\"><c r=\"A1\"><v>1</v></row>", "XML not well-formed"},
      {"rows out of order", "<row r=\"2\"><c><v>1</v></c></row><row r=\"1\"><c><v>1</v></c></row>",
       "rows out of order"},
      {"one row twice", "<row r=\"1\"><c><v>1</v></c></row><row r=\"1\"><c><v>1</v></c></row>", "rows out of order"},
      {"cells out of order", "<row r=\"1\"><c r=\"C1\"><v>1</v></c><c r=\"B1\"><v>1</v></c></row>",
       "cells out of order"},
      {"one cell twice", "<row r=\"1\"><c r=\"B1\"><v>1</v></c><c r=\"B1\"><v>2</v></c></row>", "cells out of order"},
      {"cell after an unnumbered one",
       "<row r=\"1\"><c r=\"B1\"><v>1</v></c><c><v>1</v></c><c r=\"C1\"><v>1</v></c></row>", "cells out of order"},
      {"cell of another row", "<row r=\"1\"><c r=\"A2\"><v>1</v></c></row>", "cell outside its row"},
      {"sheet data twice", "</sheetData><sheetData>", "sheet data given twice"},
  };
  for (const auto& [what, data, reason] : cases) {
    Book book;
    book.sheetData = data;
    book.strings = "<si><t>a</t></si>";
    const std::string expected = reason.rfind("damaged: ", 0) == 0 ? reason : sheet + reason;
    EXPECT_EQ(RefusalOf(Members(book)), expected) << what;
  }
}

// More cells than a price list holds: the workbook is too large, not damaged.
TEST(XlsxReader, MoreCellsThanAPriceListHoldsIsTooLarge) {
  std::string row;
  for (int column = 0; column < 16384; ++column) row += "<c t=\"s\"><v>0</v></c>";
  Book book;
  book.strings = "<si><t>a</t></si>";
  for (int r = 1; r <= 62; ++r) book.sheetData += "<row r=\"" + std::to_string(r) + "\">" + row + "</row>";
  EXPECT_EQ(RefusalOf(Members(book)),
            "too large: xl/worksheets/sheet1.xml: more cells or text than a price list holds");
  // 61 rows of them are 999,424 cells: read
  book.sheetData.erase(book.sheetData.rfind("<row "));
  EXPECT_EQ(RefusalOf(Members(book)), "");
}

// One long shared string in every cell: each cell holds its own copy, and the
// string itself is held while the cells wait for it. 2,235 copies and the
// string are within the 64 MiB of text that the rows read may hold; one copy
// more is not.
TEST(XlsxReader, CopiesOfALongSharedStringCountAsTheTextTheyHold) {
  Book book;
  book.strings = "<si><t>" + std::string(30000, 'x') + "</t></si>";
  for (int r = 1; r <= 2236; ++r) book.sheetData += "<row r=\"" + std::to_string(r) + "\"><c t=\"s\"><v>0</v></c></row>";
  EXPECT_EQ(RefusalOf(Members(book)), "too large: more cells or text than a price list holds");
  book.sheetData.erase(book.sheetData.rfind("<row "));
  const auto cells = ReadBook(Members(book));
  ASSERT_TRUE(cells.has_value());
  EXPECT_EQ(cells->Find(2235, 1).value_or(CellValue::Empty()).text, std::string(30000, 'x'));
}

// An attribute value that is merely unusual does not refuse the workbook:
// at most its own cell cannot be read.
TEST(XlsxReader, UnusualAttributeValuesMakeAtMostTheirCellUnreadable) {
  const struct {
    const char* what;
    const char* cell;
    CellText text;
  } cases[] = {
      {"empty style: the default", "<c r=\"A1\" s=\"\"><v>12.5</v></c>", std::string("12,5")},
      {"blank style: the default", "<c r=\"A1\" s=\" \"><v>7</v></c>", std::string("7")},
      {"style that is no index", "<c r=\"A1\" s=\"x\"><v>7</v></c>", std::nullopt},
      {"negative style", "<c r=\"A1\" s=\"-1\"><v>7</v></c>", std::nullopt},
      {"date cell holding a time alone", "<c r=\"A1\" t=\"d\"><v>10:10:10</v></c>", std::string("10:10:10")},
      {"time alone with a fraction and zone", "<c r=\"A1\" t=\"d\"><v>23:59:59.25Z</v></c>", std::string("23:59:59")},
      {"time alone at midnight", "<c r=\"A1\" t=\"d\"><v>00:00:00</v></c>", std::string("0:00:00")},
      {"time alone past the day", "<c r=\"A1\" t=\"d\"><v>24:00:00</v></c>", std::nullopt},
      {"time alone without seconds", "<c r=\"A1\" t=\"d\"><v>10:10</v></c>", std::nullopt},
      {"date that is no date", "<c r=\"A1\" t=\"d\"><v>2023-02-29</v></c>", std::nullopt},
      {"date with a broken time", "<c r=\"A1\" t=\"d\"><v>2024-03-05T1:00:00</v></c>", std::nullopt},
      {"unknown cell type", "<c r=\"A1\" t=\"zz\"><v>1</v></c>", std::nullopt},
      {"unknown cell type without a value", "<c r=\"A1\" t=\"zz\"/>", std::nullopt},
  };
  for (const auto& c : cases) {
    Book book;
    // the cells around it read as ever
    book.sheetData = std::string("<row r=\"1\">") + c.cell + "<c r=\"B1\" t=\"s\"><v>0</v></c></row>"
                     "<row r=\"2\"><c r=\"A2\"><v>2</v></c></row>";
    book.strings = "<si><t>a</t></si>";
    const auto cells = ReadBook(Members(book));
    ASSERT_TRUE(cells.has_value()) << c.what;
    EXPECT_EQ(TextAt(*cells, 1, 1), Show(c.text)) << c.what;
    EXPECT_EQ(TextAt(*cells, 1, 2), Show(std::string("a"))) << c.what;
    EXPECT_EQ(TextAt(*cells, 2, 1), Show(std::string("2"))) << c.what;
  }
}

// Some Windows zip tools separate folders with backslashes; such a package
// reads as the same package with slashes. A part named both ways is two parts
// of one name, which is damage.
TEST(XlsxReader, BackslashesInPartNamesAreSlashes) {
  Book book;
  book.sheetData = "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\"><v>4.5</v></c></row>";
  book.strings = "<si><t>a</t></si>";
  std::vector<Member> members = Members(book);
  for (auto& member : members) std::replace(member.name.begin(), member.name.end(), '/', '\\');
  const auto cells = ReadBook(members);
  ASSERT_TRUE(cells.has_value());
  EXPECT_EQ(TextAt(*cells, 1, 1), Show(std::string("a")));
  EXPECT_EQ(TextAt(*cells, 1, 2), Show(std::string("4,5")));

  std::vector<Member> twice = Members(book);
  twice.push_back(twice.back());
  std::replace(twice.back().name.begin(), twice.back().name.end(), '/', '\\');
  EXPECT_FALSE(ReadBook(twice).has_value());
}

// A chart, dialog or macro sheet that is active opens, but has no cells:
// every read of it fails, and what the sheet part holds is not read.
TEST(XlsxReader, AnActiveSheetThatIsNoWorksheetOpensWithEveryReadFailing) {
  const struct {
    const char* type;
    bool worksheet;
  } cases[] = {
      {"http://schemas.openxmlformats.org/officeDocument/2006/relationships/chartsheet", false},
      {"http://schemas.openxmlformats.org/officeDocument/2006/relationships/dialogsheet", false},
      {"http://schemas.microsoft.com/office/2006/relationships/xlMacrosheet", false},
      {"http://schemas.microsoft.com/office/2006/relationships/xlIntlMacrosheet", false},
      {"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet", true},
  };
  for (const auto& c : cases) {
    Book book;
    book.sheetData = "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>";
    std::vector<Member> members = Members(book);
    for (auto& member : members) {
      if (member.name != "xl/_rels/workbook.xml.rels") continue;
      const std::string worksheet = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet";
      const std::size_t at = member.data.find(worksheet);
      ASSERT_NE(at, std::string::npos);
      member.data.replace(at, worksheet.size(), c.type);
    }
    // a chart sheet's part holds no sheet data
    if (!c.worksheet) members.back().data = std::string("<chartsheet ") + kMain + "/>";
    const std::string path = WriteTemp(Zip(members));
    SheetCells cells;
    const SheetRead read = ReadActiveSheetFromFile(path, 3000, cells);
    EXPECT_TRUE(read) << c.type;
    EXPECT_EQ(read.activeIsWorksheet, c.worksheet) << c.type;
    EXPECT_EQ(read.format, WorkbookFormat::Xlsx) << c.type;
    OpenedWorkbook opened(path);
    EXPECT_EQ(Show(opened.Cell(1, 1)), Show(c.worksheet ? CellText("1") : std::nullopt)) << c.type;
    EXPECT_EQ(Show(opened.Cell(2, 2)), Show(c.worksheet ? CellText("") : std::nullopt)) << c.type;
    EXPECT_FALSE(opened.session->OpenFailureOf().has_value()) << c.type;
    std::remove(path.c_str());
  }
}

TEST(XlsxReader, ASheetThatBreaksOffIsRefusedWhereverItBreaks) {
  Book book;
  book.sheetData = "<row r=\"1\"><c><v>1</v></c></row><row r=\"2\"><c><v>2</v></c></row>"
                   "<row r=\"5\"><c><v>5</v></c></row><row r=\"6\"><c><v>";
  book.closeSheet = false;
  for (const std::int32_t limit : {10, 6, 5, 4, 1}) {
    EXPECT_FALSE(ReadBook(Members(book), limit).has_value()) << limit;
  }
  book.sheetData += "6</v></c></row>";
  book.closeSheet = true;
  const auto cells = ReadBook(Members(book), 4);
  ASSERT_TRUE(cells.has_value());
  EXPECT_EQ(TextAt(*cells, 2, 1), Show(std::string("2")));
  EXPECT_FALSE(cells->Find(5, 1).has_value());
}

// Order is checked in every row read, also in those past the limit whose
// cells are not kept; a sheet in order reads.
TEST(XlsxReader, RowsAndCellsOutOfOrderPastTheLimitAreDamageToo) {
  const std::string first = "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>";
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"rows", first + "<row r=\"3001\"><c r=\"A3001\"><v>2</v></c></row><row r=\"76\"><c r=\"A76\"><v>3</v></c></row>"},
      {"cells", first + "<row r=\"3001\"><c r=\"D3001\"><v>2</v></c><c r=\"A3001\"><v>3</v></c></row>"},
      {"cell of another row", first + "<row r=\"3001\"><c r=\"A75\"><v>2</v></c></row>"},
  };
  for (const auto& [what, data] : cases) {
    Book book;
    book.sheetData = data;
    EXPECT_FALSE(ReadBook(Members(book), 3000).has_value()) << what;
  }
  Book inOrder;
  inOrder.sheetData = first + "<row r=\"3001\"><c r=\"A3001\"><v>2</v></c><c r=\"D3001\"><v>3</v></c></row>";
  const auto cells = ReadBook(Members(inOrder), 3000);
  ASSERT_TRUE(cells.has_value());
  EXPECT_EQ(TextAt(*cells, 1, 1), Show(std::string("1")));
  EXPECT_FALSE(cells->Find(3001, 1).has_value());
}

TEST(XlsxReader, CrcOfTheSheetIsChecked) {
  Book book;
  book.sheetData = "<row r=\"1\"><c><v>1</v></c></row>";
  book.wrongCrc = true;
  EXPECT_FALSE(ReadBook(Members(book)).has_value()) << "deflated, read to its end";
  book.stored = true;
  EXPECT_FALSE(ReadBook(Members(book)).has_value()) << "stored, read to its end";
  book.sheetData = "<row r=\"1\"><c><v>1</v></c></row><row r=\"4000\"><c><v>2</v></c></row>";
  EXPECT_FALSE(ReadBook(Members(book)).has_value()) << "stored, past the limit: read to its end for the check";
  book.stored = false;
  EXPECT_FALSE(ReadBook(Members(book)).has_value()) << "deflated, past the limit: read to its end for the check";
  book.wrongCrc = false;
  EXPECT_TRUE(ReadBook(Members(book)).has_value());
  book.stored = true;
  EXPECT_TRUE(ReadBook(Members(book)).has_value());
}

TEST(XlsxReader, PartNamesResolve) {
  struct Case {
    const char* target;
    const char* part;
    bool readable;
  };
  const std::vector<Case> cases = {
      {"worksheets/sheet1.xml", "xl/worksheets/sheet1.xml", true},
      {"/xl/worksheets/sheet1.xml", "xl/worksheets/sheet1.xml", true},
      {"./worksheets/../worksheets/sheet1.xml", "xl/worksheets/sheet1.xml", true},
      {"../data/s.xml", "data/s.xml", true},
      {"Worksheets/SHEET1.xml", "xl/worksheets/sheet1.xml", true},
      {"../../s.xml", "s.xml", false},
      {"worksheets/missing.xml", "xl/worksheets/sheet1.xml", false},
  };
  for (const auto& c : cases) {
    Book book;
    book.sheetData = "<row r=\"1\"><c r=\"A1\"><v>7</v></c></row>";
    book.sheetTarget = c.target;
    book.sheetPart = c.part;
    const auto cells = ReadBook(Members(book));
    EXPECT_EQ(cells.has_value(), c.readable) << c.target;
    if (cells) {
      EXPECT_EQ(TextAt(*cells, 1, 1), Show(std::string("7"))) << c.target;
    }
  }
}

TEST(XlsxReader, ActiveTabOutOfRangeAndDate1904) {
  Book book;
  book.sheetData = "<row r=\"1\"><c r=\"A1\" s=\"1\"><v>1</v></c></row>";
  book.workbookExtra = "<workbookPr date1904=\"1\"/><bookViews><workbookView activeTab=\"5\"/></bookViews>";
  const auto cells = ReadBook(Members(book));
  ASSERT_TRUE(cells.has_value());
  EXPECT_EQ(TextAt(*cells, 1, 1), Show(std::string("2.1.1904")));
}

TEST(XlsxReader, WithoutPackageRelationshipsTheUsualWorkbookPartIsRead) {
  Book book;
  book.sheetData = "<row r=\"1\"><c r=\"A1\"><v>3</v></c></row>";
  auto members = Members(book);
  members.erase(members.begin());
  const auto cells = ReadBook(members);
  ASSERT_TRUE(cells.has_value());
  EXPECT_EQ(TextAt(*cells, 1, 1), Show(std::string("3")));
}

TEST(XlsxReader, LongRunsWithoutElementsAreDamage) {
  Book book;
  book.sheetData = "<row r=\"1\"><c r=\"A1\"><v>3</v></c></row>" + std::string(20u << 20, ' ') +
                   "<row r=\"2\"><c r=\"A2\"><v>4</v></c></row>";
  EXPECT_FALSE(ReadBook(Members(book)).has_value());
  book.sheetData = "<row r=\"1\"><c r=\"A1\"><v>3</v></c></row>" + std::string(1u << 20, ' ') +
                   "<row r=\"2\"><c r=\"A2\"><v>4</v></c></row>";
  const auto cells = ReadBook(Members(book));
  ASSERT_TRUE(cells.has_value());
  EXPECT_EQ(TextAt(*cells, 2, 1), Show(std::string("4")));
}

}  // namespace
}  // namespace ratemover::spreadsheet
