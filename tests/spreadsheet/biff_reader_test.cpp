// The .xls reader, through the session and through ReadActiveSheetFromFile:
// the workbooks of real producers cell by cell, damaged files, and small
// workbooks built here for the corners that no producer's file shows (strings
// split over CONTINUE records, encryption, a sheet that breaks off).
#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-input.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "spreadsheet/open_failure.h"
#include "spreadsheet/session.h"
#include "spreadsheet/workbook_reader.h"
#include "tests/spreadsheet/catalogue.h"
#include "tests/spreadsheet/reader_test_support.h"

namespace ratemover::spreadsheet {
namespace {

using Text = std::optional<std::string>;

std::string Workbook(const std::string& name) { return readertest::kWorkbooks + name; }

// Why the .xls reader refuses a file; nothing when it reads it.
std::optional<OpenFailure> FailureOf(const std::string& path, std::int32_t rowLimit = 3000) {
  SheetCells cells;
  const SheetRead read = ReadActiveSheetFromFile(path, rowLimit, cells);
  if (read.failure) return read.failure->Reason();
  return std::nullopt;
}

using Opened = readertest::OpenedWorkbook;

// ---------------------------------------------------------------------------
// The catalogue sheet "Tipi" as each producer wrote it.

struct Producer {
  const char* file;
  bool date1904 = false;
};

// A test's name from its workbook: "bad/trunc_600.xls" names "bad_trunc_600".
std::string TestNameOf(const ::testing::TestParamInfo<Producer>& info) {
  std::string name = info.param.file;
  for (const std::string folder : {"bad/", "fuzz/"}) {
    if (name.rfind(folder, 0) == 0) name = folder.substr(0, folder.size() - 1) + "_" + name.substr(folder.size());
  }
  return name.substr(0, name.find('.'));
}

class Catalogue : public ::testing::TestWithParam<Producer> {};

TEST_P(Catalogue, EveryCellOfColumnBReadsAsTheApplicationShowsIt) {
  Opened book(Workbook(GetParam().file));
  for (const auto& cell : testdata::TipiColumnB()) {
    const Text expected = cell.row == 34 ? testdata::Row34Text(!GetParam().date1904) : cell.text;
    EXPECT_EQ(book.Cell(cell.row, 2), expected) << GetParam().file << " row " << cell.row << " " << cell.label;
  }
}

TEST_P(Catalogue, TheActiveSheetIsReadNotTheFirst) {
  SheetCells cells;
  ASSERT_TRUE(ReadActiveSheetFromFile(Workbook(GetParam().file), 3000, cells));
  Opened book(Workbook(GetParam().file));
  EXPECT_EQ(book.Cell(1, 1), Text("label"));
  EXPECT_EQ(book.Cell(1, 2), Text("value"));
  EXPECT_EQ(book.Cell(1, 25), Text("colY"));
  EXPECT_EQ(book.Cell(2, 1), Text("text_slovene"));
  EXPECT_EQ(book.Cell(45, 1), Text("f_err #NAME?"));
  EXPECT_EQ(book.Cell(46, 2), Text(""));
}

INSTANTIATE_TEST_SUITE_P(Producers, Catalogue,
                         ::testing::Values(Producer{"types.xls"}, Producer{"types1904.xls", true},
                                           Producer{"types_biff5.xls"}, Producer{"types1904_biff5.xls", true},
                                           Producer{"types_gnumeric.xls"}),
                         TestNameOf);

TEST(BiffReader, TheDateSystemOfTheWorkbookIsKept) {
  for (const char* file : {"types1904.xls", "types1904_biff5.xls"}) {
    SheetCells cells;
    ASSERT_TRUE(ReadActiveSheetFromFile(Workbook(file), 3000, cells)) << file;
    EXPECT_EQ(cells.GetDateSystem(), DateSystem::Base1904) << file;
  }
  SheetCells cells;
  ASSERT_TRUE(ReadActiveSheetFromFile(Workbook("types.xls"), 3000, cells));
  EXPECT_EQ(cells.GetDateSystem(), DateSystem::Base1900);
}

TEST(BiffReader, XlwtFormulasWithoutCalculationAreNoResult) {
  // xlwt writes an "empty text" placeholder for every formula and never
  // calculates one: those cells have no cached result to read.
  Opened book(Workbook("types_xlwt.xls"));
  const std::vector<std::pair<int, Text>> expected = {
      {1, "value"},
      {2, "\xE8\x9A\x9E\xE6\xF0 \xC8\x8A\x8E\xC6\xD0"},
      {3, "42"},
      {4, "12,5"},
      {5, std::nullopt},
      {6, std::nullopt},
      {7, std::nullopt},
      {8, "5.3.2024"},
      {9, "5.3.2024 14:30:15"},
      {10, "True"},
      {11, ""},
      {12, "za praznim"},
  };
  for (const auto& [row, text] : expected) EXPECT_EQ(book.Cell(row, 2), text) << "row " << row;
}

TEST(BiffReader, ConstantErrorsAreReadFailuresAndConstantBooleansText) {
  Opened book(Workbook("const_errors_gnumeric.xls"));
  EXPECT_EQ(book.Cell(2, 2), std::nullopt);
  EXPECT_EQ(book.Cell(3, 2), std::nullopt);
  EXPECT_EQ(book.Cell(4, 2), Text("True"));
  EXPECT_EQ(book.Cell(5, 2), Text("False"));
}

TEST(BiffReader, AnUncalculatedTextFormulaReadsAsItsCachedNumber) {
  Opened book(Workbook("quirks/types_lo_uncalculated_textformula.xls"));
  EXPECT_EQ(book.Cell(11, 2), Text("0"));
  EXPECT_EQ(book.Cell(10, 2), Text("84"));
}

TEST(BiffReader, AWorkbookOfEmptySheetsReadsEmpty) {
  SheetCells cells;
  ASSERT_TRUE(ReadActiveSheetFromFile(Workbook("quirks/three_sheets_active_first.xls"), 3000, cells));
  EXPECT_EQ(cells.Size(), 0u);
}

// ---------------------------------------------------------------------------
// The 3000-row price lists.

struct Row {
  int row;
  std::vector<Text> columns;  // A to F
};

const std::vector<Row>& Data3000Rows() {
  static const std::vector<Row> rows = {
      {1, {"DATUM", "SIMBOL", "NAZIV", "TECAJ", "INDEKS", "DVOJNO"}},
      {2, {"5.3.2024", "ZVTG", "Dru\x9E" "ba ZVTG d.d.", "2083", "", "4166"}},
      {3, {"5.3.2024", "TLSG", "Dru\x9E" "ba TLSG d.d.", "4100,88", "", "8201,76"}},
      {6, {"5.3.2024", "\x8EITO", "Dru\x9E" "ba \x8EITO d.d.", "808", "", "1616"}},
      {7, {"5.3.2024", "\xC8" "EZ1", "Dru\x9E" "ba \xC8" "EZ1 d.d.", "4370,87", "", "8741,74"}},
      {8, {"5.3.2024", "\x8APAR", "Dru\x9E" "ba \x8APAR d.d.", "2810,4", "", "5620,8"}},
      {10, {"5.3.2024", "POSR", "Dru\x9E" "ba POSR d.d.", "1775", "X", "3550"}},
      {11, {"5.3.2024", "EQNX", "Dru\x9E" "ba EQNX d.d.", "2655,2185", "", "5310,437"}},
      {2999, {"5.3.2024", "EQNX2999", "Dru\x9E" "ba EQNX2999 d.d.", "220,6", "", "441,2"}},
      {3000, {"5.3.2024", "KRKG3000", "Dru\x9E" "ba KRKG3000 d.d.", "2573", "X", "5146"}},
  };
  return rows;
}

class Data3000 : public ::testing::TestWithParam<Producer> {};

TEST_P(Data3000, SpotChecksDownToRow3000) {
  Opened book(Workbook(GetParam().file));
  for (const auto& row : Data3000Rows()) {
    for (int column = 1; column <= 6; ++column) {
      EXPECT_EQ(book.Cell(row.row, column), row.columns[column - 1]) << "row " << row.row << " column " << column;
    }
  }
}

TEST_P(Data3000, RowsBeyondTheLimitAreNotStoredButReadOnRequest) {
  SheetCells cells;
  ASSERT_TRUE(ReadActiveSheetFromFile(Workbook(GetParam().file), 3000, cells));
  EXPECT_TRUE(cells.Find(3000, 2).has_value());
  EXPECT_FALSE(cells.Find(3001, 2).has_value());
  EXPECT_FALSE(cells.Find(3005, 2).has_value());

  Opened book(Workbook(GetParam().file));
  EXPECT_EQ(book.Cell(3001, 2), Text("PETG3001"));
  EXPECT_EQ(book.Cell(3005, 4), Text("1768,22"));
  EXPECT_EQ(book.Cell(3006, 2), Text(""));
}

INSTANTIATE_TEST_SUITE_P(Producers, Data3000,
                         ::testing::Values(Producer{"data3000.xls"}, Producer{"data3000_biff5.xls"},
                                           // damage that lies outside what is read (another sheet),
                                           // or that writers commit themselves (wrong DIMENSIONS)
                                           Producer{"bad/dims_max.xls"}, Producer{"bad/reclen_overrun.xls"}),
                         TestNameOf);

// Formulas of every kind that the writers store (functions, choices, array
// constants, 3-D references, names, reference subexpressions, shared and
// array formulas): each record is as long as its expression, so all are read.
class WriterFormulas : public ::testing::TestWithParam<Producer> {};

TEST_P(WriterFormulas, AreReadWithTheirConstants) {
  ASSERT_EQ(FailureOf(Workbook(GetParam().file)), std::nullopt);
  Opened book(Workbook(GetParam().file));
  EXPECT_EQ(book.Cell(1, 1), Text("1"));
  EXPECT_EQ(book.Cell(4, 2), Text("40"));
}

INSTANTIATE_TEST_SUITE_P(Producers, WriterFormulas,
                         ::testing::Values(Producer{"formulas.xls"}, Producer{"formulas_gnumeric.xls"},
                                           Producer{"formulas_gnumeric_biff5.xls"}, Producer{"formulas_xlwt.xls"}),
                         TestNameOf);

TEST(BiffReader, CalculatedFormulaResultsOfTheWriters) {
  // D4 sums the array constant {1,2;3,4}, D8 a 3-D area of the second sheet,
  // D9 doubles a defined name
  for (const char* file : {"formulas.xls", "formulas_gnumeric.xls", "formulas_gnumeric_biff5.xls"}) {
    Opened book(Workbook(file));
    EXPECT_EQ(book.Cell(1, 4), Text("6")) << file;
    EXPECT_EQ(book.Cell(4, 4), Text("10")) << file;
    EXPECT_EQ(book.Cell(8, 4), Text("3300")) << file;
    EXPECT_EQ(book.Cell(9, 4), Text("4")) << file;
  }
}

TEST(BiffReader, TheFarCellOfASparseSheet) {
  SheetCells cells;
  ASSERT_TRUE(ReadActiveSheetFromFile(Workbook("sparse.xls"), 3000, cells));
  EXPECT_EQ(cells.Size(), 1u);
  Opened book(Workbook("sparse.xls"));
  EXPECT_EQ(book.Cell(1, 1), Text("start"));
  EXPECT_EQ(book.Cell(65536, 256), Text("1"));
  EXPECT_EQ(book.Cell(65535, 256), Text(""));
}

// ---------------------------------------------------------------------------
// Workbooks of other writers, each read cell by cell against LibreOffice's
// .xlsx of the same file (foreign/libreoffice/) or against the file that it
// was derived from.

TEST(BiffReader, OtherWritersReadAsLibreOfficeReadsThem) {
  using readertest::CellsThatDiffer;
  // Excel for the Mac under code page 10000: LABEL and RSTRING count each
  // double-byte character once and store both its bytes
  EXPECT_EQ(CellsThatDiffer("foreign/sheetjs__biff5__phonetic_text.xls",
                            "foreign/libreoffice/sheetjs__biff5__phonetic_text.xlsx"),
            std::vector<std::string>{});
  // a writer library: the shared-string table declares 7668 strings and holds
  // 892. LibreOffice writes its .xlsx with 15 digits, rounding the shortest
  // decimal of the double (0.9659671015314805) once more; the double itself,
  // 0.96596710153148047..., is 0.965967101531480 to 15 digits (Gnumeric's
  // .xlsx of the file, which keeps all digits, reads as this reader does).
  EXPECT_EQ(CellsThatDiffer("foreign/calamine__gh548_incorrect_sst_unique_count.xls",
                            "foreign/libreoffice/calamine__gh548_incorrect_sst_unique_count.xlsx"),
            (std::vector<std::string>{"R22 \"0,96596710153148\" \"0,965967101531481\"",
                                      "Q49 \"0,566919067754941\" \"0,566919067754942\"",
                                      "Q52 \"0,509574713527647\" \"0,509574713527648\""}));
  // Excel 97, formulas with Excel 97's extended tokens: the cached results.
  // LibreOffice calculates anew what it cannot take as it is (A7 refers to a
  // name of another workbook, A26 is TODAY()) and keeps a logical result of a
  // formula as the number 1 or 0.
  EXPECT_EQ(CellsThatDiffer("foreign/xlrd__namesdemo.xls", "foreign/libreoffice/xlrd__namesdemo.xlsx"),
            (std::vector<std::string>{"A7 \"9876\" <read failure>", "E22 \"True\" \"1\"", "E23 \"False\" \"0\"",
                                      "E24 \"False\" \"0\"", "E25 \"True\" \"1\"", "A26 \"7.12.2006\" \"9.12.2026\""}));
  // a shared formula in the record of type 0x00BC, inserted after the
  // formula of E1 into Gnumeric's BIFF5 workbook
  EXPECT_EQ(CellsThatDiffer("foreign/formulas_biff5_shared_0x00BC.xls", "formulas_gnumeric_biff5.xls"),
            std::vector<std::string>{});
  // the string counts patched to 0x7FFFFFFF, the strings as they were
  EXPECT_EQ(CellsThatDiffer("bad/sst_count_huge.xls", "data3000.xls"), std::vector<std::string>{});
}

// One long shared string in every row: each cell holds its own copy, so the
// rows read would hold far more text than a price list (3000 copies of 30,000
// characters, from a file of 137 KB). Refused as too large instead of taking
// the memory; fewer rows of it are read.
TEST(BiffReader, CopiesOfALongSharedStringBeyondWhatAPriceListHoldsAreTooLarge) {
  SheetCells cells;
  const SheetRead read = ReadActiveSheetFromFile(Workbook("bad/sst_copies.xls"), 3000, cells);
  ASSERT_FALSE(read);
  EXPECT_EQ(read.failure->Reason(), OpenFailure::TooLarge);
  EXPECT_EQ(read.failure->Detail(), "more cells or text than a price list holds");
  EXPECT_EQ(cells.Size(), 0u);

  ASSERT_TRUE(ReadActiveSheetFromFile(Workbook("bad/sst_copies.xls"), 2000, cells));
  EXPECT_EQ(cells.Size(), 2000u);
  EXPECT_EQ(cells.Find(2000, 1).value_or(CellValue::Empty()).text, std::string(30000, 'x'));
}

// ---------------------------------------------------------------------------
// Files that cannot be opened: the session goes on with an empty sheet.

class CannotBeOpened : public ::testing::TestWithParam<Producer> {};

TEST_P(CannotBeOpened, TheSessionReadsAnEmptySheet) {
  EXPECT_NE(FailureOf(Workbook(GetParam().file)), std::nullopt);
  SheetCells cells;
  EXPECT_FALSE(ReadActiveSheetFromFile(Workbook(GetParam().file), 3000, cells));
  Opened book(Workbook(GetParam().file));
  for (const auto& [row, column] : std::vector<std::pair<int, int>>{{1, 1}, {1, 2}, {2, 1}, {2, 2}, {2, 4}, {3000, 2}}) {
    EXPECT_EQ(book.Cell(row, column), Text("")) << row << "," << column;
  }
}

INSTANTIATE_TEST_SUITE_P(Files, CannotBeOpened,
                         ::testing::Values(Producer{"types_pw.xls"}, Producer{"bad/types_pw_copy.xls"},
                                           Producer{"bad/ole2_named.xlsx"}, Producer{"bad/gzip.xls"},
                                           Producer{"bad/trunc_600.xls"},
                                           Producer{"bad/trunc_half.xls"}, Producer{"bad/garbage_mid.xls"},
                                           Producer{"bad/sst_index_bad.xls"},
                                           // fuzzing: a compound-file directory that the container
                                           // library rejects (and loses a few bytes over)
                                           Producer{"fuzz/msole_directory_leak.xls"}),
                         TestNameOf);

// ---------------------------------------------------------------------------
// Workbooks built here, record by record, in a compound file of our own.

std::string U8(unsigned v) { return std::string(1, static_cast<char>(v & 0xFF)); }
std::string U16(unsigned v) { return U8(v) + U8(v >> 8); }
std::string U32(std::uint32_t v) { return U16(v & 0xFFFF) + U16(v >> 16); }
std::string F64(double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return U32(static_cast<std::uint32_t>(bits)) + U32(static_cast<std::uint32_t>(bits >> 32));
}
std::string Rec(unsigned type, const std::string& data) { return U16(type) + U16(static_cast<unsigned>(data.size())) + data; }
std::string Bof(unsigned version, unsigned type) {
  std::string data = U16(version) + U16(type) + U16(0x0DBB) + U16(0x07CC);
  if (version == 0x0600) data += U32(0) + U32(6);
  return Rec(0x0809, data);
}
std::string Eof() { return Rec(0x000A, ""); }
std::string Window1(unsigned active) { return Rec(0x003D, U16(0) + U16(0) + U16(100) + U16(100) + U16(0x38) + U16(active) + U16(0) + U16(1) + U16(600)); }
std::string Xf(unsigned format) { return Rec(0x00E0, U16(0) + U16(format) + std::string(16, '\0')); }
std::string Cell(unsigned type, unsigned row, unsigned column, const std::string& rest, unsigned xf = 0) {
  return Rec(type, U16(row - 1) + U16(column - 1) + U16(xf) + rest);
}
std::string Number(unsigned row, unsigned column, double value, unsigned xf = 0) { return Cell(0x0203, row, column, F64(value), xf); }
std::string Compressed(const std::string& text) { return U16(static_cast<unsigned>(text.size())) + U8(0) + text; }
std::string Label8(unsigned row, unsigned column, const std::string& latin1) { return Cell(0x0204, row, column, Compressed(latin1)); }
std::string Formula(unsigned row, unsigned column, const std::string& result, unsigned xf = 0) {
  return Cell(0x0006, row, column, result + U16(0) + U32(0) + U16(3) + std::string("\x17\x00\x00", 3), xf);
}
std::string SpecialResult(unsigned kind, unsigned value = 0) { return U8(kind) + U8(0) + U8(value) + U8(0) + U16(0) + U16(0xFFFF); }

struct Sheet {
  std::string body;      // the records between BOF and EOF
  bool withEof = true;   // false: the stream ends inside the sheet
  unsigned type = 0x10;  // BOF substream type
};

// A workbook stream: globals (BOF, the given records, the sheet directory,
// EOF), the sheets, then zero padding, as some writers leave it. The padding
// keeps the stream out of the compound file's small-stream area.
std::string Stream(unsigned version, const std::string& globals, const std::vector<Sheet>& sheets) {
  const bool biff8 = version == 0x0600;
  const auto boundSheet = [&](std::uint32_t offset, const std::string& name, unsigned type) {
    return Rec(0x0085, U32(offset) + U8(0) + U8(type) + U8(static_cast<unsigned>(name.size())) + (biff8 ? U8(0) : "") + name);
  };
  std::string directory;
  for (std::size_t i = 0; i < sheets.size(); ++i) directory += boundSheet(0, "S" + std::to_string(i), 0);
  const std::string head = Bof(version, 0x0005) + globals;
  std::size_t offset = head.size() + directory.size() + 4;
  directory.clear();
  std::string tail;
  for (std::size_t i = 0; i < sheets.size(); ++i) {
    directory += boundSheet(static_cast<std::uint32_t>(offset + tail.size()), "S" + std::to_string(i),
                            sheets[i].type == 0x20 ? 2 : sheets[i].type == 0x40 ? 1 : sheets[i].type == 0x06 ? 6 : 0);
    tail += Bof(version, sheets[i].type) + sheets[i].body + (sheets[i].withEof ? Eof() : "");
  }
  return head + directory + Eof() + tail + std::string(5000, '\0');
}

// A compound file (version 3, 512-byte sectors) holding one stream.
std::string CompoundFile(const std::string& streamName, const std::string& stream) {
  const std::uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF, kFatSector = 0xFFFFFFFD;
  const std::size_t sectors = (stream.size() + 511) / 512;
  EXPECT_LE(sectors + 2, 128u);
  std::string header = std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(16, '\0') + U16(0x3E) +
                       U16(3) + U16(0xFFFE) + U16(9) + U16(6) + std::string(6, '\0') + U32(0) + U32(1) + U32(1) +
                       U32(0) + U32(4096) + U32(kEnd) + U32(0) + U32(kEnd) + U32(0) + U32(0);
  for (int i = 1; i < 109; ++i) header += U32(kFree);
  std::string fat = U32(kFatSector) + U32(kEnd);
  for (std::size_t i = 0; i < sectors; ++i) fat += U32(i + 1 == sectors ? kEnd : static_cast<std::uint32_t>(i + 3));
  while (fat.size() < 512) fat += U32(kFree);
  const auto entry = [](const std::string& name, unsigned type, std::uint32_t child, std::uint32_t start, std::uint32_t size) {
    std::string utf16;
    for (char c : name) utf16 += U16(static_cast<unsigned char>(c));
    utf16 += U16(0);
    std::string e = utf16 + std::string(64 - utf16.size(), '\0') + U16(static_cast<unsigned>(utf16.size())) + U8(type) +
                    U8(1) + U32(0xFFFFFFFF) + U32(0xFFFFFFFF) + U32(child) + std::string(16, '\0') + U32(0) +
                    std::string(16, '\0') + U32(start) + U32(size) + U32(0);
    return e;
  };
  std::string directory = entry("Root Entry", 5, 1, kEnd, 0) +
                          entry(streamName, 2, 0xFFFFFFFF, 2, static_cast<std::uint32_t>(stream.size()));
  while (directory.size() < 512) directory += std::string(128, '\0');
  std::string data = stream;
  data.resize(sectors * 512, '\0');
  return header + fat + directory + data;
}

struct Built {
  bool opened;
  std::optional<OpenFailure> failure;  // as the .xls reader says it
  SheetCells cells;
  std::string path;
};

Built Read(const std::string& stream, const std::string& streamName = "Workbook", std::int32_t rowLimit = 3000) {
  static int counter = 0;
  Built built;
  built.path = ::testing::TempDir() + "/biff_built_" + std::to_string(getpid()) + "_" + std::to_string(++counter) + ".xls";
  std::ofstream(built.path, std::ios::binary) << CompoundFile(streamName, stream);
  built.opened = static_cast<bool>(ReadActiveSheetFromFile(built.path, rowLimit, built.cells));
  built.failure = FailureOf(built.path, rowLimit);
  EXPECT_EQ(built.opened, !built.failure.has_value());
  return built;
}

Text TextAt(const Built& built, int row, int column) {
  Opened book(built.path);
  return book.Cell(row, column);
}

TEST(BuiltWorkbook, SharedStringsSplitOverContinueRecords) {
  // "Čebela": two wide characters in the SST record, the rest after a
  // CONTINUE whose option byte switches to one byte per character; then a
  // string with rich-text runs and phonetic data whose runs straddle the next
  // CONTINUE (no option byte there); then a plain one.
  const std::string first = U16(6) + U8(0x01) + U16(0x010C) + U16('e');
  const std::string second = U16(3) + U8(0x0C) + U16(1) + U32(6) + "abc" + std::string("\x01\x00", 2);
  const std::string rest = std::string("\x00\x00", 2) + "PHONET" + Compressed("xyz");
  const std::string globals = Rec(0x00FC, U32(3) + U32(3) + first) + Rec(0x003C, U8(0x00) + "bela" + second) +
                              Rec(0x003C, rest);
  const std::string sheet = Cell(0x00FD, 1, 1, U32(0)) + Cell(0x00FD, 2, 1, U32(1)) + Cell(0x00FD, 3, 1, U32(2));
  const Built built = Read(Stream(0x0600, globals, {{sheet}}));
  ASSERT_TRUE(built.opened);
  EXPECT_EQ(TextAt(built, 1, 1), Text("\xC8" "ebela"));
  EXPECT_EQ(TextAt(built, 2, 1), Text("abc"));
  EXPECT_EQ(TextAt(built, 3, 1), Text("xyz"));
}

TEST(BuiltWorkbook, CharactersTheCodePageLacksBecomeQuestionMarks) {
  // A character beyond the basic plane whose surrogate pair a CONTINUE splits
  // is one '?'; lone surrogates are one each; one-byte characters are Latin-1.
  const std::string split = U16(4) + U8(0x01) + U16('a') + U16(0xD83D);
  const std::string afterSplit = U8(0x01) + U16(0xDE00) + U16('b');
  const std::string lone = U16(3) + U8(0x01) + U16(0xD800) + U16('c') + U16(0xDC00);
  const std::string latin1 = U16(3) + U8(0x00) + "\xE9\xE8z";
  const std::string globals = Rec(0x00FC, U32(3) + U32(3) + split) + Rec(0x003C, afterSplit + lone + latin1);
  const std::string sheet = Cell(0x00FD, 1, 1, U32(0)) + Cell(0x00FD, 2, 1, U32(1)) + Cell(0x00FD, 3, 1, U32(2));
  const Built built = Read(Stream(0x0600, globals, {{sheet}}));
  ASSERT_TRUE(built.opened);
  EXPECT_EQ(TextAt(built, 1, 1), Text("a?b"));
  EXPECT_EQ(TextAt(built, 2, 1), Text("?c?"));
  EXPECT_EQ(TextAt(built, 3, 1), Text("\xE9?z"));  // é is in the code page, è is not
}

TEST(BuiltWorkbook, SharedStringIndexPastTheStringsIsDamage) {
  const std::string globals = Rec(0x00FC, U32(1) + U32(1) + Compressed("one"));
  EXPECT_TRUE(Read(Stream(0x0600, globals, {{Cell(0x00FD, 1, 1, U32(0))}})).opened);
  EXPECT_FALSE(Read(Stream(0x0600, globals, {{Cell(0x00FD, 1, 1, U32(1))}})).opened);
  // a string that claims more characters than there are is not indexed
  const std::string cut = Rec(0x00FC, U32(1) + U32(1) + U16(50) + U8(0) + "short");
  EXPECT_FALSE(Read(Stream(0x0600, cut, {{Cell(0x00FD, 1, 1, U32(0))}})).opened);
}

TEST(BuiltWorkbook, FormulaResults) {
  const std::string text = Formula(1, 1, SpecialResult(0)) + Rec(0x0207, U16(5) + U8(0) + "Hel") +
                           Rec(0x003C, U8(0x01) + U16('l') + U16('o'));
  const std::string sheet = text + Formula(2, 1, F64(2.5)) + Formula(3, 1, SpecialResult(1, 1)) +
                            Formula(4, 1, SpecialResult(2, 0x07)) + Formula(5, 1, SpecialResult(3)) +
                            // a text result whose STRING record is missing
                            Formula(6, 1, SpecialResult(0)) + Number(7, 1, 1.0) +
                            // a shared formula record between the formula and its text
                            Formula(8, 1, SpecialResult(0)) + Rec(0x04BC, std::string(10, '\0')) +
                            Rec(0x0207, Compressed("shared"));
  const struct {
    bool recalcId;
    Text emptyTextResult;
  } cases[] = {{true, ""}, {false, std::nullopt}};
  for (const auto& c : cases) {
    const Built built = Read(Stream(0x0600, c.recalcId ? Rec(0x01C1, U16(0x01C1) + U16(0) + U32(0x2A)) : "", {{sheet}}));
    ASSERT_TRUE(built.opened);
    EXPECT_EQ(TextAt(built, 1, 1), Text("Hello"));
    EXPECT_EQ(TextAt(built, 2, 1), Text("2,5"));
    EXPECT_EQ(TextAt(built, 3, 1), Text("True"));
    EXPECT_EQ(TextAt(built, 4, 1), std::nullopt);
    EXPECT_EQ(TextAt(built, 5, 1), c.emptyTextResult);
    EXPECT_EQ(TextAt(built, 6, 1), std::nullopt);
    EXPECT_EQ(TextAt(built, 7, 1), Text("1"));
    EXPECT_EQ(TextAt(built, 8, 1), Text("shared"));
  }
}

// A formula cell with the given tokens and the extra data after them.
std::string FormulaOf(unsigned row, unsigned column, const std::string& tokens, const std::string& extra = "") {
  return Cell(0x0006, row, column, F64(1) + U16(0) + U32(0) + U16(static_cast<unsigned>(tokens.size())) + tokens + extra);
}

TEST(BuiltWorkbook, AFormulaRecordIsAsLongAsItsExpression) {
  const std::string ref8 = U8(0x44) + U16(0) + U16(0xC000);  // A1, BIFF8
  const std::string ref5 = U8(0x44) + U16(0xC000) + U8(0);    // A1, BIFF5
  const std::string array = U8(0x60) + std::string(7, '\0');
  const std::string numbers8 = U8(1) + U16(0) + U8(1) + F64(1) + U8(1) + F64(2);  // {1,2}: columns - 1, rows - 1
  const std::string text8 = U8(0) + U16(0) + U8(2) + U16(2) + U8(1) + U16(0x010C) + U16('a');  // {"\xC8a"}
  const std::string memArea = U8(0x26) + U32(0) + U16(static_cast<unsigned>(ref8.size())) + ref8;
  const std::string rectangle8 = U16(0) + U16(1) + U16(0) + U16(0);
  const std::string choose = U8(0x19) + U8(0x04) + U16(2) + U16(8) + U16(10) + U16(12);
  const std::optional<OpenFailure> kRead;
  const auto kDamaged = OpenFailure::Damaged;
  const struct {
    const char* what;
    bool biff8;
    std::string tokens;
    std::string extra;
    std::optional<OpenFailure> failure;
  } cases[] = {
      {"integer", true, U8(0x1E) + U16(7), "", kRead},
      {"integer cut short", true, U8(0x1E) + U8(7), "", kDamaged},
      {"number", true, U8(0x1F) + F64(2.5), "", kRead},
      {"a byte after the tokens", true, U8(0x1E) + U16(7), "x", kDamaged},
      // Excel 97 writes extended tokens of sizes not known here: the walk
      // ends there and the record's own length stands
      {"extended token", true, U8(0x1E) + U16(7) + U8(0x18) + U8(0x01) + U16(0), "", kRead},
      {"extended token before the bytes the record ends with", true, U8(0x18) + U8(0x19) + U8(0x01) + U8(0xFF), "", kRead},
      {"extended token in BIFF5", false, U8(0x18) + U8(0x01) + U16(0), "", kDamaged},
      {"unknown token", true, U8(0x00) + U16(0), "", kDamaged},
      {"token past the classes", true, U8(0x84) + U16(0) + U16(0), "", kDamaged},
      {"wide string", true, U8(0x17) + U8(2) + U8(1) + U16(0x010C) + U16('a'), "", kRead},
      {"wide string a byte short", true, U8(0x17) + U8(2) + U8(1) + U16(0x010C) + U8('a'), "", kDamaged},
      {"reference and operator", true, ref8 + ref8 + U8(0x03), "", kRead},
      {"choice with its jump table", true, U8(0x1E) + U16(1) + choose + ref8, "", kRead},
      {"choice whose table runs past the tokens", true, U8(0x1E) + U16(1) + U8(0x19) + U8(0x04) + U16(9) + U16(8), "",
       kDamaged},
      {"array constant of numbers", true, array, numbers8, kRead},
      {"array constant of a wide string", true, array, text8, kRead},
      {"array constant without its values", true, array, "", kDamaged},
      {"array constant with a value too many", true, array, numbers8 + U8(1) + F64(3), kDamaged},
      {"array constant with an unknown value type", true, array, U8(0) + U16(0) + U8(0x07) + F64(0), kDamaged},
      {"reference subexpression with its rectangle", true, memArea, U16(1) + rectangle8, kRead},
      {"reference subexpression without its rectangle", true, memArea, U16(1), kDamaged},
      {"two constants' data in token order", true, memArea + array + U8(0x03), U16(1) + rectangle8 + numbers8, kRead},
      {"two constants' data swapped", true, memArea + array + U8(0x03), numbers8 + U16(1) + rectangle8, kDamaged},
      {"shared formula", true, U8(0x01) + U16(0) + U16(0), "", kRead},
      {"BIFF5 reference", false, ref5 + ref5 + U8(0x03), "", kRead},
      {"BIFF8 reference in BIFF5", false, ref8, "", kDamaged},
      {"BIFF5 array constant, columns and rows as they are", false, array, U8(2) + U16(1) + U8(1) + F64(1) + U8(2) + U8(1) + "a",
       kRead},
      {"BIFF5 array constant counted as BIFF8", false, array, U8(1) + U16(0) + U8(1) + F64(1) + U8(1) + F64(2), kDamaged},
      {"BIFF5 3-D reference", false, U8(0x5A) + U16(0xFFFE) + std::string(8, '\0') + U16(1) + U16(1) + U16(0xC000) + U8(0), "",
       kRead},
      {"BIFF8 3-D reference in BIFF5", false, U8(0x5A) + U16(1) + U16(0) + U16(0xC000), "", kDamaged},
  };
  for (const auto& c : cases) {
    const std::string sheet = FormulaOf(1, 1, c.tokens, c.extra) + Number(2, 1, 2);
    const Built built = c.biff8 ? Read(Stream(0x0600, "", {{sheet}})) : Read(Stream(0x0500, "", {{sheet}}), "Book");
    EXPECT_EQ(built.failure, c.failure) << c.what;
    if (!c.failure) {
      EXPECT_EQ(TextAt(built, 1, 1), Text("1")) << c.what;
    }
  }
}

TEST(BuiltWorkbook, NumbersAndTheirFormats) {
  const std::string globals = Rec(0x041E, U16(164) + U16(10) + U8(0) + "dd.mm.yyyy") + Xf(0) + Xf(14) + Xf(164) + Xf(7) + Xf(10);
  const std::string sheet = Number(1, 1, 45356, 1) + Number(2, 1, 45356, 2) + Number(3, 1, 45356.5, 1) +
                            Number(4, 1, 1234.56789, 3) + Number(5, 1, 0.125, 4) + Number(6, 1, 12.5, 99) +
                            Cell(0x027E, 7, 1, U32((123u << 2) | 0x03)) +                    // 123 / 100
                            Cell(0x027E, 8, 1, U32(static_cast<std::uint32_t>(-7) << 2 | 0x02)) +  // -7
                            Cell(0x027E, 9, 1, U32(0x3FF80000u)) +                           // 1.5
                            Rec(0x00BD, U16(9) + U16(1) + U16(1) + U32(45357u << 2 | 0x02) + U16(0) +
                                            U32(2u << 2 | 0x02) + U16(2)) +                   // B10, C10
                            Number(11, 1, std::numeric_limits<double>::quiet_NaN());
  const Built built = Read(Stream(0x0600, globals, {{sheet}}));
  ASSERT_TRUE(built.opened);
  EXPECT_EQ(TextAt(built, 1, 1), Text("5.3.2024"));
  EXPECT_EQ(TextAt(built, 2, 1), Text("5.3.2024"));
  EXPECT_EQ(TextAt(built, 3, 1), Text("5.3.2024 12:00:00"));
  EXPECT_EQ(TextAt(built, 4, 1), Text("1234,5679"));
  EXPECT_EQ(TextAt(built, 5, 1), Text("0,125"));
  EXPECT_EQ(TextAt(built, 6, 1), Text("12,5"));  // an XF index past the table reads in the general form
  EXPECT_EQ(TextAt(built, 7, 1), Text("1,23"));
  EXPECT_EQ(TextAt(built, 8, 1), Text("-7"));
  EXPECT_EQ(TextAt(built, 9, 1), Text("1,5"));
  EXPECT_EQ(TextAt(built, 10, 2), Text("6.3.2024"));
  EXPECT_EQ(TextAt(built, 10, 3), Text("2"));
  EXPECT_EQ(TextAt(built, 11, 1), std::nullopt);
}

TEST(BuiltWorkbook, TextEncodings) {
  // BIFF8: UTF-16 with a character outside the basic plane; BIFF5: the
  // workbook's code page
  const std::string wide = Cell(0x0204, 1, 1, U16(4) + U8(0x01) + U16(0x0160) + U16(0xD83D) + U16(0xDE00) + U16('a'));
  const Built biff8 = Read(Stream(0x0600, "", {{wide + Label8(2, 1, "\xE8\xE9")}}));
  ASSERT_TRUE(biff8.opened);
  EXPECT_EQ(TextAt(biff8, 1, 1), Text("\x8A?a"));
  // one byte per character is Latin-1: \xE8 is "e" with grave, which the
  // code page lacks, \xE9 is "e" with acute, which it has
  EXPECT_EQ(TextAt(biff8, 2, 1), Text("?\xE9"));
  struct Case {
    unsigned codePage;
    std::string bytes;
    std::string text;
  };
  const std::vector<Case> cases = {
      {1250, "\x8A\xE8\x9E", "\x8A\xE8\x9E"},
      {1252, "\x9A\xC4\xC3", "\x9A\xC4?"},
      {1251, "\xC0z", "?z"},
  };
  for (const auto& c : cases) {
    const std::string label = Cell(0x0204, 1, 1, U16(static_cast<unsigned>(c.bytes.size())) + c.bytes);
    const Built built = Read(Stream(0x0500, Rec(0x0042, U16(c.codePage)), {{label}}), "Book");
    ASSERT_TRUE(built.opened) << c.codePage;
    EXPECT_EQ(TextAt(built, 1, 1), Text(c.text)) << c.codePage;
  }
}

// A chart, macro, dialog sheet or module that is active opens, but is no
// worksheet: every read of it fails, the empty cells too.
TEST(BuiltWorkbook, TheActiveSheet) {
  const std::string dialog = Rec(0x0081, U16(0x0010));
  const std::string plainOptions = Rec(0x0081, U16(0x04C1));
  const std::vector<Sheet> sheets = {{Label8(1, 1, "first")},        {Label8(1, 1, "second")},
                                     {"", true, 0x20},               {Label8(1, 1, "macro"), true, 0x40},
                                     {dialog + Label8(1, 1, "dlg")}, {"", true, 0x06},
                                     {plainOptions + Label8(1, 1, "seventh")}};
  const struct {
    std::string window;
    Text a1;
    Text b2;
  } cases[] = {
      {"", "first", ""},
      {Window1(0), "first", ""},
      {Window1(1), "second", ""},
      {Window1(9), "first", ""},
      {Window1(2), std::nullopt, std::nullopt},  // chart
      {Window1(3), std::nullopt, std::nullopt},  // macro sheet
      {Window1(4), std::nullopt, std::nullopt},  // dialog sheet
      {Window1(5), std::nullopt, std::nullopt},  // module
      {Window1(6), "seventh", ""},               // sheet options without the dialog flag
  };
  for (const auto& c : cases) {
    const Built built = Read(Stream(0x0600, c.window, sheets));
    ASSERT_TRUE(built.opened);
    EXPECT_EQ(TextAt(built, 1, 1), c.a1) << testing::PrintToString(c.window);
    EXPECT_EQ(TextAt(built, 2, 2), c.b2) << testing::PrintToString(c.window);
  }
}

TEST(BuiltWorkbook, DamageAndEncryption) {
  const std::string cells = Label8(1, 1, "a") + Number(2, 1, 1);
  const std::string kMacRoman = Rec(0x0042, U16(10000));
  const std::string kMacKanji = Cell(0x0204, 1, 1, U16(2) + "\x8A\xBF\x8E\x9A");
  // rows 1 to 2, column 1, reserved, the expression of A1 (the number 7)
  const std::string kShared5 = Rec(0x00BC, U16(0) + U16(1) + U8(0) + U8(0) + U16(0) + U16(3) + U8(0x1E) + U16(7));
  const std::optional<OpenFailure> kRead;
  const auto kDamaged = OpenFailure::Damaged;
  const std::string sst = Rec(0x00FC, U32(2) + U32(2) + Compressed("one") + Compressed("two"));
  const struct {
    const char* what;
    std::string stream;
    std::string streamName;
    std::optional<OpenFailure> failure;
  } cases[] = {
      {"intact", Stream(0x0600, "", {{cells}}), "Workbook", kRead},
      {"intact BIFF5", Stream(0x0500, "", {{Cell(0x0204, 1, 1, U16(1) + "a")}}), "Book", kRead},
      {"BIFF5 label longer than its string", Stream(0x0500, "", {{Cell(0x0204, 1, 1, U16(1) + "ab")}}), "Book", kDamaged},
      // Excel for the Mac counts a double-byte character once and stores
      // both its bytes
      {"Mac label of double-byte characters", Stream(0x0500, kMacRoman, {{kMacKanji}}), "Book", kRead},
      {"Mac label whose bytes are not its characters",
       Stream(0x0500, kMacRoman, {{Cell(0x0204, 1, 1, U16(2) + "ab\x8E\x9A")}}), "Book", kDamaged},
      {"Mac label one character short", Stream(0x0500, kMacRoman, {{Cell(0x0204, 1, 1, U16(1) + "\x8A\xBF\x8E\x9A")}}),
       "Book", kDamaged},
      {"Windows label counting double-byte characters", Stream(0x0500, Rec(0x0042, U16(1252)), {{kMacKanji}}), "Book",
       kDamaged},
      // the shared formula that Excel 5 for the Mac keeps in a record of its
      // own stands only right after its formula
      {"BIFF5 shared formula after its formula",
       Stream(0x0500, "", {{FormulaOf(1, 1, U8(0x01) + U16(0) + U16(0)) + kShared5 + Number(2, 1, 2)}}), "Book",
       kRead},
      {"BIFF5 shared formula after a number", Stream(0x0500, "", {{Number(1, 1, 1) + kShared5 + Number(2, 1, 2)}}), "Book",
       kDamaged},
      {"BIFF5 shared formula record in BIFF8",
       Stream(0x0600, "", {{FormulaOf(1, 1, U8(0x01) + U16(0) + U16(0)) + kShared5 + Number(2, 1, 2)}}), "Workbook",
       kDamaged},
      {"encrypted", Stream(0x0600, Rec(0x002F, U16(1) + std::string(52, '\0')), {{cells}}), "Workbook",
       OpenFailure::Encrypted},
      {"no workbook stream", Stream(0x0600, "", {{cells}}), "Contents", OpenFailure::UnknownFormat},
      {"BIFF4", Rec(0x0409, U16(0) + U16(0x10)) + std::string(5000, '\0'), "Book", OpenFailure::UnknownFormat},
      {"sheet without EOF", Stream(0x0600, "", {{cells, false}}), "Workbook", kDamaged},
      {"record past the end", Stream(0x0600, "", {{cells + U16(0x0203) + U16(14) + "abc", false}}), "Workbook", kDamaged},
      {"record too long", Stream(0x0600, "", {{cells + Rec(0x0203, std::string(9000, '\0'))}}), "Workbook", kDamaged},
      {"cell record of the wrong size", Stream(0x0600, "", {{cells + Cell(0x00FD, 3, 1, U32(0) + "xx")}}), "Workbook", kDamaged},
      {"column past the sheet", Stream(0x0600, "", {{Number(1, 300, 1)}}), "Workbook", kDamaged},
      {"sheet is not a worksheet substream", Stream(0x0600, "", {{cells, true, 0x0005}}), "Workbook", kDamaged},
      // the records chain from the globals through the sheet to its EOF
      {"EOF inside the globals", Stream(0x0600, Eof() + Rec(0x0022, U16(0)), {{cells}}), "Workbook", kDamaged},
      {"BOF inside the globals", Stream(0x0600, Bof(0x0600, 0x10), {{cells}}), "Workbook", kDamaged},
      {"EOF inside the cells", Stream(0x0600, "", {{cells + Eof() + Number(3, 1, 3)}}), "Workbook", kDamaged},
      {"EOF inside the cells of the first of two sheets",
       Stream(0x0600, "", {{cells + Eof() + Number(3, 1, 3)}, {cells}}), "Workbook", kDamaged},
      {"worksheet BOF inside the cells", Stream(0x0600, "", {{cells + Bof(0x0600, 0x10) + Number(3, 1, 3)}}), "Workbook",
       kDamaged},
      {"embedded chart after the cells", Stream(0x0600, "", {{cells + Bof(0x0600, 0x20) + Eof() + Rec(0x023E, std::string(18, '\0'))}}),
       "Workbook", kRead},
      {"cell after an embedded chart", Stream(0x0600, "", {{cells + Bof(0x0600, 0x20) + Eof() + Number(3, 1, 3)}}),
       "Workbook", kDamaged},
      {"cell damaged into another record type",
       Stream(0x0600, "", {{cells + Rec(0x0200, std::string(14, '\0')) + Number(3, 1, 3)}}), "Workbook", kDamaged},
      {"other records before and after the cells",
       Stream(0x0600, "", {{Rec(0x0200, std::string(14, '\0')) + Rec(0x0208, std::string(16, '\0')) + cells +
                            Rec(0x00D7, U32(0)) + Rec(0x023E, std::string(18, '\0'))}}),
       "Workbook", kRead},
      {"bytes after the last sheet", Stream(0x0600, "", {{cells}}) + "junk", "Workbook", kDamaged},
      {"zero padding after the last sheet", Stream(0x0600, "", {{cells}}) + std::string(7, '\0'), "Workbook", kRead},
      // cells in ascending order, row by row, column by column
      {"row goes back", Stream(0x0600, "", {{Number(2, 1, 1) + Number(1, 1, 1)}}), "Workbook", kDamaged},
      {"column goes back", Stream(0x0600, "", {{Number(1, 2, 1) + Number(1, 1, 1)}}), "Workbook", kDamaged},
      {"same cell twice", Stream(0x0600, "", {{Number(1, 1, 1) + Number(1, 1, 2)}}), "Workbook", kDamaged},
      {"list overlaps the next cell",
       Stream(0x0600, "", {{Rec(0x00BE, U16(0) + U16(0) + U16(0) + U16(0) + U16(0) + U16(2)) + Number(1, 2, 1)}}),
       "Workbook", kDamaged},
      {"list then the next column",
       Stream(0x0600, "", {{Rec(0x00BE, U16(0) + U16(0) + U16(0) + U16(0) + U16(0) + U16(2)) + Number(1, 4, 1)}}),
       "Workbook", kRead},
      {"damage beyond the row limit", Stream(0x0600, "", {{cells + Number(4000, 1, 1) + Number(3999, 1, 1)}}),
       "Workbook", kDamaged},
      // the shared strings parse whole to their declared count
      {"shared strings whole", Stream(0x0600, sst, {{Cell(0x00FD, 1, 1, U32(1))}}), "Workbook", kRead},
      // writers store a larger count than the strings they write: the table
      // holds what it holds, and only a cell past it has lost its text
      {"fewer shared strings than declared",
       Stream(0x0600, Rec(0x00FC, U32(3) + U32(3) + Compressed("one") + Compressed("two")),
              {{Cell(0x00FD, 1, 1, U32(1))}}),
       "Workbook", kRead},
      {"fewer shared strings than declared, a cell past them",
       Stream(0x0600, Rec(0x00FC, U32(3) + U32(3) + Compressed("one") + Compressed("two")),
              {{Cell(0x00FD, 1, 1, U32(2))}}),
       "Workbook", kDamaged},
      {"the shared-string table ends inside a string",
       Stream(0x0600, Rec(0x00FC, U32(3) + U32(3) + Compressed("one") + U16(5) + U8(0) + "tw"), {{cells}}), "Workbook",
       kDamaged},
      {"more shared strings than declared",
       Stream(0x0600, Rec(0x00FC, U32(1) + U32(1) + Compressed("one") + Compressed("two")), {{cells}}), "Workbook",
       kDamaged},
      {"a shared string's length one too long",
       Stream(0x0600, Rec(0x00FC, U32(2) + U32(2) + U16(4) + U8(0) + "one" + Compressed("two")), {{cells}}),
       "Workbook", kDamaged},
      {"two shared-string tables", Stream(0x0600, sst + sst, {{cells}}), "Workbook", kDamaged},
      {"ROW record longer than 16 bytes",
       Stream(0x0600, "", {{Rec(0x0208, std::string(17, '\0')) + cells}}), "Workbook", kDamaged},
      // what writers get wrong themselves is no reason to refuse
      {"wrong DIMENSIONS, no INDEX",
       Stream(0x0600, "", {{Rec(0x0200, U32(0) + U32(65536) + U16(0) + U16(256) + U16(0)) + cells}}), "Workbook", kRead},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Read(c.stream, c.streamName).failure, c.failure) << c.what;
  }
}

TEST(BuiltWorkbook, RowsBeyondTheLimitAreCheckedButNotStored) {
  const std::string sheet = Number(1, 1, 1) + Number(2, 1, 2) + Number(5, 1, 5) + Number(6, 2, 6);
  const Built built = Read(Stream(0x0600, "", {{sheet}}), "Workbook", 2);
  ASSERT_TRUE(built.opened);
  EXPECT_EQ(built.cells.Size(), 2u);
  EXPECT_FALSE(built.cells.Find(5, 1).has_value());
  // a sheet that breaks off beyond the limit is a damaged workbook, whatever
  // the limit
  const std::string broken = sheet + U16(0x0203) + U16(14);
  for (const std::int32_t limit : {2, 5, 3000}) {
    EXPECT_EQ(Read(Stream(0x0600, "", {{broken, false}}), "Workbook", limit).failure, OpenFailure::Damaged) << limit;
  }
}

// ---------------------------------------------------------------------------
// The price list with the smallest damage that real files suffer, made here
// from the fixture's bytes: each must be refused as damaged, since BIFF has
// no checksum and any of them would otherwise pass as a shorter or garbled
// price list.

// The one offset of a byte pattern in a file; a '?' in the mask matches any
// byte at its position.
std::size_t FindOnce(const std::string& bytes, const std::string& pattern, const std::string& mask = "") {
  std::size_t found = std::string::npos;
  for (std::size_t at = 0; at + pattern.size() <= bytes.size(); ++at) {
    bool match = true;
    for (std::size_t i = 0; i < pattern.size() && match; ++i) {
      match = (i < mask.size() && mask[i] == '?') || bytes[at + i] == pattern[i];
    }
    if (!match) continue;
    EXPECT_EQ(found, std::string::npos) << "the pattern is not unique";
    if (found == std::string::npos) found = at;
  }
  EXPECT_NE(found, std::string::npos) << "the pattern is not in the file";
  return found;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct FixtureDamage {
  const char* name;
  const char* fixture;
  const char* reason;  // what the refusal names
  // changes the file's bytes in place
  void (*damage)(std::string& bytes);
};

// Record headers and cells of the active sheet, by their bytes: type, length,
// row - 1, column - 1.
const std::string kLabelB1126 = U16(0x00FD) + U16(10) + U16(1125) + U16(1);
const std::string kFormulaF1126 = U16(0x0006) + U16(27) + U16(1125) + U16(5);
const std::string kLabelC1473 = U16(0x00FD) + U16(10) + U16(1472) + U16(2);
const std::string kLabelB2500 = U16(0x00FD) + U16(10) + U16(2499) + U16(1);
const std::string kFormulaF1772 = U16(0x0006) + U16(27) + U16(1771) + U16(5);
const std::string kRow2935 = U16(0x0208) + U16(16) + U16(2934);

const FixtureDamage kFixtureDamage[] = {
    {"formula_length_27_to_28", "data3000.xls", "is 28 bytes long, its expression takes 27",
     [](std::string& b) { b[FindOnce(b, kFormulaF1126) + 2] = 28; }},
    // a bit flip that makes a record swallow the records after it and end
    // exactly where another begins: the records still chain, the cells they
    // hid are merely missing
    {"formula_length_27_to_4123", "data3000.xls", "is 4123 bytes long, its expression takes 27",
     [](std::string& b) { b[FindOnce(b, kFormulaF1772) + 3] = 0x10; }},
    {"row_length_16_to_4112", "data3000.xls", "ROW: the record at offset 488332 is 4112 bytes long, not 16", [](std::string& b) { b[FindOnce(b, kRow2935) + 3] = 0x10; }},
    // the writers' formulas with one count changed: an array constant's rows,
    // a string constant's length
    {"array_constant_rows", "formulas.xls", "holds the data of its array constants cut short or damaged",
     [](std::string& b) { b[FindOnce(b, U16(0x1019) + U16(0) + U8(1) + U16(1) + U8(1) + F64(1)) + 5] = 2; }},
    {"string_constant_length", "formulas.xls", "holds an unknown token 0x0000", [](std::string& b) { b[FindOnce(b, U8(0x17) + U8(5) + U8(0) + "velik") + 1] = 4; }},
    {"biff5_string_constant_length", "formulas_gnumeric_biff5.xls", "that runs past its expression",
     [](std::string& b) { b[FindOnce(b, U8(0x17) + U8(5) + "velik") + 1] = 6; }},
    {"row_1126_to_4126", "data3000.xls", "for row 1126, column 3 comes after row 4126, column 2",
     [](std::string& b) { b.replace(FindOnce(b, kLabelB1126) + 4, 2, U16(4125)); }},
    // the last cell of a row moved to a row that no cell holds: only the
    // order of the cells shows it (were the price the row's last cell, the
    // row would lose its price silently)
    {"last_cell_of_row_1126_to_4126", "data3000.xls", "for row 1127, column 1 comes after row 4126, column 6",
     [](std::string& b) { b.replace(FindOnce(b, kFormulaF1126) + 4, 2, U16(4125)); }},
    {"cell_type_to_eof", "data3000.xls", "goes on after the last sheet's EOF record", [](std::string& b) { b.replace(FindOnce(b, kLabelC1473), 2, U16(0x000A)); }},
    // a table or array record belongs to the formula right before it;
    // standing for a cell it ends the table, and the next cell shows it
    {"cell_type_to_table", "data3000.xls", "after the end of the sheet's cells",
     [](std::string& b) { b.replace(FindOnce(b, kLabelC1473), 2, U16(0x0236)); }},
    {"cell_type_to_bof", "data3000.xls", "a BOF record at offset 329940 inside the active sheet", [](std::string& b) { b.replace(FindOnce(b, kLabelC1473), 2, U16(0x0809)); }},
    {"swapped_sectors", "data3000.xls", "does not have the shape of its type",
     [](std::string& b) {
       const std::size_t first = FindOnce(b, kLabelB1126) / 512 * 512;
       const std::size_t second = FindOnce(b, kLabelB2500) / 512 * 512;
       const std::string saved = b.substr(first, 512);
       b.replace(first, 512, b.substr(second, 512));
       b.replace(second, 512, saved);
     }},
    {"sst_string_length", "data3000.xls", "shared string 8 of the 6016 that the table declares does not parse",
     [](std::string& b) { b[FindOnce(b, U16(4) + U8(0) + "ZVTG")] = 5; }},
    {"biff5_row_1126_to_4126", "data3000_biff5.xls", "for row 1126, column 3 comes after row 4126, column 2",
     [](std::string& b) { b.replace(FindOnce(b, U16(0x0204) + U16(0) + U16(1125) + U16(1), "  ??") + 4, 2, U16(4125)); }},
    // one bit of a NUMBER's type flipped makes it a STRING, which otherwise
    // only follows a formula
    {"biff5_number_type_to_string", "data3000_biff5.xls", "STRING: the record at offset 286682 does not follow a formula",
     [](std::string& b) { b[FindOnce(b, U16(0x0203) + U16(14) + U16(2031) + U16(3))] = 0x07; }},
    // Excel for the Mac's LABEL "\x8A\xBF\x8E\x9A" (two double-byte
    // characters) with its count changed: the bytes no longer make that many
    // characters
    {"mac_label_count_2_to_1", "foreign/sheetjs__biff5__phonetic_text.xls", "type 0x0204 at offset 7352 holds a string shorter than itself",
     [](std::string& b) { b[FindOnce(b, U16(0x0204) + U16(12) + U16(0) + U16(0) + U16(0x3E) + U16(2)) + 10] = 1; }},
    {"mac_label_count_2_to_3", "foreign/sheetjs__biff5__phonetic_text.xls", "type 0x0204 at offset 7352 holds a string shorter than itself",
     [](std::string& b) { b[FindOnce(b, U16(0x0204) + U16(12) + U16(0) + U16(0) + U16(0x3E) + U16(2)) + 10] = 3; }},
    // Excel 97's formula with an extended token, whose size the walk does
    // not know, one byte longer: the records after it no longer chain
    {"extended_token_formula_length_46_to_47", "foreign/xlrd__namesdemo.xls", "runs past the end of the workbook stream",
     [](std::string& b) { b[FindOnce(b, U16(0x0006) + U16(46) + U16(5) + U16(0)) + 2] = 47; }},
    {"biff5_cell_type_to_eof", "data3000_biff5.xls", "goes on after the last sheet's EOF record",
     [](std::string& b) { b.replace(FindOnce(b, U16(0x0204) + U16(0) + U16(1472) + U16(2), "  ??"), 2, U16(0x000A)); }},
};

class FixtureDamaged : public ::testing::TestWithParam<FixtureDamage> {};

TEST_P(FixtureDamaged, IsRefusedAsDamaged) {
  std::string bytes = ReadBytes(Workbook(GetParam().fixture));
  ASSERT_FALSE(bytes.empty());
  const std::string intact = bytes;
  GetParam().damage(bytes);
  ASSERT_NE(bytes, intact);
  const std::string path = ::testing::TempDir() + "/biff_damaged_" + std::to_string(getpid()) + "_" + GetParam().name + ".xls";
  std::ofstream(path, std::ios::binary) << bytes;
  SheetCells cells;
  const SheetRead read = ReadActiveSheetFromFile(path, 3000, cells);
  ASSERT_TRUE(read.failure.has_value());
  EXPECT_EQ(read.failure->Reason(), OpenFailure::Damaged);
  EXPECT_NE(read.failure->Detail().find(GetParam().reason), std::string::npos) << read.failure->Detail();
  std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureDamaged, ::testing::ValuesIn(kFixtureDamage),
                         [](const ::testing::TestParamInfo<FixtureDamage>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ratemover::spreadsheet
