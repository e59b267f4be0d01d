// The .ods reader through the public reading interfaces: the test workbooks
// written by LibreOffice, damaged copies of them, and small packages built
// here to pin down one rule each.
#include <gtest/gtest.h>

#include <ctime>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include "spreadsheet/cell_text.h"
#include "spreadsheet/session.h"
#include "spreadsheet/sheet_cells.h"
#include "spreadsheet/workbook_reader.h"
#include "tests/support/zip_writer.h"
#include "tests/spreadsheet/catalogue.h"

namespace ratemover::spreadsheet {
namespace {

const std::string kWorkbooks = std::string(RATEMOVER_TEST_DATA) + "/workbooks/";

// The text the session gives for a stored cell; empty for one not stored.
CellText TextAt(const SheetCells& cells, std::int32_t row, std::int32_t column) {
  const std::optional<CellValue> value = cells.Find(row, column);
  if (!value) return std::string();
  return TextOfCell(*value, cells.GetDateSystem());
}

// ---------------------------------------------------------------------------
// A ZIP writer for packages built in the tests (members stored, not deflated).

using Member = ratemover::testsupport::ZipMember;

std::string StoredZipOf(std::vector<Member> members) {
  for (auto& member : members) member.stored = true;
  return ratemover::testsupport::ZipOf(members);
}

constexpr const char* kMimeType = "application/vnd.oasis.opendocument.spreadsheet";

// content.xml around the given tables.
std::string ContentXml(const std::string& tables) {
  return R"~(<?xml version="1.0" encoding="UTF-8"?>)~"
         R"~(<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0")~"
         R"~( xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0")~"
         R"~( xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0")~"
         R"~( xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0")~"
         R"~( xmlns:dc="http://purl.org/dc/elements/1.1/")~"
         R"~( xmlns:calcext="urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0")~"
         R"~( office:version="1.3"><office:body><office:spreadsheet>)~" +
         tables + "</office:spreadsheet></office:body></office:document-content>";
}

// settings.xml naming the active table.
std::string SettingsXml(const std::string& activeTable) {
  return R"~(<?xml version="1.0" encoding="UTF-8"?>)~"
         R"~(<office:document-settings xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0")~"
         R"~( xmlns:config="urn:oasis:names:tc:opendocument:xmlns:config:1.0"><office:settings>)~"
         R"~(<config:config-item-set config:name="ooo:view-settings">)~"
         R"~(<config:config-item-map-indexed config:name="Views"><config:config-item-map-entry>)~"
         R"~(<config:config-item config:name="ViewId" config:type="string">view1</config:config-item>)~"
         R"~(<config:config-item-map-named config:name="Tables"><config:config-item-map-entry config:name="A">)~"
         R"~(<config:config-item config:name="ActiveTable" config:type="string">NotThisOne</config:config-item>)~"
         R"~(</config:config-item-map-entry></config:config-item-map-named>)~"
         R"~(<config:config-item config:name="ActiveTable" config:type="string">)~" +
         activeTable +
         R"~(</config:config-item></config:config-item-map-entry>)~"
         R"~(<config:config-item-map-entry><config:config-item config:name="ActiveTable" config:type="string">)~"
         R"~(SecondView</config:config-item></config:config-item-map-entry>)~"
         R"~(</config:config-item-map-indexed></config:config-item-set></office:settings></office:document-settings>)~";
}

std::string Table(const std::string& name, const std::string& rows) {
  return "<table:table table:name=\"" + name + "\">" + rows + "</table:table>";
}

// A package of a mimetype and a content.xml, with settings.xml when given.
std::string Package(const std::string& content, const std::optional<std::string>& settings = std::nullopt) {
  std::vector<Member> members = {{"mimetype", kMimeType}};
  if (settings) members.push_back({"settings.xml", *settings});
  members.push_back({"content.xml", content});
  return StoredZipOf(members);
}

class TempFile {
 public:
  explicit TempFile(const std::string& bytes) {
    static int counter = 0;
    path_ = (std::filesystem::temp_directory_path() /
             ("ods_reader_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + ".ods"))
                .string();
    std::ofstream(path_, std::ios::binary) << bytes;
  }
  ~TempFile() { std::filesystem::remove(path_); }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Reads a package built here: false when it cannot be opened.
bool ReadPackage(const std::string& bytes, SheetCells& cells, std::int32_t rowLimit = 3000) {
  const TempFile file(bytes);
  return static_cast<bool>(ReadActiveSheetFromFile(file.Path(), rowLimit, cells));
}

// The text of cell A1 of a one-table package whose only row is given.
std::optional<CellText> A1Of(const std::string& row) {
  SheetCells cells;
  if (!ReadPackage(Package(ContentXml(Table("T", row))), cells)) return std::nullopt;
  return TextAt(cells, 1, 1);
}

// ---------------------------------------------------------------------------
// The test workbooks.

TEST(OdsReader, CatalogueSheetCellByCell) {
  for (const char* file : {"types.ods", "types1904.ods"}) {
    SCOPED_TRACE(file);
    auto session = MakeWorkbookFileSession();
    ASSERT_TRUE(session->OdpriExcel());
    session->OdpriZvezek(kWorkbooks + file, false);
    // Tipi, the second table, is the active one.
    EXPECT_EQ(session->BeriCelico(1, 1), CellText("label"));
    EXPECT_EQ(session->BeriCelico(1, 2), CellText("value"));
    EXPECT_EQ(session->BeriCelico(1, 25), CellText("colY"));
    EXPECT_EQ(session->BeriCelico(1, 26), CellText("colZ"));
    for (const auto& cell : testdata::TipiColumnB()) {
      EXPECT_EQ(session->BeriCelico(cell.row, 2), cell.text) << "B" << cell.row << " " << cell.label;
    }
    EXPECT_EQ(session->BeriCelico(46, 2), CellText(""));
    EXPECT_EQ(session->BeriCelico(2, 3), CellText(""));
    session->ZapriExcel();
  }
}

TEST(OdsReader, DataSheetOf3005Rows) {
  SheetCells cells;
  ASSERT_TRUE(ReadActiveSheetFromFile(kWorkbooks + "data3000.ods", 3000, cells));
  // Tecajnica, not the first table Navodila.
  EXPECT_EQ(TextAt(cells, 1, 1), CellText("DATUM"));
  EXPECT_EQ(TextAt(cells, 1, 6), CellText("DVOJNO"));
  EXPECT_EQ(TextAt(cells, 2, 1), CellText("5.3.2024"));
  EXPECT_EQ(TextAt(cells, 2, 2), CellText("ZVTG"));
  EXPECT_EQ(TextAt(cells, 2, 3), CellText("Dru\x9E" "ba ZVTG d.d."));
  EXPECT_EQ(TextAt(cells, 2, 4), CellText("2083"));
  EXPECT_EQ(TextAt(cells, 2, 5), CellText(""));
  EXPECT_EQ(TextAt(cells, 2, 6), CellText("4166"));
  EXPECT_EQ(TextAt(cells, 3, 4), CellText("4100,88"));
  EXPECT_EQ(TextAt(cells, 3, 6), CellText("8201,76"));
  // The last row read, and nothing beyond it.
  EXPECT_EQ(TextAt(cells, 3000, 1), CellText("5.3.2024"));
  EXPECT_NE(TextAt(cells, 3000, 2), CellText(""));
  EXPECT_FALSE(cells.Find(3001, 2).has_value());
  EXPECT_FALSE(cells.Find(3005, 2).has_value());

  // A symbol with a Slovene letter, a price of 0 every 97th row, an index flag every 10th.
  bool slovene = false;
  for (std::int32_t row = 2; row <= 3000 && !slovene; ++row) {
    const auto symbol = TextAt(cells, row, 2);
    slovene = symbol->find_first_of("\xC8\x8A\x8E") != std::string::npos;
  }
  EXPECT_TRUE(slovene);
  int flags = 0;
  int zeros = 0;
  for (std::int32_t row = 2; row <= 3000; ++row) {
    flags += TextAt(cells, row, 5) == CellText("X");
    zeros += TextAt(cells, row, 4) == CellText("0");
    EXPECT_NE(TextAt(cells, row, 2), CellText("")) << row;
  }
  EXPECT_GT(flags, 250);
  EXPECT_GT(zeros, 25);

  // Rows beyond 3000 when asked for.
  ASSERT_TRUE(ReadActiveSheetFromFile(kWorkbooks + "data3000.ods", 3005, cells));
  EXPECT_EQ(TextAt(cells, 3005, 2), CellText("CICG3005"));
  EXPECT_EQ(TextAt(cells, 3005, 4), CellText("1768,22"));
  EXPECT_EQ(TextAt(cells, 3005, 6), CellText("3536,44"));
  EXPECT_FALSE(cells.Find(3006, 2).has_value());
}

TEST(OdsReader, SparseSheetStoresOnlyWhatIsThere) {
  SheetCells cells;
  ASSERT_TRUE(ReadActiveSheetFromFile(kWorkbooks + "sparse.ods", 3000, cells));
  EXPECT_EQ(TextAt(cells, 1, 1), CellText("start"));
  EXPECT_EQ(cells.Size(), 1u);

  auto session = MakeWorkbookFileSession();
  ASSERT_TRUE(session->OdpriExcel());
  session->OdpriZvezek(kWorkbooks + "sparse.ods", false);
  EXPECT_EQ(session->BeriCelico(1, 1), CellText("start"));
  EXPECT_EQ(session->BeriCelico(1048576, 16384), CellText("1"));
  EXPECT_EQ(session->BeriCelico(1048576, 16383), CellText(""));
}

TEST(OdsReader, WorkbooksThatCannotBeOpened) {
  const char* files[] = {"types_pw.ods",        "bad/gzip.ods",  "bad/trunc_600.ods",
                         "bad/trunc_half.ods",  "bad/garbage_mid.ods", "bad/badxml.ods"};
  for (const char* file : files) {
    SCOPED_TRACE(file);
    SheetCells cells;
    EXPECT_FALSE(ReadActiveSheetFromFile(kWorkbooks + file, 3000, cells));
    EXPECT_EQ(cells.Size(), 0u);

    auto session = MakeWorkbookFileSession();
    ASSERT_TRUE(session->OdpriExcel());
    session->OdpriZvezek(kWorkbooks + file, false);
    for (std::int32_t row : {1, 2, 15, 1500, 3000}) {
      for (std::int32_t column : {1, 2, 4, 6}) {
        EXPECT_EQ(session->BeriCelico(row, column), CellText("")) << row << "," << column;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Packages built here.

struct CellCase {
  const char* what;
  std::string row;           // one <table:table-row>
  std::optional<std::string> text;  // the text of A1; no value for a read failure
};

TEST(OdsReader, CellValuesAndTexts) {
  const auto cell = [](const std::string& inner) { return "<table:table-row>" + inner + "</table:table-row>"; };
  const std::vector<CellCase> cases = {
      {"float", cell(R"~(<table:table-cell office:value-type="float" office:value="1234.5"><text:p>x</text:p></table:table-cell>)~"), "1234,5"},
      {"float with plus and exponent", cell(R"~(<table:table-cell office:value-type="float" office:value="+2.5E+003"/>)~"), "2500"},
      {"float without value", cell(R"~(<table:table-cell office:value-type="float"><text:p>1</text:p></table:table-cell>)~"), std::nullopt},
      {"float not a number", cell(R"~(<table:table-cell office:value-type="float" office:value="1,5"/>)~"), std::nullopt},
      {"float infinite", cell(R"~(<table:table-cell office:value-type="float" office:value="inf"/>)~"), std::nullopt},
      {"percentage", cell(R"~(<table:table-cell office:value-type="percentage" office:value="0.125"/>)~"), "0,125"},
      {"currency rounded to four decimals", cell(R"~(<table:table-cell office:value-type="currency" office:currency="EUR" office:value="1.234567"/>)~"), "1,2346"},
      {"date", cell(R"~(<table:table-cell office:value-type="date" office:date-value="2024-03-05"/>)~"), "5.3.2024"},
      {"date and time with fraction", cell(R"~(<table:table-cell office:value-type="date" office:date-value="2024-03-05T14:30:15.25"/>)~"), "5.3.2024 14:30:15"},
      {"date with zone", cell(R"~(<table:table-cell office:value-type="date" office:date-value="2024-02-29T00:00:00Z"/>)~"), "29.2.2024"},
      {"date not in the calendar", cell(R"~(<table:table-cell office:value-type="date" office:date-value="2023-02-29"/>)~"), std::nullopt},
      {"date malformed", cell(R"~(<table:table-cell office:value-type="date" office:date-value="5.3.2024"/>)~"), std::nullopt},
      {"time", cell(R"~(<table:table-cell office:value-type="time" office:time-value="PT08H05M09S"/>)~"), "8:05:09"},
      {"time with days", cell(R"~(<table:table-cell office:value-type="time" office:time-value="P1DT12H"/>)~"), "1.1.1900 12:00:00"},
      {"time malformed", cell(R"~(<table:table-cell office:value-type="time" office:time-value="14:30"/>)~"), std::nullopt},
      {"time of months", cell(R"~(<table:table-cell office:value-type="time" office:time-value="P1M"/>)~"), std::nullopt},
      {"boolean true", cell(R"~(<table:table-cell office:value-type="boolean" office:boolean-value="true"/>)~"), "True"},
      {"boolean false", cell(R"~(<table:table-cell office:value-type="boolean" office:boolean-value="false"/>)~"), "False"},
      {"boolean other", cell(R"~(<table:table-cell office:value-type="boolean" office:boolean-value="yes"/>)~"), std::nullopt},
      {"unknown value type", cell(R"~(<table:table-cell office:value-type="void"/>)~"), std::nullopt},
      {"string value wins over display", cell(R"~(<table:table-cell table:formula="of:=A" office:value-type="string" office:string-value="AB &amp; C"><text:p>AB EUR</text:p></table:table-cell>)~"), "AB & C"},
      {"error type", cell(R"~(<table:table-cell table:formula="of:=NA()" office:value-type="string" office:string-value="" calcext:value-type="error"><text:p>#N/A</text:p></table:table-cell>)~"), std::nullopt},
      {"error written as text", cell(R"~(<table:table-cell table:formula="of:=1/0" office:value-type="string" office:string-value=""><text:p>#DIV/0!</text:p></table:table-cell>)~"), std::nullopt},
      {"error code written as text", cell(R"~(<table:table-cell table:formula="of:=X" office:value-type="string"><text:p>Err:502</text:p></table:table-cell>)~"), std::nullopt},
      {"error written as a number", cell(R"~(<table:table-cell table:formula="of:=1/0" office:value-type="float" office:value="0"><text:p>#DIV/0!</text:p></table:table-cell>)~"), std::nullopt},
      {"number formula of the modern writer", cell(R"~(<table:table-cell table:formula="of:=1" office:value-type="float" office:value="0" calcext:value-type="float"><text:p>#DIV/0!</text:p></table:table-cell>)~"), "0"},
      {"error name typed as text", cell(R"~(<table:table-cell office:value-type="string"><text:p>#N/A</text:p></table:table-cell>)~"), "#N/A"},
      {"formula text result that looks like an error", cell(R"~(<table:table-cell table:formula="of:=X" office:value-type="string" office:string-value="#N/A" calcext:value-type="string"><text:p>#N/A</text:p></table:table-cell>)~"), "#N/A"},
      {"formula without cached result", cell(R"~(<table:table-cell table:formula="of:=1+1"/>)~"), std::nullopt},
      {"formula with empty text result", cell(R"~(<table:table-cell table:formula="of:=&quot;&quot;"><text:p/></table:table-cell>)~"), ""},
      {"text without value type", cell(R"~(<table:table-cell><text:p>plain</text:p></table:table-cell>)~"), "plain"},
      {"empty cell", cell(R"~(<table:table-cell/>)~"), ""},
      {"blanks from text:s", cell(R"~(<table:table-cell office:value-type="string"><text:p><text:s text:c="3"/>A<text:s/>B </text:p></table:table-cell>)~"), "   A B "},
      {"white space collapses", cell("<table:table-cell office:value-type=\"string\"><text:p>  A \t\n  B  </text:p></table:table-cell>"), "A B "},
      {"tab and line break", cell(R"~(<table:table-cell office:value-type="string"><text:p>A<text:tab/>B<text:line-break/>C</text:p></table:table-cell>)~"), "A\tB\nC"},
      {"paragraphs joined by line feeds", cell(R"~(<table:table-cell office:value-type="string"><text:p>one</text:p><text:p/><text:p>three</text:p></table:table-cell>)~"), "one\n\nthree"},
      {"spans and links", cell(R"~(<table:table-cell office:value-type="string"><text:p>a<text:span>b<text:a>c</text:a></text:span> d</text:p></table:table-cell>)~"), "abc d"},
      {"annotation and drawing are no content", cell(R"~(<table:table-cell office:value-type="string"><office:annotation><dc:creator>x</dc:creator><text:p>note</text:p></office:annotation><draw:frame><draw:text-box><text:p>box</text:p></draw:text-box></draw:frame><text:p>val</text:p></table:table-cell>)~"), "val"},
      {"character outside the code page", cell(R"~(<table:table-cell office:value-type="string"><text:p>a&#x4E2D;&#x10D;</text:p></table:table-cell>)~"), "a?\xE8"},
      {"covered cell with content", cell(R"~(<table:covered-table-cell office:value-type="float" office:value="7"/>)~"), "7"},
  };
  for (const auto& c : cases) {
    const auto text = A1Of(c.row);
    ASSERT_TRUE(text.has_value()) << c.what << ": cannot be opened";
    EXPECT_EQ(*text, c.text) << c.what;
  }
}

TEST(OdsReader, LongTextIsCutAtTheCellLimit) {
  const std::string longText(40000, 'a');
  const auto text = A1Of("<table:table-row><table:table-cell office:value-type=\"string\"><text:p>" + longText +
                         "</text:p></table:table-cell></table:table-row>");
  ASSERT_TRUE(text && *text);
  EXPECT_EQ(**text, std::string(32767, 'a'));
}

// Cells by position: which rows and columns repetitions cover, and where the
// reading stops.
TEST(OdsReader, RepetitionsAndRowLimit) {
  const std::string rows =
      R"~(<table:table-header-rows><table:table-row><table:table-cell office:value-type="string"><text:p>head</text:p></table:table-cell></table:table-row></table:table-header-rows>)~"
      R"~(<table:table-row table:number-rows-repeated="3"><table:table-cell table:number-columns-repeated="2"/>)~"
      R"~(<table:table-cell office:value-type="float" office:value="5" table:number-columns-repeated="2"/></table:table-row>)~"
      R"~(<table:table-row-group><table:table-rows><table:table-row table:number-rows-repeated="1000000000000000000000">)~"
      R"~(<table:table-cell table:number-columns-repeated="99999999999999999999"/></table:table-row>)~"
      R"~(</table:table-rows></table:table-row-group>)~"
      R"~(<table:table-row><table:table-cell office:value-type="string"><text:p>unreachable</text:p></table:table-cell></table:table-row>)~";
  SheetCells cells;
  ASSERT_TRUE(ReadPackage(Package(ContentXml(Table("T", rows))), cells, 3));
  EXPECT_EQ(TextAt(cells, 1, 1), CellText("head"));
  EXPECT_EQ(TextAt(cells, 2, 3), CellText("5"));
  EXPECT_EQ(TextAt(cells, 2, 4), CellText("5"));
  EXPECT_EQ(TextAt(cells, 3, 4), CellText("5"));
  EXPECT_EQ(TextAt(cells, 2, 5), CellText(""));
  EXPECT_EQ(TextAt(cells, 2, 2), CellText(""));
  EXPECT_FALSE(cells.Find(4, 3).has_value());  // row 4 is beyond the limit of 3
  EXPECT_EQ(cells.Size(), 5u);

  // A value repeated across the widest row stops at column XFD.
  ASSERT_TRUE(ReadPackage(Package(ContentXml(Table("T",
      R"~(<table:table-row><table:table-cell table:number-columns-repeated="16380"/>)~"
      R"~(<table:table-cell office:value-type="float" office:value="1" table:number-columns-repeated="100"/></table:table-row>)~"))), cells));
  EXPECT_EQ(TextAt(cells, 1, 16384), CellText("1"));
  EXPECT_FALSE(cells.Find(1, 16385).has_value());
  EXPECT_EQ(cells.Size(), 4u);
}

TEST(OdsReader, RepeatedRowsWithinBoundsAreStored) {
  // 3000 rows of 25 columns, as a full price list has them.
  std::string row = R"~(<table:table-row table:number-rows-repeated="3000">)~";
  for (int column = 1; column <= 25; ++column) {
    row += R"~(<table:table-cell office:value-type="float" office:value=")~" + std::to_string(column) + R"~("/>)~";
  }
  row += "</table:table-row>";
  SheetCells cells;
  ASSERT_TRUE(ReadPackage(Package(ContentXml(Table("T", row))), cells));
  EXPECT_EQ(cells.Size(), 75000u);
  EXPECT_EQ(TextAt(cells, 3000, 25), CellText("25"));
  EXPECT_EQ(TextAt(cells, 1, 1), CellText("1"));
}

TEST(OdsReader, RepeatBombsCannotBeOpened) {
  const std::string longText(30000, 'x');
  for (const std::string& rows : {
           std::string(R"~(<table:table-row table:number-rows-repeated="1048576">)~"
                       R"~(<table:table-cell office:value-type="float" office:value="1" table:number-columns-repeated="16384"/></table:table-row>)~"),
           R"~(<table:table-row table:number-rows-repeated="3000"><table:table-cell office:value-type="string" table:number-columns-repeated="10"><text:p>)~" +
               longText + "</text:p></table:table-cell></table:table-row>"}) {
    // Refused without being spread out: a few milliseconds here, hours spread
    // out. The bound is on CPU time, generous, so that a busy machine does not
    // fail it.
    const std::clock_t start = std::clock();
    SheetCells cells;
    const TempFile file(Package(ContentXml(Table("T", rows))));
    const SheetRead read = ReadActiveSheetFromFile(file.Path(), 3000, cells);
    ASSERT_FALSE(read);
    EXPECT_STREQ(read.failure->what(), "too large: content.xml: more cells or text than a price list holds");
    EXPECT_EQ(cells.Size(), 0u);
    EXPECT_LT(std::clock() - start, 2 * CLOCKS_PER_SEC);
  }
}

// A bomb in a table that is not the active one costs nothing; in the table
// that stands in for an unknown active one, it cannot be opened.
TEST(OdsReader, RepeatBombInTheFirstTable) {
  const std::string tables =
      Table("Bomba", R"~(<table:table-row table:number-rows-repeated="5000"><table:table-cell office:value-type="float" office:value="1" table:number-columns-repeated="16384"/></table:table-row>)~") +
      Table("Cene", R"~(<table:table-row><table:table-cell office:value-type="float" office:value="2"/></table:table-row>)~");
  SheetCells cells;
  ASSERT_TRUE(ReadPackage(Package(ContentXml(tables), SettingsXml("Cene")), cells));
  EXPECT_EQ(TextAt(cells, 1, 1), CellText("2"));
  EXPECT_EQ(cells.Size(), 1u);
  EXPECT_FALSE(ReadPackage(Package(ContentXml(tables), SettingsXml("Nobena")), cells));
  EXPECT_FALSE(ReadPackage(Package(ContentXml(tables)), cells));
}

TEST(OdsReader, ActiveTable) {
  const std::string tables = Table("Prvi", R"~(<table:table-row><table:table-cell office:value-type="string"><text:p>first</text:p></table:table-cell></table:table-row>)~") +
                             Table("Drugi", R"~(<table:table-row><table:table-cell office:value-type="string"><text:p>second</text:p></table:table-cell></table:table-row>)~") +
                             Table("Tretji &amp; zadnji", R"~(<table:table-row><table:table-cell/><table:table-cell office:value-type="string"><text:p>third</text:p></table:table-cell></table:table-row>)~");
  struct Case {
    const char* what;
    std::optional<std::string> settings;
    std::int32_t column;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"no settings", std::nullopt, 1, "first"},
      {"second named", SettingsXml("Drugi"), 1, "second"},
      {"last named, with an entity", SettingsXml("Tretji &amp; zadnji"), 2, "third"},
      {"unknown name", SettingsXml("Nobena"), 1, "first"},
      {"name in another case", SettingsXml("drugi"), 1, "first"},
      {"settings without views", std::string(R"~(<office:document-settings xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"/>)~"), 1, "first"},
  };
  for (const auto& c : cases) {
    SheetCells cells;
    ASSERT_TRUE(ReadPackage(Package(ContentXml(tables), c.settings), cells)) << c.what;
    EXPECT_EQ(TextAt(cells, 1, c.column), CellText(c.text)) << c.what;
    EXPECT_EQ(cells.Size(), 1u) << c.what;
  }
}

TEST(OdsReader, PackagesThatCannotBeOpened) {
  const std::string good = ContentXml(Table("T", R"~(<table:table-row><table:table-cell office:value-type="float" office:value="1"/></table:table-row>)~"));
  const std::string twoTables =
      ContentXml(Table("A", "<table:table-row/>") + Table("B", R"~(<table:table-row><table:table-cell office:value-type="float" office:value="2"/></table:table-row>)~"));
  const std::string encryptedManifest =
      R"~(<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0">)~"
      R"~(<manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.spreadsheet"/>)~"
      R"~(<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml" manifest:size="100">)~"
      R"~(<manifest:encryption-data manifest:checksum-type="SHA1/1K" manifest:checksum="x"/></manifest:file-entry></manifest:manifest>)~";
  struct Case {
    const char* what;
    std::string bytes;
    bool opens;
  };
  const std::vector<Case> cases = {
      {"intact", Package(good), true},
      {"no mimetype, content.xml", StoredZipOf({{"content.xml", good}}), true},
      {"text document", StoredZipOf({{"mimetype", "application/vnd.oasis.opendocument.text"}, {"content.xml", good}}), false},
      {"no content", StoredZipOf({{"mimetype", kMimeType}}), false},
      {"content without a spreadsheet", Package("<a/>"), false},
      {"content cut inside the table", Package(good.substr(0, good.find("</table:table>"))), false},
      {"content cut after the table", Package(good.substr(0, good.find("</office:spreadsheet>"))), false},
      {"content cut before the active table", Package(twoTables.substr(0, twoTables.find("table:name=\"B\"")), SettingsXml("B")), false},
      {"active table cut", Package(twoTables.substr(0, twoTables.rfind("</table:table>")), SettingsXml("B")), false},
      {"document type declaration", Package("<!DOCTYPE x [<!ENTITY e \"1\">]>" + good), false},
      {"malformed settings", Package(good, SettingsXml("T").substr(0, 300)), false},
      {"encrypted content", StoredZipOf({{"mimetype", kMimeType}, {"META-INF/manifest.xml", encryptedManifest}, {"content.xml", good}}), false},
  };
  for (const auto& c : cases) {
    SheetCells cells;
    EXPECT_EQ(ReadPackage(c.bytes, cells), c.opens) << c.what;
    if (!c.opens) {
      EXPECT_EQ(cells.Size(), 0u) << c.what;
    }
  }
}

// A sheet that breaks off cannot be opened, even where it breaks off only
// beyond the row limit: the whole part is read.
TEST(OdsReader, TruncationBeyondTheRowLimitIsDamageToo) {
  std::string rows;
  for (int row = 1; row <= 10; ++row) {
    rows += R"~(<table:table-row><table:table-cell office:value-type="float" office:value=")~" + std::to_string(row) +
            R"~("/></table:table-row>)~";
  }
  const std::string content = ContentXml(Table("T", rows));
  const std::string cut = content.substr(0, content.find("value=\"8\""));
  SheetCells cells;
  for (const std::int32_t limit : {8, 7, 2}) {
    EXPECT_FALSE(ReadPackage(Package(cut), cells, limit)) << limit;
    EXPECT_EQ(cells.Size(), 0u) << limit;
  }
  ASSERT_TRUE(ReadPackage(Package(content), cells, 7));
  EXPECT_EQ(TextAt(cells, 7, 1), CellText("7"));
  EXPECT_FALSE(cells.Find(8, 1).has_value());
}

}  // namespace
}  // namespace ratemover::spreadsheet
