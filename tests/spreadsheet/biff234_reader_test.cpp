// The reader of Excel 2.x, 3.0 and 4.0 files: the catalogue sheet as SheetJS
// wrote it in each version (with the edits that the workbook catalogue lists),
// an Excel 4.0 workbook whose active sheet is not the first, and damaged
// copies of a real file, each refused for its own reason.
#include <gsf/gsf-input-memory.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "spreadsheet/open_failure.h"
#include "spreadsheet/session.h"
#include "spreadsheet/format_table.h"
#include "tests/spreadsheet/catalogue.h"
#include "tests/spreadsheet/reader_test_support.h"

namespace ratemover::spreadsheet {
namespace {

using Text = std::optional<std::string>;

std::string Workbook(const std::string& name) { return readertest::kWorkbooks + name; }

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

using Opened = readertest::OpenedWorkbook;

struct Version {
  const char* file;
  bool date1904 = false;
};

std::string NameOf(const ::testing::TestParamInfo<Version>& info) {
  const std::string name = info.param.file;
  return name.substr(name.find('/') + 1, name.find('.') - name.find('/') - 1);
}

class Biff234Catalogue : public ::testing::TestWithParam<Version> {};

// SheetJS writes values, never formulas, and the Excel 2.x text form, which
// holds 255 characters: the 300-character text arrives cut, the rest as the
// application shows it.
TEST_P(Biff234Catalogue, EveryCellOfColumnBReadsAsTheApplicationShowsIt) {
  Opened book(Workbook(GetParam().file));
  for (const auto& cell : testdata::TipiColumnB()) {
    Text expected = cell.row == 34 ? testdata::Row34Text(!GetParam().date1904) : cell.text;
    if (cell.row == 27) expected = expected->substr(0, 255);
    EXPECT_EQ(book.Cell(cell.row, 2), expected) << GetParam().file << " row " << cell.row << " " << cell.label;
  }
  EXPECT_EQ(book.Cell(1, 25), Text("colY"));
  EXPECT_EQ(book.Cell(46, 2), Text(""));
}

TEST_P(Biff234Catalogue, TheDateSystemOfTheFileIsKept) {
  SheetCells cells;
  ASSERT_TRUE(ReadActiveSheetFromFile(Workbook(GetParam().file), 3000, cells));
  EXPECT_EQ(cells.GetDateSystem(), GetParam().date1904 ? DateSystem::Base1904 : DateSystem::Base1900);
}

INSTANTIATE_TEST_SUITE_P(Versions, Biff234Catalogue,
                         ::testing::Values(Version{"biff234/types_biff2.xls"}, Version{"biff234/types_biff3.xls"},
                                           Version{"biff234/types_biff4.xls"},
                                           Version{"biff234/types1904_biff2.xls", true},
                                           Version{"biff234/types1904_biff3.xls", true},
                                           Version{"biff234/types1904_biff4.xls", true},
                                           Version{"biff234/types_workbook_biff4.xls"},
                                           // FORMAT records whose index field is 0 in every
                                           // record: their positions count, as in Excel 2.x
                                           Version{"biff234/types_formats_biff4.xls"}),
                         NameOf);

TEST(Biff234Reader, Data3000DownToTheRowLimit) {
  for (const char* file : {"biff234/data3000_biff2.xls", "biff234/data3000_biff3.xls", "biff234/data3000_biff4.xls"}) {
    SheetCells cells;
    ASSERT_TRUE(ReadActiveSheetFromFile(Workbook(file), 3000, cells)) << file;
    // rows 3001 to 3005 are read to the end of the sheet but not kept
    EXPECT_TRUE(cells.Find(3000, 2).has_value()) << file;
    EXPECT_FALSE(cells.Find(3001, 2).has_value()) << file;
    Opened book(Workbook(file));
    EXPECT_EQ(book.Cell(1, 4), Text("TECAJ")) << file;
    EXPECT_EQ(book.Cell(2, 1), Text("5.3.2024")) << file;
  }
}

// --- against LibreOffice's reading of the same files ---

// Where this reader and LibreOffice's .xlsx of the same file differ, over
// rows 1 to 3010, columns A to Z.
struct Differences {
  // the same number, which this reader shows as the date or time its format
  // says and LibreOffice as the bare serial
  std::vector<std::string> serials;
  std::vector<std::string> other;  // as readertest::CellsThatDiffer gives them
};

Differences CompareWithLibreOffice(const std::string& name, const std::string& libreOffice) {
  SheetCells ours, theirs;
  EXPECT_TRUE(ReadActiveSheetFromFile(Workbook("biff234/" + name + ".xls"), 3010, ours)) << name;
  EXPECT_TRUE(ReadActiveSheetFromFile(Workbook("biff234_libreoffice/" + libreOffice + ".xlsx"), 3010, theirs)) << name;
  Differences found;
  for (int row = 1; row <= 3010; ++row) {
    for (int column = 1; column <= 26; ++column) {
      const std::string a = readertest::TextAt(ours, row, column);
      const std::string b = readertest::TextAt(theirs, row, column);
      if (a == b) continue;
      const std::optional<CellValue> mine = ours.Find(row, column);
      const std::optional<CellValue> serial = theirs.Find(row, column);
      const bool sameNumber = mine && serial && mine->kind == CellValue::Kind::Number &&
                              mine->style == NumberStyle::DateTime && serial->kind == CellValue::Kind::Number &&
                              serial->style == NumberStyle::General && serial->number == mine->number;
      if (sameNumber) {
        found.serials.push_back(readertest::CellName(row, column));
      } else {
        found.other.push_back(readertest::CellName(row, column) + " " + a + " " + b);
      }
    }
  }
  return found;
}

// LibreOffice 7.4 takes no number format from the attribute bytes of the
// Excel 2.x cell form, with FORMAT records (types_formats_biff4) or without
// (it knows no built-in formats before BIFF5): it shows every date and time as
// its serial. Every other cell reads the same.
TEST(Biff234Reader, ReadsAsLibreOfficeReadsTheSameFiles) {
  const std::vector<std::string> catalogueDates = {"B15", "B16", "B17", "B18", "B25",
                                                   "B29", "B34", "B36", "B37", "B38"};
  for (const char* name : {"types_biff2", "types_biff3", "types_biff4", "types1904_biff2", "types1904_biff3",
                           "types1904_biff4", "types_formats_biff4"}) {
    const Differences found = CompareWithLibreOffice(name, name);
    EXPECT_EQ(found.other, std::vector<std::string>{}) << name;
    EXPECT_EQ(found.serials, catalogueDates) << name;
  }
  // LibreOffice opens the Excel 4.0 workbook on its first sheet, not on the
  // one whose WINDOW2 says it is shown; that sheet on its own is types_biff4.
  const Differences workbook = CompareWithLibreOffice("types_workbook_biff4", "types_biff4");
  EXPECT_EQ(workbook.other, std::vector<std::string>{});
  EXPECT_EQ(workbook.serials, catalogueDates);

  // the price list: the rate date in A2 to A3005
  for (const char* name : {"data3000_biff2", "data3000_biff3", "data3000_biff4"}) {
    const Differences found = CompareWithLibreOffice(name, name);
    EXPECT_EQ(found.other, std::vector<std::string>{}) << name;
    ASSERT_EQ(found.serials.size(), 3004u) << name;
    EXPECT_EQ(found.serials.front(), "A2") << name;
    EXPECT_EQ(found.serials.back(), "A3005") << name;
  }
}

// The reader straight on the bytes, so that the reason is seen.
std::optional<WorkbookError> Refusal(const std::string& bytes, std::int32_t rowLimit = 3000) {
  GsfInput* input = gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.data()),
                                         static_cast<gsf_off_t>(bytes.size()), FALSE);
  SheetCells cells;
  std::optional<WorkbookError> refusal;
  try {
    FormatRowNamed("biff2-4").read({input, nullptr, nullptr}, rowLimit, cells);
  } catch (const WorkbookError& error) {
    refusal = error;
  }
  g_object_unref(input);
  return refusal;
}

struct Rec {
  std::size_t offset;
  std::uint16_t type;
  std::uint16_t length;
};

std::vector<Rec> RecordsOf(const std::string& bytes) {
  std::vector<Rec> records;
  for (std::size_t at = 0; at + 4 <= bytes.size();) {
    const auto u16 = [&](std::size_t i) {
      return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
    };
    records.push_back({at, u16(at), u16(at + 2)});
    at += 4 + records.back().length;
  }
  return records;
}

// The first record of a type (after the skipped ones).
Rec Find(const std::string& bytes, std::uint16_t type, int skip = 0) {
  for (const Rec& r : RecordsOf(bytes)) {
    if (r.type == type && skip-- == 0) return r;
  }
  ADD_FAILURE() << "no record " << type;
  return {0, 0, 0};
}

void SetU16(std::string& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>(value >> 8);
}

struct Damage {
  const char* name;
  std::function<void(std::string&)> edit;
  std::optional<std::string> detail;  // no value: the file still reads
};

TEST(Biff234Reader, DamagedCopiesOfARealFileAreRefusedWithTheReason) {
  const std::string original = Bytes(Workbook("biff234/types_biff4.xls"));
  ASSERT_FALSE(original.empty());
  ASSERT_FALSE(Refusal(original).has_value());
  const std::vector<Damage> cases = {
      {"a number one byte short",
       [](std::string& b) {
         const Rec r = Find(b, 0x0003);
         SetU16(b, r.offset + 2, static_cast<std::uint16_t>(r.length - 1));
       },
       "NUMBER: record size"},
      {"a number whose type lost a bit: a STRING no formula claims",
       [](std::string& b) { SetU16(b, Find(b, 0x0003).offset, 0x0007); },
       "STRING: without a formula with a text result before it"},
      {"an integer one byte long",
       [](std::string& b) {
         const Rec r = Find(b, 0x0002);
         SetU16(b, r.offset + 2, static_cast<std::uint16_t>(r.length + 1));
       },
       "INTEGER: record size"},
      {"a label whose text length runs past its record",
       [](std::string& b) { b[Find(b, 0x0004).offset + 4 + 7] = static_cast<char>(200); },
       "LABEL: record size"},
      {"a label runs past the end",
       [](std::string& b) { b.resize(Find(b, 0x0004, 3).offset + 6); },
       "LABEL: runs past the end of the stream"},
      {"a record header runs past the end",
       [](std::string& b) { b.resize(Find(b, 0x000A).offset + 2); },
       "record: header runs past the end of the stream"},
      {"the stream ends before the EOF",
       [](std::string& b) { b.resize(Find(b, 0x000A).offset); },
       "EOF: the stream ends before its EOF"},
      {"a BOF among the cells",
       [](std::string& b) { SetU16(b, Find(b, 0x0004, 3).offset, 0x0409); },
       "BOF: inside the cell records"},
      {"an EOF among the cells",
       [](std::string& b) {
         const Rec r = Find(b, 0x0004, 3);
         const std::string eof("\x0A\x00\x00\x00", 4);
         b.insert(r.offset, eof);
       },
       "EOF: records follow it"},
      {"a cell's type damaged into an EOF",
       [](std::string& b) { SetU16(b, Find(b, 0x0003, 2).offset, 0x000A); },
       "EOF: records follow it"},
      {"an EOF of a length of its own among the cells",
       [](std::string& b) { b.insert(Find(b, 0x0004, 3).offset, std::string("\x0A\x00\x02\x00\x00\x00", 6)); },
       "EOF: records follow it"},
      {"zero bytes of padding after the EOF",
       [](std::string& b) { b.append(16, '\0'); },
       std::nullopt},
      {"two cells swapped",
       [](std::string& b) {
         const Rec first = Find(b, 0x0004, 2);
         const Rec second = Find(b, 0x0004, 3);
         const std::string a = b.substr(first.offset, second.offset - first.offset);
         const std::string c = b.substr(second.offset, 4u + second.length);
         b.replace(first.offset, a.size() + c.size(), c + a);
       },
       "LABEL: cells out of order"},
      {"a cell repeated",
       [](std::string& b) {
         const Rec r = Find(b, 0x0004, 3);
         b.insert(r.offset, b.substr(r.offset, 4u + r.length));
       },
       "LABEL: cells out of order"},
      {"a column beyond the sheet",
       [](std::string& b) { SetU16(b, Find(b, 0x0004, 3).offset + 6, 300); },
       "LABEL: column beyond the sheet"},
      {"a BOF of a substream that is no sheet",
       [](std::string& b) { SetU16(b, 6, 0x0005); },
       "BOF: not a sheet"},
      {"a label's type damaged into one that no version knows: the cells after it are outside the table",
       [](std::string& b) { SetU16(b, Find(b, 0x0004, 2).offset, 0x4004); },
       "LABEL: after the end of the sheet's cells"},
      {"a cell's type damaged into DIMENSIONS",
       [](std::string& b) { SetU16(b, Find(b, 0x0004, 2).offset, 0x0200); },
       "LABEL: after the end of the sheet's cells"},
      {"a CONTINUE after a number, which no record carries on",
       [](std::string& b) {
         const Rec r = Find(b, 0x0003);
         b.insert(r.offset + 4 + r.length, std::string("\x3C\x00\x02\x00\x00\x00", 6));
       },
       "LABEL: after the end of the sheet's cells"},
      {"a number's type damaged into TABLE, which only follows a formula",
       [](std::string& b) { SetU16(b, Find(b, 0x0003, 2).offset, 0x0036); },
       "LABEL: after the end of the sheet's cells"},
      {"DIMENSIONS claiming one row and one column",
       [](std::string& b) {
         const Rec bof = RecordsOf(b)[0];
         b.insert(bof.offset + 4 + bof.length, std::string("\x00\x02\x0A\x00\x00\x00\x01\x00\x00\x00\x01\x00\x00\x00", 14));
       },
       std::nullopt},
  };
  for (const Damage& c : cases) {
    std::string bytes = original;
    c.edit(bytes);
    const std::optional<WorkbookError> refusal = Refusal(bytes);
    if (!c.detail) {
      EXPECT_FALSE(refusal.has_value()) << c.name << ": " << refusal->what();
      continue;
    }
    ASSERT_TRUE(refusal.has_value()) << c.name;
    EXPECT_EQ(refusal->Reason(), OpenFailure::Damaged) << c.name;
    EXPECT_EQ(refusal->Detail(), *c.detail) << c.name;
  }
}

// In an Excel 4.0 workbook an early EOF ends a sheet inside the globals: the
// sheet's cells then stand among the globals' records.
TEST(Biff234Reader, AWorkbookWhoseSheetOrGlobalsEndEarlyIsRefused) {
  const std::string original = Bytes(Workbook("biff234/types_workbook_biff4.xls"));
  ASSERT_FALSE(Refusal(original).has_value());
  const std::vector<Damage> cases = {
      {"an EOF before a cell of the first sheet",
       [](std::string& b) { b.insert(Find(b, 0x0002).offset, std::string("\x0A\x00\x00\x00", 4)); },
       "INTEGER: in the workbook globals"},
      {"a record after the globals' EOF",
       [](std::string& b) { b.append(std::string("\x42\x00\x02\x00\xE2\x04", 6)); },
       "EOF: records follow it"},
  };
  for (const Damage& c : cases) {
    std::string bytes = original;
    c.edit(bytes);
    const std::optional<WorkbookError> refusal = Refusal(bytes);
    ASSERT_TRUE(refusal.has_value()) << c.name;
    EXPECT_EQ(refusal->Reason(), OpenFailure::Damaged) << c.name;
    EXPECT_EQ(refusal->Detail(), *c.detail) << c.name;
  }
}

TEST(Biff234Reader, RowsBeyondTheLimitAreCheckedButNotStored) {
  // a damaged cell in row 40 refuses the file even when only 10 rows are read
  std::string bytes = Bytes(Workbook("biff234/types_biff4.xls"));
  const Rec last = RecordsOf(bytes)[RecordsOf(bytes).size() - 2];
  SetU16(bytes, last.offset + 2, static_cast<std::uint16_t>(last.length + 1));
  bytes.insert(last.offset + 4 + last.length, "x");
  const std::optional<WorkbookError> refusal = Refusal(bytes, 10);
  ASSERT_TRUE(refusal.has_value());
  EXPECT_EQ(refusal->Reason(), OpenFailure::Damaged);
}

TEST(Biff234Reader, OnlyABareStreamStartingWithABofIsTaken) {
  for (const std::string& bytes : {std::string("\x09\x08\x08\x00\x00\x05\x05\x00\x00\x00\x00\x00", 12),
                                   std::string("DATUM;SIMBOL;TECAJ\r\n", 20), std::string(16, '\0'),
                                   // a BOF too short for its version and type
                                   std::string("\x09\x04\x02\x00\x04\x00\x0A\x00\x00\x00", 10)}) {
    GsfInput* input = gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.data()),
                                           static_cast<gsf_off_t>(bytes.size()), FALSE);
    SheetCells cells;
    EXPECT_FALSE(FormatRowNamed("biff2-4").recognise({input, nullptr, nullptr}));
    EXPECT_THROW(FormatRowNamed("biff2-4").read({input, nullptr, nullptr}, 3000, cells), WorkbookError);
    g_object_unref(input);
  }
}

}  // namespace
}  // namespace ratemover::spreadsheet
