// Text of the older binary workbooks in the code page that the workbook names:
// each code page a workbook can name converts as that code page (not as
// another that merely shares its ASCII half), the last letter of a string is
// never held back, and a code page without a converter is refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "spreadsheet/code_page.h"
#include "spreadsheet/open_failure.h"
#include "spreadsheet/sheet_cells.h"
#include "spreadsheet/workbook_reader.h"

namespace ratemover::spreadsheet {
namespace {

std::string Converted(std::uint16_t number, const std::string& bytes) {
  CodePage codePage;
  codePage.Set(number);
  std::string out;
  codePage.Append(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), out);
  return out;
}

struct Conversion {
  std::uint16_t codePage;
  std::string bytes;
  std::string cp1250;
};

TEST(CodePage, EveryCodePageConvertsAsItself) {
  // Expected texts follow the code pages' published tables (a letter that
  // Windows-1250 lacks becomes '?'); where every letter is missing, the
  // single '?' still tells a one-byte letter from a wrong reading.
  const std::vector<Conversion> cases = {
      {1250, "\xC8\x8A\x8E", "\xC8\x8A\x8E"},
      {1252, "\x8A\xC4\xC3", "\x8A\xC4?"},
      {367, "abc", "abc"},
      {32769, "\x8A\xC4", "\x8A\xC4"},
      {437, "\x80\x81\x82" "a", "\xC7\xFC\xE9" "a"},
      {737, "\x80" "a", "?a"},
      {775, "\x80\x81\x82" "a", "\xC6\xFC\xE9" "a"},
      {850, "\x80\x81\x82" "a", "\xC7\xFC\xE9" "a"},
      {852, "\xAC\x9F\xE6\xE7\xA6\xA7", "\xC8\xE8\x8A\x9A\x8E\x9E"},
      {855, "\x80" "a", "?a"},
      {857, "\x80\x81\x82" "a", "\xC7\xFC\xE9" "a"},
      {858, "\x80\x81\x82" "a", "\xC7\xFC\xE9" "a"},
      {860, "\x80\x81\x82" "a", "\xC7\xFC\xE9" "a"},
      {861, "\x80\x81\x82" "a", "\xC7\xFC\xE9" "a"},
      {862, "\xA0\xA1\xA2" "a", "\xE1\xED\xF3" "a"},
      {863, "\x80\x81\x82" "a", "\xC7\xFC\xE9" "a"},
      {864, "\x90" "a", "?a"},
      {865, "\x80\x81\x82" "a", "\xC7\xFC\xE9" "a"},
      {866, "\x80" "a", "?a"},
      {869, "\x86" "a", "?a"},
      {874, "\xA1" "a", "?a"},
      {932, "\x82\xA0\x82\xA2" "a", "??a"},
      {936, "\xC4\xE3\xBA\xC3" "a", "??a"},
      {949, "\xB0\xA1" "a", "?a"},
      {950, "\xA4@a", "?a"},
      {1251, "\x80" "a", "?a"},
      {1253, "\x83" "a", "?a"},
      {1254, "\xDE\xFE" "a", "\xAA\xBA" "a"},
      {1255, "\xF9\xEC\xE5\xED", "????"},
      {1256, "\x81" "a", "?a"},
      {1257, "\xC8\xE8\xD0\xF0", "\xC8\xE8\x8A\x9A"},
      {1258, "\xC3\xD0\xE3" "a", "\xC3\xD0\xE3" "a"},
      {1361, "\x88" "aa", "?a"},
      {10000, "\x80\x82\x83" "a", "\xC4\xC7\xC9" "a"},
      {32768, "\x80\x82\x83" "a", "\xC4\xC7\xC9" "a"},
      {10007, "\x80" "a", "?a"},
      {10017, "\x80" "a", "?a"},
      {10029, "\x89\x8B\xE1\xE4\xEB\xEC", "\xC8\xE8\x8A\x9A\x8E\x9E"},
  };
  for (const Conversion& c : cases) EXPECT_EQ(Converted(c.codePage, c.bytes), c.cp1250) << c.codePage;
}

TEST(CodePage, TheLastLetterOfAStringIsNeverHeldBack) {
  // the converters of code pages with combining marks wait for a mark after
  // each letter; a string's end is where no mark can follow
  const std::vector<Conversion> cases = {
      {1258, "ba", "ba"},
      {1258, "Vi\xEA\xF2t", "Vi?t"},
      {1258, "Vi\xEA\xF2", "Vi?"},
      {1255, "\xF9", "?"},
      {1255, "ab", "ab"},
  };
  for (const Conversion& c : cases) EXPECT_EQ(Converted(c.codePage, c.bytes), c.cp1250) << c.codePage << " " << c.bytes;
  // one code page, many strings: no letter moves from one string to the next
  CodePage codePage;
  codePage.Set(1258);
  std::string first, second;
  codePage.Append(reinterpret_cast<const std::uint8_t*>("ab"), 2, first);
  codePage.Append(reinterpret_cast<const std::uint8_t*>("cd"), 2, second);
  EXPECT_EQ(first, "ab");
  EXPECT_EQ(second, "cd");
}

TEST(CodePage, ACodePageWithoutAConverterIsRefused) {
  // Mac Greek, Mac Japanese, Mac Icelandic (whose system table is not
  // Apple's), DOS Arabic and numbers that name no code page
  for (const std::uint16_t number : {10006, 10001, 10079, 10081, 10082, 720, 0, 1, 12345, 65535}) {
    CodePage codePage;
    try {
      codePage.Set(number);
      ADD_FAILURE() << number << " accepted";
    } catch (const WorkbookError& error) {
      EXPECT_EQ(error.Reason(), OpenFailure::UnknownFormat) << number;
      EXPECT_EQ(error.Detail(), "CODEPAGE: no converter for code page " + std::to_string(number));
    }
  }
}

std::string Workbook(const std::string& name) { return std::string(RATEMOVER_TEST_DATA) + "/workbooks/" + name; }

struct FileCase {
  const char* file;
  std::vector<std::string> columnA;  // rows from 1, Windows-1250
};

TEST(CodePage, WorkbooksInEachCodePage) {
  const std::vector<FileCase> cases = {
      {"codepage/cp1258_gnumeric.xls", {"Vi?t Nam", "Ti?ng Vi?t", "????", "?ebelica"}},
      {"codepage/cp1255_gnumeric.xls", {"Vi?t Nam", "Ti?ng Vi?t", "????", "?ebelica"}},
      {"codepage/cp1250_gnumeric.xls", {"\xC8" "ebelica", "\x8A\x8E\xE8\x9A\x9E"}},
      {"codepage/mac10029_derived.xls", {"\xC8" "ebelica", "\x8A\x8E\xE8\x9A\x9E"}},
      {"codepage/cp1251_gnumeric.xls", {"??????", "???"}},
      {"codepage/mac10007_derived.xls", {"??????", "???"}},
  };
  for (const FileCase& c : cases) {
    SheetCells cells;
    ASSERT_TRUE(ReadActiveSheetFromFile(Workbook(c.file), 100, cells)) << c.file;
    for (std::size_t i = 0; i < c.columnA.size(); ++i) {
      const std::optional<CellValue> cell = cells.Find(static_cast<std::int32_t>(i) + 1, 1);
      ASSERT_TRUE(cell.has_value()) << c.file << " row " << i + 1;
      EXPECT_EQ(cell->text, c.columnA[i]) << c.file << " row " << i + 1;
    }
  }
  // the Slovene Mac workbook with its CODEPAGE naming Mac Greek instead
  SheetCells cells;
  EXPECT_FALSE(ReadActiveSheetFromFile(Workbook("codepage/unknown10006_derived.xls"), 100, cells));
}

}  // namespace
}  // namespace ratemover::spreadsheet
