// The readers of web pages and CSV files: files from real writers (LibreOffice,
// Gnumeric, SheetJS) and files as report generators, a Slovene desktop and a
// web service write them, read cell by cell; pages laid out as LibreOffice Calc
// lays them out; damaged and oversized files refused for their own reason.
#include <gsf/gsf-input-memory.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/cp1250.h"
#include "spreadsheet/cell_text.h"
#include "spreadsheet/open_failure.h"
#include "spreadsheet/text_form.h"
#include "spreadsheet/format_table.h"

namespace ratemover::spreadsheet {
namespace {

using Text = std::optional<std::string>;
using Grid = std::map<std::pair<int, int>, Text>;  // the cells that are not empty text

std::string TextFile(const std::string& name) { return std::string(RATEMOVER_TEST_DATA) + "/workbooks/text/" + name; }

Grid GridOf(const SheetCells& cells, int rows = 40, int columns = 12) {
  Grid grid;
  for (int row = 1; row <= rows; ++row) {
    for (int column = 1; column <= columns; ++column) {
      const std::optional<CellValue> value = cells.Find(row, column);
      if (!value) continue;
      const Text text = TextOfCell(*value, cells.GetDateSystem());
      if (!text || !text->empty()) grid[{row, column}] = text;
    }
  }
  return grid;
}

Grid ReadFile(const std::string& path, std::int32_t rowLimit = 3000) {
  SheetCells cells;
  const SheetRead read = ReadActiveSheetFromFile(path, rowLimit, cells);
  EXPECT_TRUE(read) << path << ": " << (read ? "" : read.failure->what());
  return GridOf(cells);
}

// The bytes read from memory; the failure's reason when they are refused.
std::pair<Grid, std::optional<OpenFailure>> ReadBytes(const std::string& bytes, std::int32_t rowLimit = 3000) {
  GsfInput* input = gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.data()), bytes.size(), FALSE);
  SheetCells cells;
  const SheetRead read = ReadActiveSheet(input, rowLimit, cells);
  g_object_unref(input);
  if (!read) return {Grid(), read.failure->Reason()};
  return {GridOf(cells), std::nullopt};
}

// Every cell where the two readings differ, as "row,column: mine | Calc's".
std::vector<std::string> Differences(const Grid& mine, const Grid& calc) {
  auto shown = [](const Grid& grid, std::pair<int, int> at) -> std::string {
    const auto found = grid.find(at);
    if (found == grid.end()) return "-";
    return found->second ? "'" + *found->second + "'" : "ERR";
  };
  std::map<std::pair<int, int>, bool> every;
  for (const auto& cell : mine) every[cell.first] = true;
  for (const auto& cell : calc) every[cell.first] = true;
  std::vector<std::string> differences;
  for (const auto& [at, unused] : every) {
    const std::string a = shown(mine, at);
    const std::string b = shown(calc, at);
    if (a != b) differences.push_back(std::to_string(at.first) + "," + std::to_string(at.second) + ": " + a + " | " + b);
  }
  return differences;
}

struct LayoutCase {
  const char* page;
  const char* calc;  // LibreOffice Calc's reading of the page, saved as .xlsx
  std::vector<std::string> differences;
};

// Calc's own reading differs where it guesses types and where it lays out by
// pixels: it turns numbers and ISO dates in text into numbers ("0012" loses
// its zeros, "12.5" becomes 12,5), shows an x:num cell as its formatted text
// and an error as text, keeps a blank before the end of a cell and both blanks
// of "&nbsp;&nbsp;", puts a caption into the first cell of the table instead
// of a row of its own (every later row moves up by one), and spreads a table
// nested in a cell over columns of its own, which pushes the later columns to
// the right. Everywhere else the two agree cell by cell.
TEST(TextForms, PagesAreLaidOutAsCalcLaysThemOutButForTheListedDifferences) {
  const std::vector<LayoutCase> cases = {
      {"report_generator.xls", "report_calc.xlsx",
       {
           "3,1: 'Vir: Ljubljanska borza' | 'Vir:  Ljubljanska borza'",
           "4,1: 'Te\xE8" "aji delnic' | 'Te\xE8" "aji delnic \nDATUM'",
           "4,2: - | 'SIMBOL'",
           "4,4: - | 'NAZIV'",
           "4,5: - | 'TE\xC8" "AJ'",
           "4,7: - | 'OPOMBA '",
           "5,1: 'DATUM' | '2024-03-05'",
           "5,2: 'SIMBOL' | '12'",
           "5,3: 'NAZIV' | -",
           "5,4: 'TE\xC8" "AJ' | 'Dru\x9E" "ba \"A\" d.d.'",
           "5,5: 'OPOMBA' | '12,5'",
           "5,7: - | ' '",
           "6,1: '5.3.2024' | '2024-03-05T14:30'",
           "6,2: '0012' | 'KRKG'",
           "6,3: 'Dru\x9E" "ba \"A\" d.d.' | -",
           "6,4: '12,5' | 'brez te\xE8" "aja'",
           "6,7: - | 'x\ny '",
           "7,1: '5.3.2024 14:30:00' | '5.3.2024'",
           "7,2: 'KRKG' | 'PETG'",
           "7,3: 'brez te\xE8" "aja' | -",
           "7,4: - | 'Petrol'",
           "7,5: 'x\ny' | '1.234,50'",
           "8,1: '5.3.2024' | -",
           "8,2: 'PETG' | 'ZVTG'",
           "8,3: 'Petrol' | -",
           "8,4: '1.234,50' | 'gnezdena'",
           "8,8: - | 'tabela'",
           "8,9: - | '\x80" " 3'",
           "9,1: - | 'Konec <seznama> '",
           "9,2: 'ZVTG' | -",
           "9,3: 'gnezdena tabela' | -",
           "9,4: '\x80" " 3' | -",
           "10,1: 'Konec <seznama>' | -",
       }},
      {"small_gnumeric.html", "small_gnumeric_calc.xlsx",
       {
           "1,1: 'Tecaji' | 'Tecaji \nDATUM'",
           "1,2: - | 'SIMBOL'",
           "1,3: - | 'NAZIV'",
           "1,4: - | 'TECAJ'",
           "2,1: 'DATUM' | '2024-03-05'",
           "2,2: 'SIMBOL' | '12'",
           "2,3: 'NAZIV' | 'Dru\x9E" "ba \"\xC8" "\" d.d.'",
           "2,4: 'TECAJ' | '12,5'",
           "3,1: '5.3.2024' | '2024-03-05'",
           "3,2: '0012' | 'KRKG'",
           "3,3: 'Dru\x9E" "ba \"\xC8" "\" d.d.' | 'Krka; Novo mesto'",
           "3,4: '12.5' | '1234,56'",
           "4,1: '5.3.2024' | -",
           "4,2: 'KRKG' | -",
           "4,3: 'Krka; Novo mesto' | -",
           "4,4: '1234.56' | -",
       }},
      {"small_sheetjs.html", "small_sheetjs_calc.xlsx",
       {
           "2,1: '5.3.2024' | '2024-03-05'",
           "2,2: '0012' | '12'",
           "2,4: '12.5' | '12,5'",
           "3,1: '5.3.2024' | '2024-03-05'",
           "3,4: '1234.56' | '1234,56'",
       }},
      {"excel_saved.htm", "excel_calc.xlsx",
       {
           "2,2: '0012' | '12'",
           "2,3: '12,5' | '12,5000'",
           "2,4: '1234,56' | '1.234,56 \x80" "'",
           "3,1: '5.3.2024 14:30:00' | '5.3.2024 14:30'",
           "3,2: 'True' | 'TRUE'",
           "3,3: ERR | '#DIV/0!'",
           "3,4: ERR | '#N/A'",
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.page);
    EXPECT_EQ(Differences(ReadFile(TextFile(c.page)), ReadFile(TextFile(c.calc))), c.differences);
  }
}

struct CellCase {
  int row;
  int column;
  Text text;
};

struct FileCase {
  const char* file;
  std::vector<CellCase> cells;
};

// Files from real writers and as report generators, a Slovene desktop and a
// web service write them; the file names say nothing of the format.
TEST(TextForms, FilesReadCellByCell) {
  const std::string druzbaA = "Dru\x9E" "ba \"A\" d.d.";
  const std::string druzbaC = "Dru\x9E" "ba \"\xC8\" d.d.";
  const std::vector<FileCase> cases = {
      {"report_generator.xls",
       {{1, 1, "Te\xE8" "ajnica & borza"}, {2, 1, "Datum: 5.3.2024"}, {3, 1, "Vir: Ljubljanska borza"},
        {4, 1, "Te\xE8" "aji delnic"}, {5, 4, "TE\xC8" "AJ"}, {6, 1, "5.3.2024"}, {6, 2, "0012"}, {6, 3, druzbaA},
        {6, 4, "12,5"}, {6, 5, ""}, {7, 1, "5.3.2024 14:30:00"}, {7, 3, "brez te\xE8" "aja"}, {7, 4, ""},
        {7, 5, "x\ny"}, {8, 1, "5.3.2024"}, {9, 1, ""}, {9, 2, "ZVTG"}, {9, 3, "gnezdena tabela"},
        {9, 4, "\x80 3"}, {10, 1, "Konec <seznama>"}, {11, 1, ""}}},
      {"excel_saved.htm",
       {{1, 3, "TE\xC8" "AJ"}, {2, 1, "5.3.2024"}, {2, 2, "0012"}, {2, 3, "12,5"}, {2, 4, "1234,56"},
        {2, 5, "42"}, {3, 1, "5.3.2024 14:30:00"}, {3, 2, "True"}, {3, 3, std::nullopt}, {3, 4, std::nullopt},
        {3, 5, "2024-03-05"}}},
      {"small_sheetjs.html", {{1, 1, "DATUM"}, {2, 1, "5.3.2024"}, {2, 2, "0012"}, {2, 3, druzbaC}, {3, 4, "1234.56"}}},
      {"small_gnumeric.html", {{1, 1, "Tecaji"}, {3, 1, "5.3.2024"}, {3, 3, druzbaC}, {4, 4, "1234.56"}}},
      {"small_sheetjs.csv",
       {{1, 1, "DATUM"}, {2, 1, "5.3.2024"}, {2, 2, "0012"}, {2, 3, druzbaC}, {2, 4, "12.5"},
        {3, 3, "Krka; Novo mesto"}, {3, 4, "1234.56"}, {4, 1, ""}}},
      {"small_gnumeric.csv", {{2, 1, "2024/03/05"}, {2, 3, druzbaC}, {3, 3, "Krka; Novo mesto"}, {3, 4, "1234.56"}}},
      {"slovene_desktop.csv",
       {{1, 4, "TE\xC8" "AJ"}, {2, 1, "5.3.2024"}, {2, 4, "12,5"}, {3, 2, "0012"},
        {3, 3, "Dru\x9E" "ba \"A\"; d.d."}, {3, 4, "1234,56"}, {4, 1, ""}, {4, 4, ""}, {5, 3, "Petrol\nLjubljana"},
        {5, 4, "7"}, {6, 1, ""}}},
      {"web_service.csv",
       {{1, 1, "date"}, {2, 1, "5.3.2024"}, {2, 4, "12.5"}, {3, 1, "5.3.2024 14:30:15"}, {3, 3, "Petrol, Ljubljana"},
        {4, 1, "2024-02-30"}, {4, 3, "Dru\x9E" "ba \x80"}}},
      // a text under a workbook's name is delimited text; an empty file an empty sheet
      {"../bad/text.xls", {{1, 1, "To ni delovni zvezek, samo besedilo."}, {2, 3, "TECAJ"}, {3, 3, "123,45"}}},
      {"../bad/zero.xls", {{1, 1, ""}}},
      {"data3000_libreoffice.csv",
       {{1, 1, "DATUM"}, {2, 1, "05.03.2024"}, {2, 2, "ZVTG"}, {2, 4, "2083"}, {3, 4, "4100.88"}, {3002, 1, ""}}},
      {"data3000_libreoffice.html",
       {{1, 1, "DATUM"}, {2, 1, "05.03.2024"}, {2, 3, "Dru\x9E" "ba ZVTG d.d."}, {2, 5, ""}, {3, 4, "4100.88"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    SheetCells cells;
    const SheetRead read = ReadActiveSheetFromFile(TextFile(c.file), 3001, cells);
    ASSERT_TRUE(read) << read.failure->what();
    for (const auto& cell : c.cells) {
      SCOPED_TRACE(std::to_string(cell.row) + "," + std::to_string(cell.column));
      const std::optional<CellValue> value = cells.Find(cell.row, cell.column);
      EXPECT_EQ(!value ? Text("") : TextOfCell(*value, cells.GetDateSystem()), cell.text);
    }
  }
}

struct BytesCase {
  const char* name;
  std::string bytes;
  std::vector<CellCase> cells;                // when read
  std::optional<OpenFailure> failure = {};    // when refused
  std::int32_t rowLimit = 3000;
};

void Check(const BytesCase& c) {
  SCOPED_TRACE(c.name);
  const auto [grid, failure] = ReadBytes(c.bytes, c.rowLimit);
  EXPECT_EQ(failure, c.failure);
  for (const auto& cell : c.cells) {
    SCOPED_TRACE(std::to_string(cell.row) + "," + std::to_string(cell.column));
    const auto found = grid.find({cell.row, cell.column});
    EXPECT_EQ(found == grid.end() ? Text("") : found->second, cell.text);
  }
}

TEST(TextForms, DelimitedText) {
  const std::string longField(32767, 'x');
  const std::vector<BytesCase> cases = {
      {"semicolon beats comma in prices", "A;1,5;x\nB;2,5;y\n", {{1, 2, "1,5"}, {2, 3, "y"}}},
      {"comma file", "A,1.5,x\nB,2.5,y\n", {{1, 2, "1.5"}, {2, 3, "y"}, {1, 3, "x"}}},
      {"tab file", "A\t1;5\tx\nB\t2,5\ty\n", {{1, 2, "1;5"}, {2, 2, "2,5"}}},
      {"the most consistent wins", "a,b;c\nd,e;f,g\nh;i,j,k\nl;m\n", {{1, 1, "a,b"}, {1, 2, "c"}, {4, 2, "m"}}},
      {"tie goes to semicolon", "a;b,c\n", {{1, 1, "a"}, {1, 2, "b,c"}}},
      {"sep line names the separator", "sep=,\na;b,c\n", {{1, 1, "a;b"}, {1, 2, "c"}}},
      {"separator only inside quotes", "\"a;b\",c\n\"d;e\",f\n", {{1, 1, "a;b"}, {2, 2, "f"}}},
      {"quotes, doubled quotes, line breaks", "\"say \"\"hi\"\"\";\"x\r\ny\";\"p\rq\"\r\nz;w\r\n",
       {{1, 1, "say \"hi\""}, {1, 2, "x\ny"}, {1, 3, "p\nq"}, {2, 1, "z"}, {2, 2, "w"}}},
      {"text after a closing quote joins the field", "\"ab\"cd;e\n", {{1, 1, "abcd"}, {1, 2, "e"}}},
      {"a quote inside a field is a character", "ab\"c;d\n", {{1, 1, "ab\"c"}}},
      {"CR ends lines too", "a;b\rc;d\r", {{1, 1, "a"}, {2, 2, "d"}, {3, 1, ""}}},
      {"blank lines are empty rows", "a;b\n\nc;d\n", {{1, 1, "a"}, {2, 1, ""}, {3, 1, "c"}}},
      {"blanks are kept", " a ; 12,5 \n", {{1, 1, " a "}, {1, 2, " 12,5 "}}},
      {"ISO dates, not other dates", "2024-03-05;2024-03-05T00:00;2024-03-05 07:08:09;2024-3-5;1899-12-31;2024-03-05x\n",
       {{1, 1, "5.3.2024"}, {1, 2, "5.3.2024"}, {1, 3, "5.3.2024 7:08:09"}, {1, 4, "2024-3-5"},
        {1, 5, "1899-12-31"}, {1, 6, "2024-03-05x"}}},
      {"invalid time stays text", "2024-03-05 24:00;2024-02-29;2023-02-29\n",
       {{1, 1, "2024-03-05 24:00"}, {1, 2, "29.2.2024"}, {1, 3, "2023-02-29"}}},
      {"Windows-1250 when not UTF-8", "\xC8" "a;\x9A\n", {{1, 1, "\xC8" "a"}, {1, 2, "\x9A"}}},
      {"UTF-8 without a mark", "\xC4\x8C" "a;\xE2\x82\xAC;\xE4\xB8\x80\n", {{1, 1, "\xC8" "a"}, {1, 2, "\x80"}, {1, 3, "?"}}},
      {"UTF-16 little-endian", std::string("\xFF\xFE" "a\0;\0\x0D\x01\n\0", 10), {{1, 1, "a"}, {1, 2, "\xE8"}}},
      {"UTF-16 big-endian", std::string("\xFE\xFF\0a\0;\0b", 8), {{1, 2, "b"}}},
      {"empty file is an empty sheet", "", {{1, 1, ""}}},
      {"rows past the limit are not kept", "a\nb\nc\n", {{1, 1, "a"}, {2, 1, ""}}, {}, 1},
      {"a field of the largest size", longField + ";x\n", {{1, 1, longField}, {1, 2, "x"}}},
      {"a field beyond it", longField + "y;x\n", {}, OpenFailure::TooLarge},
      {"a quoted field left open", "a;\"b\nc;d\n", {}, OpenFailure::Damaged},
      {"left open past the row limit", "a\nb\n\"c\n", {}, OpenFailure::Damaged, 1},
      {"NUL is no text", std::string("a;b\0c", 5), {}, OpenFailure::NotAWorkbook},
      {"broken UTF-8 behind its mark", "\xEF\xBB\xBF" "a\xC4;b", {}, OpenFailure::NotAWorkbook},
      {"lone surrogate in UTF-16", std::string("\xFF\xFE\x00\xD8" "a\0", 6), {}, OpenFailure::NotAWorkbook},
      {"a control character is no text", "a;\x01" "b\n", {}, OpenFailure::NotAWorkbook},
      {"a cut archive is no text", std::string("PK\x03\x04", 4), {}, OpenFailure::NotAWorkbook},
      {"odd UTF-16 length: cut inside a character", std::string("\xFF\xFE" "a\0b", 5), {}, OpenFailure::Damaged},
  };
  for (const auto& c : cases) Check(c);
}

TEST(TextForms, WebPages) {
  const std::vector<BytesCase> cases = {
      {"recognised after a mark, blanks and a comment", "\xEF\xBB\xBF \n<!-- x -->\n<TABLE><tr><td>a;b</td></table>",
       {{1, 1, "a;b"}}},
      {"a pre element is no page start: delimited text", "<pre>a;b</pre>", {{1, 1, "<pre>a"}, {1, 2, "b</pre>"}}},
      {"spans leave covered cells empty",
       "<table><tr><td rowspan=2>a<td colspan=2>b<td>c<tr><td>d<td>e<td>f<tr><td>g</table>",
       {{1, 1, "a"}, {1, 2, "b"}, {1, 3, ""}, {1, 4, "c"}, {2, 1, ""}, {2, 2, "d"}, {2, 3, "e"}, {2, 4, "f"},
        {3, 1, "g"}}},
      {"every table's rows in order, text between in column A",
       "<h2>Naslov</h2><table><tr><td>1</table><p>med<br>tabelama</p><table><tr><th>2</th></tr></table>x",
       {{1, 1, "Naslov"}, {2, 1, "1"}, {3, 1, "med"}, {4, 1, "tabelama"}, {5, 1, "2"}, {6, 1, "x"}}},
      {"white space, br and references in a cell",
       "<table><tr><td>  a \n\t b &nbsp; <br>  c&#x10D;&#269;&amp;&lt;&apos;&unknown;</td><td>&nbsp;</td><td>x</td></table>",
       {{1, 1, "a b\nc\xE8\xE8&<'&unknown;"}, {1, 2, ""}, {1, 3, "x"}}},
      {"empty rows are rows", "<table><tr></tr><tr><td>b</td></tr></table>", {{1, 1, ""}, {2, 1, "b"}}},
      {"script, style and title show nothing",
       "<html><head><title>t</title><style>td{}</style><script>if (a<b) x='</td>';</script></head>"
       "<body><table><tr><td>v</table></body></html>",
       {{1, 1, "v"}, {2, 1, ""}}},
      {"a charset of a meta element", "<meta charset=iso-8859-2><p>\xE8\xB9</p>", {{1, 1, "\xE8\x9A"}}},
      {"broken UTF-8 behind its mark shows '?'", "\xEF\xBB\xBF<p>a\xC4 b</p>", {{1, 1, "a? b"}}},
      {"UTF-8 without a charset", "<p>\xC4\x8D</p>", {{1, 1, "\xE8"}}},
      {"Windows-1250 without a charset", "<p>\xE8\x9A</p>", {{1, 1, "\xE8\x9A"}}},
      {"UTF-16 page", std::string("\xFF\xFE<\0p\0>\0\x0D\x01", 10), {{1, 1, "\xE8"}}},
      {"ISO dates, numbers as text", "<table><tr><td>2024-03-05<td>0012<td>12.5</table>",
       {{1, 1, "5.3.2024"}, {1, 2, "0012"}, {1, 3, "12.5"}}},
      {"error texts only count in spreadsheet pages", "<table><tr><td>#N/A</table>", {{1, 1, "#N/A"}}},
      {"spreadsheet page types",
       "<html xmlns:x=\"urn:schemas-microsoft-com:office:excel\"><style>.d {mso-number-format:\"Short Date\";}\n"
       ".c {mso-number-format:\"\\#\\,\\#\\#0\\.00\\\\ \\[$\\20AC-424\\]\";}</style><table>"
       "<tr><td class=d x:num=\"45356.5\">x<td class=\"a c\" x:num=\"1.23456\">y<td x:num>7.5<td x:num>abc"
       "<tr><td style='mso-number-format:\"0\\.00\"' x:num=2>2,00<td x:bool=FALSE>F<td x:str=\" 00 \">0<td>#REF!"
       "</table></html>",
       {{1, 1, "5.3.2024 12:00:00"}, {1, 2, "1,2346"}, {1, 3, "7,5"}, {1, 4, "abc"}, {2, 1, "2"},
        {2, 2, "False"}, {2, 3, " 00 "}, {2, 4, std::nullopt}}},
      {"17 cells of 1000 columns", [] {
         std::string page = "<table><tr>";
         for (int i = 0; i < 17; ++i) page += "<td colspan=1000>x";
         return page;
       }(), {}, OpenFailure::TooLarge},
      {"a cell beyond the largest size", "<p>" + std::string(32768, 'x'), {}, OpenFailure::TooLarge},
      {"rows past the limit are not kept", "<p>a<p>b<p>c", {{1, 1, "a"}, {2, 1, ""}}, {}, 1},
  };
  for (const auto& c : cases) Check(c);
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The refusal of the bytes, if they are refused.
std::optional<WorkbookError> RefusalOf(const std::string& bytes) {
  GsfInput* input = gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.data()), bytes.size(), FALSE);
  SheetCells cells;
  SheetRead read = ReadActiveSheet(input, 3000, cells);
  g_object_unref(input);
  return read.failure;
}

// A file cut short is refused as such, never read as a shorter list; a whole
// file that merely lacks the line end of its last line is read.
TEST(TextForms, FilesCutShortAreRefused) {
  struct Case {
    const char* name;
    std::string bytes;
    bool cut;
  };
  const std::vector<Case> cases = {
      {"CSV ending inside a quoted field", "a;\"Dru\xC5\xBE" "ba\nb;c\n", true},
      {"CSV ending inside a UTF-8 character", "a;\xC4\x8D\nb;\xC4", true},
      {"CSV behind its mark ending inside a UTF-8 character", "\xEF\xBB\xBF" "a;b\nc;\xE2\x82", true},
      {"CSV ending inside a UTF-16 code unit", std::string("\xFF\xFE" "a\0;\0b\0\n\0c\0;\0d", 15), true},
      {"CSV ending inside a UTF-16 surrogate pair", std::string("\xFF\xFE" "a\0;\0\x3D\xD8", 8), true},
      {"CSV whose last line has fewer fields, no line end", "DATUM;SIMBOL;TECAJ\n5.3.2024;KRKG;12,5\n5.3.2024;PE", true},
      {"CSV whose last line has all fields, no line end", "DATUM;SIMBOL;TECAJ\n5.3.2024;KRKG;12,5\n5.3.2024;PETG;7", false},
      {"CSV whose short last line has its line end", "DATUM;SIMBOL;TECAJ\n5.3.2024;KRKG;12,5\nSkupaj\n", false},
      {"CSV whose data lines are all shorter than the first", "DATUM;SIMBOL;TECAJ;\n5.3.2024;KRKG;12,5\n5.3.2024;PETG;7",
       false},
      {"Windows-1250 CSV ending in a letter that leads UTF-8", "a;b\nc;\xC8", false},
      {"page ending inside a table", "<table><tr><td>a</td><td>12", true},
      {"page ending inside a cell's tag", "<table><tr><td>a</td><td class=x", true},
      {"page ending inside a tag after its table", "<table><tr><td>a</table><p class=", true},
      {"page ending inside a comment", "<table><tr><td>a</table><!-- x", true},
      {"page ending inside a declaration", "<table><tr><td>a</table><!doctype", true},
      {"page ending inside a style sheet", "<table><tr><td>a</table><style>td {</style><style>td {", true},
      {"page whose html element is not closed", "<html><body><table><tr><td>a</table></body>", true},
      {"page whose html element is closed", "<HTML><body><table><tr><td>a</table></body></HTML>\n", false},
      {"page without html element or open table", "<table><tr><td>a</table><p>b", false},
      {"page of an empty table written as XML writes it", "<table class=\"x\"/>", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<WorkbookError> refusal = RefusalOf(c.bytes);
    if (!c.cut) {
      EXPECT_FALSE(refusal.has_value()) << refusal->what();
      continue;
    }
    ASSERT_TRUE(refusal.has_value());
    EXPECT_EQ(refusal->Reason(), OpenFailure::Damaged);
    EXPECT_EQ(refusal->Detail().rfind("cut short: ", 0), 0u) << refusal->Detail();
  }
}

// Copies of the real files cut at many places: the page is refused wherever
// it is cut; the CSV file wherever the cut leaves the last line with fewer
// fields (the price column is the fourth of six).
TEST(TextForms, CutCopiesOfRealFilesAreRefused) {
  const std::string page = Contents(TextFile("data3000_libreoffice.html"));
  ASSERT_GT(page.size(), 1000000u);
  // (before its html element opens, a cut leaves a line of text, or a page of nothing)
  for (std::size_t cut = page.find("<html>") + 6; cut < page.size(); cut += page.size() / 37) {
    const std::optional<WorkbookError> refusal = RefusalOf(page.substr(0, cut));
    ASSERT_TRUE(refusal.has_value()) << "page cut at " << cut;
    EXPECT_EQ(refusal->Detail().rfind("cut short: ", 0), 0u) << "page cut at " << cut << ": " << refusal->Detail();
  }
  EXPECT_FALSE(RefusalOf(page).has_value());

  const std::string csv = Contents(TextFile("data3000_libreoffice.csv"));
  ASSERT_GT(csv.size(), 100000u);
  int cuts = 0;
  for (std::size_t lineStart = csv.find('\n') + 1; lineStart < csv.size(); lineStart = csv.find('\n', lineStart) + 1) {
    if (++cuts % 97 != 0) continue;
    // inside the price: after the third separator of the line, and one byte into the price
    std::size_t price = lineStart;
    for (int separators = 0; separators < 3; ++separators) price = csv.find(';', price) + 1;
    for (const std::size_t cut : {lineStart + 3, price + 1}) {
      const std::optional<WorkbookError> refusal = RefusalOf(csv.substr(0, cut));
      ASSERT_TRUE(refusal.has_value()) << "CSV cut at " << cut;
      EXPECT_EQ(refusal->Detail().rfind("cut short: ", 0), 0u) << "CSV cut at " << cut << ": " << refusal->Detail();
    }
  }
  EXPECT_FALSE(RefusalOf(csv).has_value());
}

// What a read of the bytes costs in a process of its own: the growth of the
// resident memory over the process as it was, and the CPU time.
struct ReadCost {
  double mebibytes;
  double cpuSeconds;
  int outcome;  // 0 read, 1 refused as too large, 2 refused for another reason
};

ReadCost CostOfReading(const std::string& bytes) {
  long residentPages = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    long size = 0;
    if (std::fscanf(statm, "%ld %ld", &size, &residentPages) != 2) residentPages = 0;
    std::fclose(statm);
  }
  const pid_t child = ::fork();
  if (child == 0) {
    const std::optional<WorkbookError> refusal = RefusalOf(bytes);
    ::_exit(!refusal ? 0 : refusal->Reason() == OpenFailure::TooLarge ? 1 : 2);
  }
  int status = 0;
  struct rusage usage {};
  if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status)) return {-1, -1, -1};
  const double residentKb = static_cast<double>(residentPages) * static_cast<double>(::sysconf(_SC_PAGESIZE)) / 1024;
  return {(static_cast<double>(usage.ru_maxrss) - residentKb) / 1024,
          static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
              static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6,
          WEXITSTATUS(status)};
}

// Files under 16 MB are read, or refused, within 64 MiB and 2 s (the bound
// here is generous with time, so that a busy machine does not fail it):
// however many cells a CSV file holds, however long a page's tag is, however
// many attributes it has.
TEST(TextForms, LargeFilesAreReadOrRefusedWithinBounds) {
  std::string wideLine;
  for (int column = 1; column < 16384; ++column) wideLine += "1;";
  wideLine += "1\n";
  std::string wideCsv;
  while (wideCsv.size() < (std::size_t{15} << 20)) wideCsv += wideLine;
  std::string longCells;
  for (int column = 1; column < 16384; ++column) longCells += "1234567890;";
  longCells += "1\n";
  std::string longCsv;
  while (longCsv.size() < (std::size_t{15} << 20)) longCsv += longCells;
  std::string attributes;
  for (int i = 0; attributes.size() < (std::size_t{15} << 20); ++i) attributes += " a" + std::to_string(i) + "=1";
  struct Case {
    const char* name;
    std::string bytes;
    int outcome;
  };
  const std::vector<Case> cases = {
      {"CSV of 16384 columns", wideCsv, 1},
      {"CSV of 16384 columns of ten digits", longCsv, 1},
      {"a cell's tag with a million attributes", "<table><tr><td" + attributes + ">1</td></tr></table>", 0},
      {"a tag never closed", "<html><body><table><tr><td" + attributes, 2},
      {"a comment never closed", "<html><body><!--" + attributes, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ReadCost cost = CostOfReading(c.bytes);
    EXPECT_EQ(cost.outcome, c.outcome);
    EXPECT_LT(cost.mebibytes, 64.0);
    EXPECT_LT(cost.cpuSeconds, 8.0);
  }
}

// Pages are read a piece of 64 KiB at a time. Whatever the end of a piece
// cuts (a tag, a reference, a comment, a character's bytes, the namespace of
// spreadsheet pages) reads as it does whole, and what turns up late in a page
// (a malformed byte, that namespace) counts for all of it.
TEST(TextForms, WebPagesReadInPieces) {
  constexpr std::size_t kPiece = 64 * 1024;
  // `before`, blanks, then `cut` with the end of the first piece `at` bytes
  // into it, then `after`
  auto page = [&](const std::string& before, const std::string& cut, std::size_t at, const std::string& after) {
    return before + std::string(kPiece - before.size() - at, ' ') + cut + after;
  };
  auto utf16 = [](const std::string& ascii) {
    std::string units;
    for (const char c : ascii) units += std::string{c, '\0'};
    return units;
  };
  const std::string lateMalformed = std::string(kPiece, ' ') + "<p>\xE8</p>";
  // further than the text read ahead when the layout refuses the page
  const std::string farMalformed = std::string(8 * kPiece, ' ') + "<p>\xE8</p>";
  std::string wideCellsInComment = "<!-- >" + std::string("<table><tr>");
  for (int i = 0; i < 17; ++i) wideCellsInComment += "<td colspan=1000>x";
  wideCellsInComment += "</table> -->";
  struct Case {
    const char* name;
    std::string before, cut, after;
    std::vector<CellCase> cells;
    std::optional<OpenFailure> failure = {};
  };
  const std::vector<Case> cases = {
      {"a tag, references and UTF-8 characters", "<table><tr>",
       "<td class=\"a b\" colspan=2>x&#269;y&amp;z\xC4\x8D\xE2\x82\xAC</td><td>w", "</table>",
       {{1, 1, "x\xE8y&z\xE8\x80"}, {1, 2, ""}, {1, 3, "w"}}},
      {"a comment and a script", "<html>", "<!-- <p>no --><script>a='<p>'</script><p>v", "</html>",
       {{1, 1, "v"}, {2, 1, ""}}},
      {"a UTF-16 surrogate pair", "\xFF\xFE" + utf16("<p>"),
       utf16("a") + std::string("\x3D\xD8\x00\xDE", 4) + utf16("b"),
       utf16("</p>"), {{1, 1, "a?b"}}},
      {"the namespace of spreadsheet pages, after a cell", "<table><tr><td x:num=\"1.5\">x</table>",
       "<p xmlns:x=\"urn:schemas-microsoft-com:office:excel\">", "", {{1, 1, "1,5"}}},
      {"a malformed byte after UTF-8: all of the page is Windows-1250", "<p>\xC4\x8D</p>", "<p>\xE8</p>", "",
       {{1, 1, "\xC4\x8D"}, {2, 1, "\xE8"}}},
      {"a malformed byte far behind", "<p>\xC4\x8D</p>", "<p>x</p>", lateMalformed,
       {{1, 1, "\xC4\x8D"}, {2, 1, "x"}, {3, 1, "\xE8"}}},
      // "<?" opens a processing instruction in UTF-8 (the unmapped character
      // shows as '?'), hiding the start of the comment around the cells too
      // wide: they show
      {"refused as UTF-8", "<html>", "<\xE4\xB8\xAD " + wideCellsInComment, "", {}, OpenFailure::TooLarge},
      {"refused as UTF-8, but the page is not", "<html>", "<\xE4\xB8\xAD " + wideCellsInComment, farMalformed + "</html>",
       {{1, 1, "<\xE4\xB8\xAD"}, {2, 1, "\xE8"}}},
      {"UTF-16 broken far behind shows nothing", "\xFF\xFE" + utf16("<p>a</p>"), utf16("<p>b</p>"),
       std::string(kPiece, ' ') + std::string("\x00\xDC", 2), {{1, 1, ""}}},
  };
  for (const auto& c : cases) {
    for (std::size_t at = 0; at <= c.cut.size(); at += (c.before.substr(0, 2) == "\xFF\xFE" ? 2 : 1)) {
      SCOPED_TRACE(std::string(c.name) + ", cut after " + std::to_string(at));
      std::string bytes = page(c.before, c.cut, at, c.after);
      if (c.before.substr(0, 2) == "\xFF\xFE") {  // the blanks as UTF-16 too
        const std::size_t blanks = kPiece - c.before.size() - at;
        bytes = c.before + utf16(std::string(blanks / 2, ' ')) + c.cut + c.after;
      }
      const auto [grid, failure] = ReadBytes(bytes);
      ASSERT_EQ(failure, c.failure);
      for (const auto& cell : c.cells) {
        SCOPED_TRACE(std::to_string(cell.row) + "," + std::to_string(cell.column));
        const auto found = grid.find({cell.row, cell.column});
        EXPECT_EQ(found == grid.end() ? Text("") : found->second, cell.text);
      }
    }
  }
}

// The page read in pieces of `pieceSize` bytes: its cells, or the failure's reason.
std::pair<Grid, std::optional<OpenFailure>> ReadPageInPieces(const std::string& bytes, std::size_t pieceSize) {
  GsfInput* input = gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.data()), bytes.size(), FALSE);
  SheetCells cells;
  std::optional<OpenFailure> failure;
  try {
    ReadHtmlInPieces(input, 3000, cells, pieceSize);
  } catch (const WorkbookError& refused) {
    failure = refused.Reason();
  }
  g_object_unref(input);
  return {GridOf(cells, 60, 20), failure};
}

// However small the pieces, a page reads as it does in one.
TEST(TextForms, WebPagesReadTheSameInPiecesOfAnySize) {
  std::vector<std::string> pages = {
      "<table><tr><td class=\"a b\" colspan=2>x&#269;y&amp;z&nbsp;&unknown;\xC4\x8D\xE2\x82\xAC\xF0\x9F\x98\x80</td>"
      "<td title='a>b'>w<br>v</table>",
      "<html><!-- <p>no --><script>a='</td>'</script><style>.d{mso-number-format:\"0\\.00\"}</style><p>v<!x><?y?></html>",
      "<html xmlns:x=\"urn:schemas-microsoft-com:office:excel\"><style>.d {mso-number-format:\"Short Date\";}</style>"
      "<table><tr><td class=d x:num=\"45356.5\">x<td x:bool=TRUE>t<td x:err>e</table></html>",
      "<table><tr><td x:num=\"1.5\">x</table><p xmlns:x=\"urn:schemas-microsoft-com:office:excel\">",
      "<p>\xC4\x8D</p><p>\xE8</p>",                                      // Windows-1250 after all
      "\xEF\xBB\xBF<p>a\xC4 b\xE2\x82</p>",                              // broken UTF-8 behind its mark
      std::string("\xFF\xFE<\0p\0>\0\x0D\x01\x3D\xD8\x00\xDE", 12),      // UTF-16 with a pair
      std::string("\xFE\xFF\0<\0p\0>\0a\xDC\x00", 12),                   // UTF-16 broken: nothing
      "<meta charset=iso-8859-2><p>\xE8\xB9</p>",
      "<meta charset=euc-jp><p>\xB0\xA1\xB0\xA2x</p>",                    // two bytes a character
      "<meta charset=euc-jp><p>\xB0\xA1\xB0</p>",                         // one cut at the end: not EUC-JP
      "<meta charset=no-such-charset><p>\xC4\x8D</p>",
      "<table><tr><td>a</td><td>b",                                       // ends inside a cell
      "<p>a <b",                                                          // ends inside a tag
      "<p>a &amp",                                                        // ends inside a reference
  };
  for (const char* file : {"small_gnumeric.html", "small_sheetjs.html", "excel_saved.htm", "report_generator.xls"}) {
    std::ifstream in(TextFile(file), std::ios::binary);
    pages.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    ASSERT_FALSE(pages.back().empty()) << file;
  }
  for (const auto& page : pages) {
    SCOPED_TRACE(page.substr(0, 60));
    const auto whole = ReadPageInPieces(page, 64 * 1024);
    for (std::size_t pieceSize = 1; pieceSize <= 9; ++pieceSize) {
      SCOPED_TRACE("pieces of " + std::to_string(pieceSize));
      EXPECT_EQ(ReadPageInPieces(page, pieceSize), whole);
    }
  }
}

}  // namespace
}  // namespace ratemover::spreadsheet

namespace ratemover::spreadsheet {
namespace {

// UTF-8 text turns into Windows-1250 wherever its characters stand among
// ASCII runs of every length; a broken sequence anywhere refuses the whole.
TEST(TextForms, Utf8AnywhereAmongAsciiRuns) {
  struct Piece {
    const char* what;
    std::string bytes;
    bool valid;
  };
  const std::vector<Piece> pieces = {
      {"c with caron", "\xC4\x8D", true},
      {"euro sign", "\xE2\x82\xAC", true},
      {"a character the code page lacks", "\xF0\x9F\x98\x80", true},
      {"a stray continuation byte", "\x8D", false},
      {"a sequence cut short", "\xE2\x82", false},
      {"an overlong slash", "\xC0\xAF", false},
      {"a surrogate", "\xED\xA0\x80", false},
  };
  for (const auto& piece : pieces) {
    for (std::size_t before = 0; before <= 17; ++before) {
      for (const std::size_t after : {0u, 1u, 7u, 8u, 9u, 23u}) {
        const std::string utf8 = std::string(before, 'a') + piece.bytes + std::string(after, 'z');
        SCOPED_TRACE(std::string(piece.what) + ", " + std::to_string(before) + " before, " + std::to_string(after) + " after");
        EXPECT_EQ(IsValidUtf8(utf8), piece.valid);
        // after a byte-order mark, which decoding skips
        std::string bytes = "\xEF\xBB\xBF" + utf8;
        EXPECT_EQ(DecodeInPlace(bytes, 3, TextEncoding::Utf8), piece.valid);
        if (piece.valid) {
          EXPECT_EQ(bytes, Cp1250FromUtf8(utf8));
        } else {
          EXPECT_EQ(bytes, "\xEF\xBB\xBF" + utf8);  // untouched
        }
      }
    }
  }
}

}  // namespace
}  // namespace ratemover::spreadsheet
