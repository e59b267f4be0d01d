// The XML Spreadsheet 2003 reader through the public interfaces: the file
// session for the documents that LibreOffice and SheetJS wrote,
// ReadActiveSheetFromFile for documents written here to reach one rule at a
// time.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "spreadsheet/cell_text.h"
#include "spreadsheet/session.h"
#include "spreadsheet/workbook_reader.h"
#include "tests/spreadsheet/catalogue.h"
#include "tests/support/cpu_time.h"
#include "tests/spreadsheet/reader_test_support.h"

namespace ratemover::spreadsheet {
namespace {

namespace fs = std::filesystem;

using readertest::Show;

const std::string kXml2003 = readertest::kWorkbooks + "xml2003/";

// Cells as Show gives them.
struct OpenedWorkbook : readertest::OpenedWorkbook {
  using readertest::OpenedWorkbook::OpenedWorkbook;
  std::string Cell(std::int32_t row, std::int32_t column) { return Show(readertest::OpenedWorkbook::Cell(row, column)); }
};

// A document written to a file of its own, read whole.
class Document {
 public:
  explicit Document(const std::string& bytes, const char* extension = ".xml") {
    path_ = fs::temp_directory_path() / ("xml2003_test_" + std::to_string(getpid()) + "_" +
                                         std::to_string(counter_++) + extension);
    std::ofstream(path_, std::ios::binary) << bytes;
  }
  ~Document() { fs::remove(path_); }
  const fs::path& Path() const { return path_; }
  SheetRead Read(std::int32_t rowLimit = 3000) { return ReadActiveSheetFromFile(path_.string(), rowLimit, cells_); }
  std::string Text(std::int32_t row, std::int32_t column) const {
    const std::optional<CellValue> value = cells_.Find(row, column);
    return Show(!value ? CellText(std::string()) : TextOfCell(*value, cells_.GetDateSystem()));
  }
  const SheetCells& Cells() const { return cells_; }

 private:
  static inline int counter_ = 0;
  fs::path path_;
  SheetCells cells_;
};

const std::string kOpen =
    "<?xml version=\"1.0\"?>\n<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\" "
    "xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\" xmlns:x=\"urn:schemas-microsoft-com:office:excel\" "
    "xmlns:html=\"http://www.w3.org/TR/REC-html40\">";
const std::string kClose = "</Workbook>";

// A workbook of one worksheet holding these rows, after these styles.
std::string OneSheet(const std::string& rows, const std::string& styles = "") {
  return kOpen + "<Styles>" + styles + "</Styles><Worksheet ss:Name=\"A\"><Table>" + rows + "</Table></Worksheet>" +
         kClose;
}

// --- the catalogue sheet as LibreOffice and SheetJS wrote it ---

struct CatalogueSource {
  const char* file;
  // Cells that the writer itself changed, with what its document holds.
  std::map<int, std::optional<std::string>> writerChanged;
};

class Xml2003Catalogue : public testing::TestWithParam<CatalogueSource> {};

TEST_P(Xml2003Catalogue, EveryCellOfColumnBReadsAsTheDocumentHoldsIt) {
  const CatalogueSource& source = GetParam();
  OpenedWorkbook book(kXml2003 + source.file);
  for (const auto& cell : testdata::TipiColumnB()) {
    const auto changed = source.writerChanged.find(cell.row);
    const std::optional<std::string> expected = changed != source.writerChanged.end() ? changed->second : cell.text;
    EXPECT_EQ(book.Cell(cell.row, 2), Show(expected)) << source.file << " B" << cell.row << " " << cell.label;
  }
  // The active sheet is "Tipi", the second one; a cell without a value is empty.
  EXPECT_EQ(book.Cell(1, 1), Show(std::string("label")));
  EXPECT_EQ(book.Cell(1, 25), Show(std::string("colY")));
  EXPECT_EQ(book.Cell(1, 26), Show(std::string("colZ")));
  EXPECT_EQ(book.Cell(2, 26), Show(std::string("")));
  EXPECT_EQ(book.Cell(46, 2), Show(std::string("")));
}

INSTANTIATE_TEST_SUITE_P(
    Writers, Xml2003Catalogue,
    testing::Values(
        // LibreOffice writes a boolean as the Number 1 or 0 (format "Fixed"),
        // a third leading blank into "  ABC  ", and dates as DateTime, so row
        // 34 is the 15 January it typed.
        CatalogueSource{"types_libreoffice.xml",
                        {{12, std::string("1")},
                         {21, std::string("1")},
                         {39, std::string("0")},
                         {26, std::string("   ABC  ")}}},
        // SheetJS writes the serials and format codes of the .xlsx.
        CatalogueSource{"types_sheetjs.xml", {{34, testdata::Row34Text(true)}}}));

TEST(Xml2003Reader, MergedCellsRichTextAndTheActiveSheetAsLibreOfficeWroteThem) {
  OpenedWorkbook book(kXml2003 + "features_libreoffice.xml");
  const std::vector<std::tuple<int, int, CellText>> expected = {
      {1, 1, std::string("zdru\x9E" "eno")},  // MergeAcross="2": B1 and C1 covered
      {1, 2, std::string("")},
      {1, 3, std::string("")},
      {1, 4, std::string("desno")},
      {2, 1, std::string("1,5")},
      {2, 2, std::string("navzdol")},  // MergeDown="2": B3 and B4 covered
      {3, 1, std::string("2,5")},
      {3, 2, std::string("")},
      {4, 1, std::string("3,5")},
      {4, 2, std::string("")},
      {5, 1, std::string("Krka d.d.")},  // <B>Kr</B>ka <I>d.d.</I>
      {6, 1, std::string("5.3.2024")},   // Short Date
      {6, 2, std::string("12,5")},       // Euro Currency
      {6, 3, std::string("0,25")},       // Percent
      {7, 1, std::nullopt},              // =1/0, written as the String "#DIV/0!"
      {7, 2, std::string("6.3.2024")},
      {8, 1, std::string("")},
  };
  for (const auto& [row, column, text] : expected) {
    EXPECT_EQ(book.Cell(row, column), Show(text)) << "row " << row << " column " << column;
  }
}

// With values right of a merged-down area, LibreOffice writes the cells of the
// rows below as if the covered cell were not there: by the index rule the first
// lands on the covered cell. Refused, never read one column off.
TEST(Xml2003Reader, ValuesShiftedOntoAMergedAreaCannotBeOpened) {
  SheetCells cells;
  const SheetRead read = ReadActiveSheetFromFile(kXml2003 + "mergedown_libreoffice.xml", 3000, cells);
  ASSERT_FALSE(read);
  EXPECT_EQ(read.failure->Reason(), OpenFailure::Damaged);
  EXPECT_EQ(cells.Size(), 0u);
}

TEST(Xml2003Reader, Data3000ReadsRowsUpToTheLimitAndNoFurther) {
  SheetCells cells;
  ASSERT_TRUE(ReadActiveSheetFromFile(kXml2003 + "data3000.xml", 3000, cells));
  const auto text = [&cells](std::int32_t row, std::int32_t column) {
    const std::optional<CellValue> value = cells.Find(row, column);
    return Show(!value ? CellText(std::string()) : TextOfCell(*value, cells.GetDateSystem()));
  };
  EXPECT_EQ(text(1, 1), Show(std::string("DATUM")));
  EXPECT_EQ(text(2, 1), Show(std::string("5.3.2024")));
  EXPECT_EQ(text(2, 2), Show(std::string("ZVTG")));
  EXPECT_EQ(text(2, 4), Show(std::string("2083")));
  EXPECT_EQ(text(3, 4), Show(std::string("4100,88")));
  EXPECT_EQ(text(3000, 1), Show(std::string("5.3.2024")));
  EXPECT_FALSE(cells.Find(3001, 1).has_value());
  EXPECT_FALSE(cells.Find(1048576, 6).has_value());

  ASSERT_TRUE(ReadActiveSheetFromFile(kXml2003 + "data3000.xml", 10, cells));
  EXPECT_TRUE(cells.Find(10, 2).has_value());
  EXPECT_FALSE(cells.Find(11, 2).has_value());
}

// --- against LibreOffice's reading of the same documents ---

// LibreOffice's .xlsx of each document (its "MS Excel 2003 XML" import), cell
// by cell against this reader, with the cells where they differ and why.
TEST(Xml2003Reader, ReadsAsLibreOfficeReadsTheSameFiles) {
  const auto differ = [](const std::string& name) {
    return readertest::CellsThatDiffer("xml2003/" + name + ".xml", "xml2003_libreoffice/" + name + ".xlsx");
  };
  // LibreOffice cannot read back the "of:=" formulas it writes: each formula
  // cell becomes an error, where this reader takes the cached result (the
  // formula errors B13, B14, B32, B40, B45 are read failures in both). It
  // drops the time of day of the DateTime 2024-03-05T14:30:15 (B16), and
  // writes 15 January 1900 (B34) as its own serial 16, which the .xlsx's 1900
  // system, with its 29 February 1900, shows as 16 January.
  EXPECT_EQ(differ("types_libreoffice"),
            (std::vector<std::string>{"B10 \"84\" <read failure>", "B11 \"AB\" <read failure>",
                                      "B12 \"1\" <read failure>", "B16 \"5.3.2024 14:30:15\" \"5.3.2024\"",
                                      "B21 \"1\" <read failure>", "B25 \"5.3.2024\" <read failure>",
                                      "B28 \"111\" <read failure>", "B33 \"\" <read failure>",
                                      "B34 \"15.1.1900\" \"16.1.1900\"", "B39 \"0\" <read failure>",
                                      "B42 \"0\" <read failure>", "B43 \"0,3\" <read failure>"}));
  // SheetJS's document has Boolean data, which LibreOffice keeps as the numbers 1 and 0.
  EXPECT_EQ(differ("types_sheetjs"), (std::vector<std::string>{"B12 \"True\" \"1\"", "B39 \"False\" \"0\""}));
  // B7 is the formula of:=[.A6]+1.
  EXPECT_EQ(differ("features_libreoffice"), std::vector<std::string>{"B7 \"6.3.2024\" <read failure>"});
  // The price list agrees but for the formulas of:=[.D2]*2 and on in F2 to F3005.
  const std::vector<std::string> prices = differ("data3000");
  ASSERT_EQ(prices.size(), 3004u);
  for (std::size_t i = 0; i < prices.size(); ++i) {
    const std::string cell = "F" + std::to_string(i + 2) + " ";
    EXPECT_EQ(prices[i].substr(0, cell.size()), cell);
    EXPECT_EQ(prices[i].substr(prices[i].size() - 15), " <read failure>") << prices[i];
  }
}

// In mergedown_libreoffice.xml the values right of the merged-down A2:A4 sit
// one column left of their place in mergedown.fods (B3 2.5, C3 c3, B4 3.5).
// This reader refuses the document (ValuesShiftedOntoAMergedAreaCannotBeOpened);
// LibreOffice reads them where the index rule puts them, onto the covered A3
// and A4: every value of those rows one column off.
TEST(Xml2003Reader, LibreOfficeReadsShiftedValuesOntoTheMergedArea) {
  SheetCells cells;
  const std::string libreOffice = readertest::kWorkbooks + "xml2003_libreoffice/mergedown_libreoffice.xlsx";
  ASSERT_TRUE(ReadActiveSheetFromFile(libreOffice, 3000, cells));
  EXPECT_EQ(readertest::TextAt(cells, 3, 1), Show(std::string("2,5")));
  EXPECT_EQ(readertest::TextAt(cells, 3, 2), Show(std::string("c3")));
  EXPECT_EQ(readertest::TextAt(cells, 4, 1), Show(std::string("3,5")));
  EXPECT_EQ(readertest::TextAt(cells, 3, 3), Show(std::string("")));
  EXPECT_EQ(readertest::TextAt(cells, 4, 2), Show(std::string("")));
  EXPECT_FALSE(ReadActiveSheetFromFile(kXml2003 + "mergedown_libreoffice.xml", 3000, cells));
}

// --- one rule at a time ---

struct CellCase {
  const char* what;
  std::string document;
  std::vector<std::tuple<int, int, CellText>> expected;
};

TEST(Xml2003Reader, CellRules) {
  const std::string dated = "<Style ss:ID=\"d\"><NumberFormat ss:Format=\"Short Date\"/></Style>";
  const std::vector<CellCase> cases = {
      {"every named format reads as its kind",
       OneSheet("<Row>"
                "<Cell ss:StyleID=\"gd\"><Data ss:Type=\"Number\">45356.5</Data></Cell>"
                "<Cell ss:StyleID=\"sd\"><Data ss:Type=\"Number\">45356</Data></Cell>"
                "<Cell ss:StyleID=\"md\"><Data ss:Type=\"Number\">45356</Data></Cell>"
                "<Cell ss:StyleID=\"ld\"><Data ss:Type=\"Number\">45356</Data></Cell>"
                "<Cell ss:StyleID=\"lt\"><Data ss:Type=\"Number\">0.5</Data></Cell>"
                "<Cell ss:StyleID=\"mt\"><Data ss:Type=\"Number\">0.75</Data></Cell>"
                "<Cell ss:StyleID=\"st\"><Data ss:Type=\"Number\">0.25</Data></Cell>"
                "</Row><Row>"
                "<Cell ss:StyleID=\"cu\"><Data ss:Type=\"Number\">1.234567</Data></Cell>"
                "<Cell ss:StyleID=\"eu\"><Data ss:Type=\"Number\">1.234567</Data></Cell>"
                "</Row><Row>"
                "<Cell ss:StyleID=\"g\"><Data ss:Type=\"Number\">45356</Data></Cell>"
                "<Cell ss:StyleID=\"gn\"><Data ss:Type=\"Number\">45356</Data></Cell>"
                "<Cell ss:StyleID=\"fx\"><Data ss:Type=\"Number\">1.234567</Data></Cell>"
                "<Cell ss:StyleID=\"sn\"><Data ss:Type=\"Number\">1.234567</Data></Cell>"
                "<Cell ss:StyleID=\"pc\"><Data ss:Type=\"Number\">0.125</Data></Cell>"
                "<Cell ss:StyleID=\"sc\"><Data ss:Type=\"Number\">45356</Data></Cell>"
                "<Cell ss:StyleID=\"yn\"><Data ss:Type=\"Number\">1</Data></Cell>"
                "<Cell ss:StyleID=\"tf\"><Data ss:Type=\"Number\">0</Data></Cell>"
                "<Cell ss:StyleID=\"oo\"><Data ss:Type=\"Number\">1</Data></Cell>"
                "<Cell ss:StyleID=\"nf\"><Data ss:Type=\"Number\">45356</Data></Cell>"
                "</Row><Row>"
                "<Cell ss:StyleID=\"c1\"><Data ss:Type=\"Number\">45356</Data></Cell>"
                "<Cell ss:StyleID=\"c2\"><Data ss:Type=\"Number\">1.234567</Data></Cell>"
                "<Cell ss:StyleID=\"c3\"><Data ss:Type=\"Number\">45356</Data></Cell>"
                "<Cell ss:StyleID=\"short date\"><Data ss:Type=\"Number\">45356</Data></Cell>"
                "</Row>",
                "<Style ss:ID=\"gd\"><NumberFormat ss:Format=\"General Date\"/></Style>"
                "<Style ss:ID=\"sd\"><NumberFormat ss:Format=\"Short Date\"/></Style>"
                "<Style ss:ID=\"md\"><NumberFormat ss:Format=\"Medium Date\"/></Style>"
                "<Style ss:ID=\"ld\"><NumberFormat ss:Format=\"Long Date\"/></Style>"
                "<Style ss:ID=\"lt\"><NumberFormat ss:Format=\"Long Time\"/></Style>"
                "<Style ss:ID=\"mt\"><NumberFormat ss:Format=\"Medium Time\"/></Style>"
                "<Style ss:ID=\"st\"><NumberFormat ss:Format=\"Short Time\"/></Style>"
                "<Style ss:ID=\"cu\"><NumberFormat ss:Format=\"Currency\"/></Style>"
                "<Style ss:ID=\"eu\"><NumberFormat ss:Format=\"Euro Currency\"/></Style>"
                "<Style ss:ID=\"g\"><NumberFormat ss:Format=\"General\"/></Style>"
                "<Style ss:ID=\"gn\"><NumberFormat ss:Format=\"General Number\"/></Style>"
                "<Style ss:ID=\"fx\"><NumberFormat ss:Format=\"Fixed\"/></Style>"
                "<Style ss:ID=\"sn\"><NumberFormat ss:Format=\"Standard\"/></Style>"
                "<Style ss:ID=\"pc\"><NumberFormat ss:Format=\"Percent\"/></Style>"
                "<Style ss:ID=\"sc\"><NumberFormat ss:Format=\"Scientific\"/></Style>"
                "<Style ss:ID=\"yn\"><NumberFormat ss:Format=\"Yes/No\"/></Style>"
                "<Style ss:ID=\"tf\"><NumberFormat ss:Format=\"True/False\"/></Style>"
                "<Style ss:ID=\"oo\"><NumberFormat ss:Format=\"On/Off\"/></Style>"
                "<Style ss:ID=\"nf\"><NumberFormat/></Style>"
                "<Style ss:ID=\"c1\"><NumberFormat ss:Format=\"dd/mm/yyyy;@\"/></Style>"
                "<Style ss:ID=\"c2\"><NumberFormat ss:Format=\"#,##0.00\\ [$\xE2\x82\xAC-424]\"/></Style>"
                "<Style ss:ID=\"c3\"><NumberFormat ss:Format=\"0.00\"/></Style>"
                "<Style ss:ID=\"short date\"><NumberFormat ss:Format=\"short date\"/></Style>"),
       {{1, 1, std::string("5.3.2024 12:00:00")},
        {1, 2, std::string("5.3.2024")},
        {1, 3, std::string("5.3.2024")},
        {1, 4, std::string("5.3.2024")},
        {1, 5, std::string("12:00:00")},
        {1, 6, std::string("18:00:00")},
        {1, 7, std::string("6:00:00")},
        {2, 1, std::string("1,2346")},
        {2, 2, std::string("1,2346")},
        {3, 1, std::string("45356")},
        {3, 2, std::string("45356")},
        {3, 3, std::string("1,234567")},
        {3, 4, std::string("1,234567")},
        {3, 5, std::string("0,125")},
        {3, 6, std::string("45356")},
        {3, 7, std::string("1")},
        {3, 8, std::string("0")},
        {3, 9, std::string("1")},
        {3, 10, std::string("45356")},
        {4, 1, std::string("5.3.2024")},
        {4, 2, std::string("1,2346")},
        {4, 3, std::string("45356")},
        // names are spelled exactly; another spelling is a format code, and
        // "short date" holds d, a, t and e outside quotes: a date code
        {4, 4, std::string("5.3.2024")}}},
      {"styles inherit through ss:Parent, also from a parent defined later; an own format wins; missing parents end",
       OneSheet("<Row><Cell ss:StyleID=\"child\"><Data ss:Type=\"Number\">45356</Data></Cell>"
                "<Cell ss:StyleID=\"grandchild\"><Data ss:Type=\"Number\">45356</Data></Cell>"
                "<Cell ss:StyleID=\"own\"><Data ss:Type=\"Number\">45356</Data></Cell>"
                "<Cell ss:StyleID=\"ownchild\"><Data ss:Type=\"Number\">45356</Data></Cell>"
                "<Cell ss:StyleID=\"orphan\"><Data ss:Type=\"Number\">45356</Data></Cell>"
                "<Cell ss:StyleID=\"undefined\"><Data ss:Type=\"Number\">45356</Data></Cell></Row>",
                "<Style ss:ID=\"grandchild\" ss:Parent=\"child\"/>" + dated +
                    "<Style ss:ID=\"child\" ss:Parent=\"d\"><Font ss:Bold=\"1\"/></Style>"
                    "<Style ss:ID=\"ownchild\" ss:Parent=\"own\"/>"
                    "<Style ss:ID=\"own\" ss:Parent=\"d\"><NumberFormat ss:Format=\"Fixed\"/></Style>"
                    "<Style ss:ID=\"orphan\" ss:Parent=\"nowhere\"/>"),
       {{1, 1, std::string("5.3.2024")},
        {1, 2, std::string("5.3.2024")},
        {1, 3, std::string("45356")},
        {1, 4, std::string("45356")},
        {1, 5, std::string("45356")},
        {1, 6, std::string("45356")}}},
      {"a row's style holds for its cells without one; styles may follow the cells",
       kOpen + "<Worksheet ss:Name=\"A\"><Table><Row ss:StyleID=\"d\"><Cell><Data ss:Type=\"Number\">45356</Data>"
               "</Cell><Cell ss:StyleID=\"g\"><Data ss:Type=\"Number\">45356</Data></Cell></Row></Table></Worksheet>"
               "<Styles>" + dated + "<Style ss:ID=\"g\"><NumberFormat/></Style></Styles>" + kClose,
       {{1, 1, std::string("5.3.2024")}, {1, 2, std::string("45356")}}},
      {"the types of Data",
       OneSheet("<Row><Cell><Data ss:Type=\"String\"> a &amp; b </Data></Cell>"
                "<Cell><Data ss:Type=\"Boolean\">1</Data></Cell><Cell><Data ss:Type=\"Boolean\">0</Data></Cell>"
                "<Cell><Data ss:Type=\"Error\">#N/A</Data></Cell>"
                "<Cell><Data ss:Type=\"DateTime\">1899-12-31T14:30:00.000</Data></Cell>"
                "<Cell><Data ss:Type=\"DateTime\">2024-03-05T14:30:15.000</Data></Cell>"
                "<Cell ss:StyleID=\"d\"><Data ss:Type=\"Number\">1E+020</Data></Cell>"
                "<Cell><Data ss:Type=\"String\">#N/A</Data></Cell>"
                "<Cell><Data ss:Type=\"String\">line&#10;two \xC4\x8D\xE6\x97\xA5</Data></Cell>"
                "<Cell><Data ss:Type=\"String\"></Data></Cell></Row>",
                dated),
       {{1, 1, std::string(" a & b ")},
        {1, 2, std::string("True")},
        {1, 3, std::string("False")},
        {1, 4, std::nullopt},
        {1, 5, std::string("14:30:00")},
        {1, 6, std::string("5.3.2024 14:30:15")},
        {1, 7, std::string("1E+20")},  // past the calendar: no date
        {1, 8, std::string("#N/A")},   // typed text, no formula
        {1, 9, std::string("line\ntwo \xE8?")},
        {1, 10, std::string("")}}},
      {"formulas: the cached result, an error's name, none",
       OneSheet("<Row><Cell ss:Formula=\"=1+1\"><Data ss:Type=\"Number\">2</Data></Cell>"
                "<Cell ss:Formula=\"=1/0\"><Data ss:Type=\"String\">#DIV/0!</Data></Cell>"
                "<Cell ss:Formula=\"=X\"/>"
                "<Cell ss:Formula=\"=&quot;&quot;\"><Data ss:Type=\"String\"></Data></Cell>"
                "<Cell ss:Formula=\"=1/0\"><Data ss:Type=\"Error\">#DIV/0!</Data></Cell>"
                "<Cell ss:Formula=\"=A\"><Data ss:Type=\"String\">#N/A?</Data></Cell></Row>"),
       {{1, 1, std::string("2")},
        {1, 2, std::nullopt},
        {1, 3, std::nullopt},
        {1, 4, std::string("")},
        {1, 5, std::nullopt},
        {1, 6, std::string("#N/A?")}}},
      {"rich text and the Data of a comment",
       OneSheet("<Row><Cell><ss:Data ss:Type=\"String\" xmlns=\"http://www.w3.org/TR/REC-html40\"><B>Kr<I>k</I></B>"
                "<Font html:Color=\"#FF0000\">a</Font> d.d.</ss:Data><Comment><ss:Data><B>note</B></ss:Data></Comment>"
                "</Cell><Cell><Comment><ss:Data>only a note</ss:Data></Comment></Cell></Row>"),
       {{1, 1, std::string("Krka d.d.")}, {1, 2, std::string("")}}},
      {"ss:Index, ss:Span and merged areas place the cells",
       OneSheet("<Row ss:Index=\"2\"><Cell ss:Index=\"3\"><Data ss:Type=\"Number\">3</Data></Cell>"
                "<Cell ss:MergeAcross=\"1\" ss:MergeDown=\"1\"><Data ss:Type=\"Number\">4</Data></Cell>"
                "<Cell><Data ss:Type=\"Number\">6</Data></Cell></Row>"
                "<Row><Cell ss:Index=\"3\"><Data ss:Type=\"Number\">33</Data></Cell><Cell ss:Index=\"4\"/>"
                "<Cell ss:Index=\"6\"><Data ss:Type=\"Number\">66</Data></Cell></Row>"
                "<Row ss:Span=\"2\"><Cell ss:Index=\"4\"><Data ss:Type=\"Number\">44</Data></Cell></Row>"
                "<Row><Cell><Data ss:Type=\"Number\">7</Data></Cell></Row>"),
       {{1, 1, std::string("")},
        {2, 3, std::string("3")},
        {2, 4, std::string("4")},
        {2, 5, std::string("")},
        {2, 6, std::string("6")},
        {3, 3, std::string("33")},
        {3, 4, std::string("")},
        {3, 6, std::string("66")},
        {4, 4, std::string("44")},
        {5, 4, std::string("")},
        {7, 1, std::string("7")}}},
  };
  for (const auto& c : cases) {
    Document document(c.document);
    const SheetRead read = document.Read();
    ASSERT_TRUE(read) << c.what << ": " << read.failure->what();
    for (const auto& [row, column, text] : c.expected) {
      EXPECT_EQ(document.Text(row, column), Show(text)) << c.what << ": row " << row << " column " << column;
    }
  }
}

TEST(Xml2003Reader, ActiveSheetAndDateSystem) {
  const auto sheet = [](const char* name) {
    return "<Worksheet ss:Name=\"" + std::string(name) + "\"><Table><Row><Cell><Data ss:Type=\"String\">" + name +
           "</Data></Cell><Cell ss:StyleID=\"d\"><Data ss:Type=\"Number\">1</Data></Cell>"
           "<Cell><Data ss:Type=\"DateTime\">2024-03-05T00:00:00.000</Data></Cell></Row></Table></Worksheet>";
  };
  const std::string styles = "<Styles><Style ss:ID=\"d\"><NumberFormat ss:Format=\"Short Date\"/></Style></Styles>";
  const auto book = [](const std::string& excel) { return "<x:ExcelWorkbook>" + excel + "</x:ExcelWorkbook>"; };
  const std::vector<std::tuple<const char*, std::string, const char*, const char*>> cases = {
      {"none named: the first", styles + sheet("a") + sheet("b"), "a", "1.1.1900"},
      {"the third", book("<x:ActiveSheet>2</x:ActiveSheet>") + styles + sheet("a") + sheet("b") + sheet("c"), "c",
       "1.1.1900"},
      {"past the last: the first", book("<x:ActiveSheet>3</x:ActiveSheet>") + sheet("a") + sheet("b") + sheet("c"),
       "a", ""},
      {"past the last, styles first: the first",
       book("<x:ActiveSheet>3</x:ActiveSheet>") + styles + sheet("a") + sheet("b") + sheet("c"), "a", "1.1.1900"},
      {"settings that name none, styles first: the first", book("<x:Date1904/>") + styles + sheet("a") + sheet("b"),
       "a", "2.1.1904"},
      {"not a number: the first", book("<x:ActiveSheet>x</x:ActiveSheet>") + sheet("a") + sheet("b"), "a", ""},
      {"named after the worksheets", sheet("a") + sheet("b") + book("<x:ActiveSheet> 1 </x:ActiveSheet>") + styles,
       "b", "1.1.1900"},
      {"the 1904 system", book("<x:ActiveSheet>1</x:ActiveSheet><x:Date1904/>") + styles + sheet("a") + sheet("b"),
       "b", "2.1.1904"},
      {"a worksheet without a table is empty",
       book("<x:ActiveSheet>1</x:ActiveSheet>") + sheet("a") + "<Worksheet ss:Name=\"b\"/>", "", ""},
  };
  for (const auto& [what, body, first, serialOne] : cases) {
    Document document(kOpen + body + kClose);
    const SheetRead read = document.Read();
    ASSERT_TRUE(read) << what << ": " << read.failure->what();
    EXPECT_EQ(document.Text(1, 1), Show(std::string(first))) << what;
    if (*serialOne != '\0') {
      EXPECT_EQ(document.Text(1, 2), Show(std::string(serialOne))) << what;
      EXPECT_EQ(document.Text(1, 3), Show(std::string("5.3.2024"))) << what;
    }
  }
}

// Recognised by the content, whatever the name and the encoding.
TEST(Xml2003Reader, RecognisedByTheRootElementAlone) {
  const std::string body = "<Worksheet ss:Name=\"A\"><Table><Row><Cell><Data ss:Type=\"String\">\xC4\x8D</Data>"
                           "</Cell></Row></Table></Worksheet>" + kClose;
  // U+010D stands where the ASCII text has a carriage return.
  std::string utf16;
  for (const char c : std::string("<?xml version=\"1.0\" encoding=\"UTF-16\"?><ss:Workbook "
                                  "xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\"><ss:Worksheet><ss:Table>"
                                  "<ss:Row><ss:Cell><ss:Data ss:Type=\"String\">\x0D</ss:Data></ss:Cell></ss:Row>"
                                  "</ss:Table></ss:Worksheet></ss:Workbook>")) {
    utf16 += c;
    utf16 += c == '\x0D' ? '\x01' : '\0';
  }
  const std::vector<std::tuple<const char*, std::string, const char*>> cases = {
      {"named .xls, with a byte order mark", "\xEF\xBB\xBF" + kOpen + body, ".xls"},
      {"no declaration, comments first", "<!-- from a report --><Workbook xmlns=\"urn:schemas-microsoft-com:office:"
                                         "spreadsheet\" xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\">" +
                                             body,
       ".txt"},
      {"UTF-16 with a byte order mark", "\xFF\xFE" + utf16, ".xml"},
  };
  for (const auto& [what, bytes, extension] : cases) {
    Document document(bytes, extension);
    const SheetRead read = document.Read();
    ASSERT_TRUE(read) << what << ": " << read.failure->what();
    EXPECT_EQ(document.Text(1, 1), Show(std::string("\xE8"))) << what;
  }

  const std::vector<std::pair<const char*, std::string>> others = {
      {"another namespace", "<Workbook xmlns=\"urn:other\"><Worksheet/></Workbook>"},
      {"another root", "<Table xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\"/>"},
      {"no namespace", "<Workbook><Worksheet/></Workbook>"},
      {"not XML", "DATUM;SIMBOL\n5.3.2024;ZVTG\n"},
      {"a web page", "<html><body><table><tr><td>1</td></tr></table></body></html>"},
  };
  // such a file is left to the readers of text forms, or to none
  for (const auto& [what, bytes] : others) {
    Document document(bytes);
    const SheetRead read = document.Read();
    if (read) {
      EXPECT_NE(read.format, WorkbookFormat::Xml2003) << what;
    } else {
      EXPECT_EQ(read.failure->Reason(), OpenFailure::NotAWorkbook) << what;
    }
  }
}

TEST(Xml2003Reader, DamagedDocumentsCannotBeOpened) {
  const std::string row1 = "<Row><Cell><Data ss:Type=\"Number\">1</Data></Cell></Row>";
  const std::string sheetA = "<Worksheet ss:Name=\"A\"><Table>" + row1 + "</Table></Worksheet>";
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"rows out of order", OneSheet("<Row ss:Index=\"3\"/>" + row1.substr(0, 4) + " ss:Index=\"2\"" + row1.substr(4))},
      {"one row twice", OneSheet("<Row ss:Index=\"2\"/><Row ss:Index=\"2\"/>")},
      {"a row inside a span", OneSheet("<Row ss:Span=\"3\"/><Row ss:Index=\"3\"/>")},
      {"cells out of order", OneSheet("<Row><Cell ss:Index=\"3\"/><Cell ss:Index=\"2\"/></Row>")},
      {"one cell twice", OneSheet("<Row><Cell ss:Index=\"2\"/><Cell ss:Index=\"2\"/></Row>")},
      {"a cell inside a merge across", OneSheet("<Row><Cell ss:MergeAcross=\"2\"/><Cell ss:Index=\"3\"/></Row>")},
      {"a value on a cell a merge covers",
       OneSheet("<Row><Cell ss:MergeDown=\"2\"><Data ss:Type=\"Number\">1</Data></Cell></Row>"
                "<Row><Cell><Data ss:Type=\"Number\">2</Data></Cell></Row>")},
      {"a formula on a cell a merge covers",
       OneSheet("<Row><Cell ss:MergeDown=\"1\" ss:MergeAcross=\"1\"/></Row><Row><Cell ss:Index=\"2\" ss:Formula=\"=1\"/></Row>")},
      {"row index 0", OneSheet("<Row ss:Index=\"0\"/>")},
      {"row index past the last row", OneSheet("<Row ss:Index=\"1048577\"/>")},
      {"cell index past the last column", OneSheet("<Row><Cell ss:Index=\"16385\"/></Row>")},
      {"merge past the last column", OneSheet("<Row><Cell ss:Index=\"16384\" ss:MergeAcross=\"1\"/></Row>")},
      {"index that is no number", OneSheet("<Row ss:Index=\"2a\"/>")},
      {"number that is no number", OneSheet("<Row><Cell><Data ss:Type=\"Number\">12,5</Data></Cell></Row>")},
      {"empty number", OneSheet("<Row><Cell><Data ss:Type=\"Number\"></Data></Cell></Row>")},
      {"date that is no date", OneSheet("<Row><Cell><Data ss:Type=\"DateTime\">2023-02-29T00:00:00</Data></Cell></Row>")},
      {"boolean that is neither", OneSheet("<Row><Cell><Data ss:Type=\"Boolean\">true</Data></Cell></Row>")},
      {"unknown type", OneSheet("<Row><Cell><Data ss:Type=\"Text\">a</Data></Cell></Row>")},
      {"data without a type", OneSheet("<Row><Cell><Data>a</Data></Cell></Row>")},
      {"two values in one cell",
       OneSheet("<Row><Cell><Data ss:Type=\"Number\">1</Data><Data ss:Type=\"Number\">2</Data></Cell></Row>")},
      {"two tables in one worksheet", kOpen + "<Worksheet><Table/><Table/></Worksheet>" + kClose},
      {"one style ID twice", OneSheet(row1, "<Style ss:ID=\"a\"/><Style ss:ID=\"a\"/>")},
      {"a style its own parent", OneSheet(row1, "<Style ss:ID=\"a\" ss:Parent=\"a\"/>")},
      {"styles each other's parents, used by no cell",
       OneSheet(row1, "<Style ss:ID=\"a\" ss:Parent=\"c\"/><Style ss:ID=\"b\" ss:Parent=\"a\"/>"
                      "<Style ss:ID=\"c\" ss:Parent=\"b\"/><Style ss:ID=\"d\" ss:Parent=\"c\"/>")},
      {"styles given twice", kOpen + "<Styles/><Styles/>" + sheetA + kClose},
      {"settings given again after the cells",
       kOpen + "<x:ExcelWorkbook/><Styles/>" + sheetA + "<x:ExcelWorkbook><x:ActiveSheet>0</x:ActiveSheet></x:ExcelWorkbook>" +
           kClose},
      {"no worksheet", kOpen + "<Styles/>" + kClose},
      {"a document type declaration",
       "<?xml version=\"1.0\"?><!DOCTYPE Workbook [<!ENTITY a \"1\">]>" + OneSheet(row1).substr(22)},
      {"an undeclared prefix", OneSheet("<Row><Cell><Data ss:Type=\"Number\" q:x=\"1\">1</Data></Cell></Row>")},
      {"something after the end", OneSheet(row1) + "<Workbook/>"},
  };
  for (const auto& [what, bytes] : cases) {
    Document document(bytes);
    const SheetRead read = document.Read();
    ASSERT_FALSE(read) << what;
    EXPECT_EQ(read.failure->Reason(), OpenFailure::Damaged) << what << ": " << read.failure->what();
    EXPECT_EQ(document.Cells().Size(), 0u) << what;
  }
}

// Never a part of a table: a document that breaks off anywhere after the
// start tag of its root cannot be opened, however few rows are asked for.
TEST(Xml2003Reader, ADocumentThatBreaksOffIsRefusedWhereverItBreaks) {
  const std::string whole = OneSheet(
      "<Row><Cell><Data ss:Type=\"Number\">1</Data></Cell></Row><Row ss:Index=\"5\"><Cell><Data ss:Type=\"String\">"
      "five</Data></Cell></Row><Row ss:Index=\"3001\"><Cell><Data ss:Type=\"Number\">3001</Data></Cell></Row>");
  const std::size_t root = whole.find('>', whole.find("<Workbook")) + 1;
  for (std::size_t length = root; length < whole.size(); length += 7) {
    Document document(whole.substr(0, length));
    const SheetRead read = document.Read(1);
    ASSERT_FALSE(read) << length;
    EXPECT_EQ(read.failure->Reason(), OpenFailure::Damaged) << length;
  }
  Document document(whole);
  ASSERT_TRUE(document.Read(4));
  EXPECT_EQ(document.Text(1, 1), Show(std::string("1")));
  EXPECT_FALSE(document.Cells().Find(5, 1).has_value());
}

// Order is checked in every row, also in those past the limit whose cells
// are not kept, and in the worksheets that are not active.
TEST(Xml2003Reader, OrderIsCheckedPastTheLimitAndInOtherWorksheets) {
  const std::string first = "<Row><Cell><Data ss:Type=\"Number\">1</Data></Cell></Row>";
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"rows past the limit", OneSheet(first + "<Row ss:Index=\"3001\"/><Row ss:Index=\"76\"/>")},
      {"cells past the limit", OneSheet(first + "<Row ss:Index=\"3001\"><Cell ss:Index=\"4\"/><Cell ss:Index=\"1\"/></Row>")},
      {"rows of another worksheet",
       kOpen + "<Worksheet><Table>" + first + "</Table></Worksheet><Worksheet><Table><Row ss:Index=\"3\"/>"
               "<Row ss:Index=\"2\"/></Table></Worksheet>" + kClose},
  };
  for (const auto& [what, bytes] : cases) {
    Document document(bytes);
    EXPECT_FALSE(document.Read()) << what;
  }
}

TEST(Xml2003Reader, BoundsOfSizeAndProgress) {
  // More than 16 MiB without the start of an element.
  {
    Document document(kOpen + std::string(17u << 20, ' ') + "<Worksheet/>" + kClose);
    const SheetRead read = document.Read();
    ASSERT_FALSE(read);
    EXPECT_EQ(read.failure->Reason(), OpenFailure::Damaged) << read.failure->what();
  }
  // A file above 256 MiB is not read at all (a sparse file: nothing is written past the head).
  {
    Document document(OneSheet("<Row><Cell><Data ss:Type=\"Number\">1</Data></Cell></Row>"));
    fs::resize_file(document.Path(), (256u << 20) + 1);
    const SheetRead read = document.Read();
    ASSERT_FALSE(read);
    EXPECT_EQ(read.failure->Reason(), OpenFailure::TooLarge) << read.failure->what();
    const std::string sizes = ": 268435457 bytes, more than the 268435456 bytes (256 MiB) that may be read";
    EXPECT_TRUE(read.failure->Detail().ends_with(sizes)) << read.failure->what();
  }
  // More cells than a price list holds: too large, not damaged.
  {
    std::string row = "<Row>";
    for (int column = 0; column < 16384; ++column) row += "<Cell ss:Formula=\"a\"/>";
    row += "</Row>";
    std::string rows;
    for (int r = 0; r < 62; ++r) rows += row;
    Document document(OneSheet(rows));
    const SheetRead read = document.Read();
    ASSERT_FALSE(read);
    EXPECT_EQ(read.failure->Reason(), OpenFailure::TooLarge) << read.failure->what();
    EXPECT_TRUE(read.failure->Detail().ends_with(": more cells or text than a price list holds"))
        << read.failure->what();
  }
  // Nesting without end.
  {
    std::string deep;
    for (int i = 0; i < 300; ++i) deep = "<html:b>" + deep + "</html:b>";
    Document document(OneSheet("<Row><Cell><ss:Data ss:Type=\"String\">" + deep + "</ss:Data></Cell></Row>"));
    EXPECT_FALSE(document.Read());
  }
}

// Shapes that take time in proportion to their size: a long chain of parent
// styles with cells all along it, a long cycle of them, and many areas
// merged down beside rows of cells. The bounds are some ten times what the
// reading takes, in CPU time.
TEST(Xml2003Reader, ChainsOfStylesAndOpenMergedAreasCostTimeInProportionToTheirSize) {
  constexpr int kStyles = 20000;
  const auto styles = [](bool cycle) {
    std::string out;
    for (int k = 0; k < kStyles; ++k) {
      out += "<Style ss:ID=\"s" + std::to_string(k) + "\"";
      if (k > 0 || cycle) out += " ss:Parent=\"s" + std::to_string(k > 0 ? k - 1 : kStyles - 1) + "\"";
      out += k == 0 && !cycle ? "><NumberFormat ss:Format=\"Short Date\"/></Style>" : "/>";
    }
    return out;
  };
  // a row of cells each with a style of its own, from the deepest up
  std::string alongTheChain = "<Row>";
  for (int c = 0; c < 16384; ++c) {
    alongTheChain += "<Cell ss:StyleID=\"s" + std::to_string(kStyles - 1 - c) + "\"><Data ss:Type=\"Number\">45356"
                     "</Data></Cell>";
  }
  alongTheChain += "</Row>";
  constexpr int kAreas = 16000;
  std::string merged = "<Row>";
  for (int c = 0; c < kAreas; ++c) merged += "<Cell ss:MergeDown=\"1000\"/>";
  merged += "</Row>";
  std::string beside;
  for (int c = 0; c < 300; ++c) beside += "<Cell><Data ss:Type=\"Number\">" + std::to_string(c) + "</Data></Cell>";
  for (int r = 0; r < 500; ++r) merged += "<Row><Cell ss:Index=\"" + std::to_string(kAreas + 1) + "\"/>" + beside + "</Row>";

  const struct {
    const char* what;
    std::string document;
    const char* refusal;  // nullptr: read
    double bound;         // seconds of CPU time
  } cases[] = {
      {"a chain of styles", OneSheet(alongTheChain, styles(false)), nullptr, 0.5},
      {"areas merged down beside rows of cells", OneSheet(merged), nullptr, 0.8},
      {"areas merged down, a value under the last", OneSheet(merged + "<Row><Cell ss:Index=\"16000\"><Data "
                                                             "ss:Type=\"Number\">1</Data></Cell></Row>"),
       "value in a merged area", 0.8},
      {"a cycle of styles", OneSheet(alongTheChain, styles(true)), "styles are their own parents", 0.5},
  };
  for (const auto& c : cases) {
    Document document(c.document);
    const std::clock_t start = std::clock();
    const SheetRead read = document.Read();
    EXPECT_LT(testsupport::CpuSecondsSince(start), c.bound * testsupport::kCpuSlowdown) << c.what;
    if (c.refusal != nullptr) {
      ASSERT_FALSE(read) << c.what;
      EXPECT_EQ(read.failure->Reason(), OpenFailure::Damaged) << c.what;
      EXPECT_NE(std::string(read.failure->what()).find(c.refusal), std::string::npos) << read.failure->what();
      continue;
    }
    ASSERT_TRUE(read) << c.what << ": " << read.failure->what();
  }
  Document chain(OneSheet(alongTheChain, styles(false)));
  ASSERT_TRUE(chain.Read());
  for (const int column : {1, 2, 9999, 16384}) EXPECT_EQ(chain.Text(1, column), Show(std::string("5.3.2024"))) << column;
  Document areas(OneSheet(merged));
  ASSERT_TRUE(areas.Read());
  EXPECT_EQ(areas.Text(501, kAreas + 2), Show(std::string("0")));
  EXPECT_EQ(areas.Text(501, kAreas + 301), Show(std::string("299")));
}

// Areas that have ended no longer count against the number open at once.
TEST(Xml2003Reader, MergedAreasCountWhileTheyAreOpen) {
  // five rows, every cell of them merged down this many rows
  const auto rows = [](const std::string& down) {
    std::string row = "<Row>";
    for (int c = 0; c < 16384; ++c) row += "<Cell ss:MergeDown=\"" + down + "\"/>";
    row += "</Row>";
    std::string out;
    for (int r = 0; r < 5; ++r) out += row;
    return out;
  };
  // each row's areas cover the next row, so at most two rows' are open
  Document ending(OneSheet(rows("1")));
  EXPECT_TRUE(ending.Read());
  // four rows' areas open when the fifth adds more
  Document lasting(OneSheet(rows("10")));
  const SheetRead read = lasting.Read();
  ASSERT_FALSE(read);
  EXPECT_NE(std::string(read.failure->what()).find("too many merged areas"), std::string::npos) << read.failure->what();
}

}  // namespace
}  // namespace ratemover::spreadsheet
