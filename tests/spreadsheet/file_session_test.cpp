// The file-reading session across the three formats: fallbacks, addressing,
// reading below row 3000, and the session's lifecycle.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "common/cp1250.h"
#include "spreadsheet/session.h"
#include "spreadsheet/sheet_cells.h"
#include "spreadsheet/workbook_reader.h"
#include "tests/support/zip_writer.h"

namespace ratemover::spreadsheet {
namespace {

const std::string kWorkbooks = std::string(RATEMOVER_TEST_DATA) + "/workbooks/";

std::unique_ptr<Session> OpenedSession(const std::string& path) {
  auto session = MakeWorkbookFileSession();
  EXPECT_TRUE(session->OdpriExcel());
  session->OdpriZvezek(path, false);
  return session;
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ratemover_session_XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

using ratemover::testsupport::StoredZip;

struct Expected {
  std::int32_t row;
  std::int32_t column;
  const char* text;
};

// data3000.* hold data down to row 3005; opening reads rows 1 to 3000, a
// cell further down reads the sheet again.
TEST(FileSession, ReadsBelowRow3000OnDemandInEveryFormat) {
  const std::vector<Expected> cells = {
      {1, 1, "DATUM"},         {2, 1, "5.3.2024"},    {2, 2, "ZVTG"},       {2, 4, "2083"},
      {2, 6, "4166"},          {3, 4, "4100,88"},     {2999, 2, "EQNX2999"}, {2999, 4, "220,6"},
      {3000, 2, "KRKG3000"},   {3000, 5, "X"},        {3000, 6, "5146"},    {3001, 2, "PETG3001"},
      {3001, 4, "4932,61561"}, {3005, 2, "CICG3005"}, {3005, 6, "3536,44"}, {3006, 2, ""},
      {2, 2, "ZVTG"},          {3000, 2, "KRKG3000"}, {7000, 2, ""},        {2, 4, "2083"},
  };
  for (const char* file : {"data3000.xls", "data3000_biff5.xls", "data3000.xlsx", "data3000.ods"}) {
    auto session = OpenedSession(kWorkbooks + file);
    for (const auto& cell : cells) {
      EXPECT_EQ(session->BeriCelico(cell.row, cell.column), std::string(cell.text))
          << file << " row " << cell.row << " column " << cell.column;
    }
  }
}

TEST(FileSession, StartRowAboveTheLimitReadsItsDateCell) {
  for (const char* file : {"data3000.xls", "data3000.xlsx", "data3000.ods"}) {
    auto session = OpenedSession(kWorkbooks + file);
    EXPECT_EQ(session->BeriCelico(3004, 1), std::string("5.3.2024")) << file;
  }
}

TEST(FileSession, WorkbookThatCannotBeOpenedIsAnEmptySheet) {
  const std::vector<std::string> files = {
      "bad/gzip.xls",        "bad/gzip.xlsx",      "bad/gzip.ods",
      "bad/trunc_600.xls",   "bad/trunc_600.xlsx",
      "bad/trunc_600.ods",   "bad/trunc_half.xls", "bad/trunc_half.xlsx", "bad/trunc_half.ods",
      "bad/ole2_named.xlsx", "bad/types_pw_copy.xls", "types_pw.xls",    "types_pw.ods",
      "no_such_workbook.xlsx", "bad",  // a folder
  };
  for (const auto& file : files) {
    auto session = OpenedSession(kWorkbooks + file);
    for (const Expected& cell : std::vector<Expected>{{1, 1, ""}, {2, 1, ""}, {2, 2, ""}, {2, 4, ""},
                                                       {3001, 2, ""}, {1048576, 16384, ""}}) {
      EXPECT_EQ(session->BeriCelico(cell.row, cell.column), std::string(cell.text))
          << file << " row " << cell.row << " column " << cell.column;
    }
    EXPECT_EQ(session->BeriCelico(1048577, 1), std::nullopt) << file;
    EXPECT_EQ(session->BeriCelico(0, 1), std::nullopt) << file;
  }
}

// The session keeps why the last workbook could not be opened, past
// ZapriExcel, until the next workbook is opened.
TEST(FileSession, TellsWhyTheWorkbookCouldNotBeOpened) {
  const struct {
    const char* file;
    std::optional<OpenFailure> reason;
  } cases[] = {
      {"data3000.xlsx", std::nullopt},
      {"data3000.ods", std::nullopt},
      {"bad/crc_mismatch_deflated.xlsx", OpenFailure::Damaged},
      {"bad/crc_mismatch_deflated.ods", OpenFailure::Damaged},
      {"bad/bomb_1g.xlsx", OpenFailure::TooLarge},
      {"bad/sst_copies.xls", OpenFailure::TooLarge},
      {"bad/gzip.ods", OpenFailure::NotAWorkbook},
      {"types_pw.ods", OpenFailure::Encrypted},
      {"no_such_workbook.xlsx", OpenFailure::NotReadable},
      {"bad", OpenFailure::NotReadable},  // a folder
  };
  auto session = MakeWorkbookFileSession();
  for (const auto& c : cases) {
    ASSERT_TRUE(session->OdpriExcel());
    session->OdpriZvezek(kWorkbooks + c.file, false);
    session->ZapriExcel();
    const auto failure = session->OpenFailureOf();
    ASSERT_EQ(failure.has_value(), c.reason.has_value()) << c.file;
    if (c.reason) {
      EXPECT_EQ(OpenFailureText(failure->Reason()), OpenFailureText(*c.reason)) << c.file;
    }
  }
}

// A workbook that changes while it is read cannot be opened; one that changes
// after the first rows were read gives read failures below them.
TEST(WorkbookFile, ChangesWhileItIsReadAreRefused) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const auto path = dir.path() / "tecaji.xlsx";
  const std::string original = ReadFile(kWorkbooks + "data3000.xlsx");
  struct Case {
    const char* what;
    std::function<void()> change;  // between opening and reading
    bool refused;
  };
  const std::vector<Case> cases = {
      {"nothing changes", [] {}, false},
      {"a byte appended", [&] { std::ofstream(path, std::ios::binary | std::ios::app) << 'x'; }, true},
      {"rewritten in place, same bytes",
       [&] {
         struct stat before {};
         stat(path.c_str(), &before);
         // a later modification time than the one opened, whatever the clock's grain
         const timespec times[2] = {before.st_atim, {before.st_mtim.tv_sec + 1, before.st_mtim.tv_nsec}};
         WriteFile(path, original);
         utimensat(AT_FDCWD, path.c_str(), times, 0);
       },
       true},
      {"another file under its name",
       [&] {
         WriteFile(dir.path() / "newer", original);
         std::filesystem::rename(dir.path() / "newer", path);
       },
       true},
      {"removed", [&] { std::filesystem::remove(path); }, true},
  };
  for (const auto& c : cases) {
    WriteFile(path, original);
    const WorkbookFile file(path.string());
    c.change();
    SheetCells cells;
    const SheetRead read = ReadActiveSheet(file, 3000, cells);
    EXPECT_EQ(static_cast<bool>(read), !c.refused) << c.what;
    if (c.refused) {
      ASSERT_TRUE(read.failure.has_value()) << c.what;
      EXPECT_EQ(OpenFailureText(read.failure->Reason()), OpenFailureText(OpenFailure::Changed)) << c.what;
      EXPECT_EQ(cells.Size(), 0u) << c.what;
    }
  }
}

TEST(FileSession, RowsBelowTheFirstReadFailWhenTheFileChangedMeanwhile) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const auto path = dir.path() / "tecaji.xlsx";
  WriteFile(path, ReadFile(kWorkbooks + "data3000.xlsx"));
  auto session = OpenedSession(path.string());
  EXPECT_EQ(session->BeriCelico(2, 2), std::string("ZVTG"));
  std::ofstream(path, std::ios::binary | std::ios::app) << 'x';
  EXPECT_EQ(session->BeriCelico(3005, 2), std::nullopt);
  EXPECT_EQ(session->BeriCelico(2, 2), std::string("ZVTG"));  // the rows read before keep their texts
  ASSERT_TRUE(session->OpenFailureOf().has_value());
  EXPECT_EQ(OpenFailureText(session->OpenFailureOf()->Reason()), OpenFailureText(OpenFailure::Changed));
}

// A device or a pipe in place of a workbook would never end, or never start:
// it cannot be opened.
TEST(FileSession, DeviceOrPipeIsAnEmptySheet) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string fifo = (dir.path() / "cevi.xlsx").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {std::string("/dev/zero"), std::string("/dev/urandom"), fifo}) {
    auto session = OpenedSession(path);
    EXPECT_EQ(session->BeriCelico(1, 1), std::string("")) << path;
    EXPECT_EQ(session->BeriCelico(5000, 1), std::string("")) << path;
  }
}

TEST(FileSession, AddressesOutsideTheSheetFailAndOutsideTheDataAreEmpty) {
  struct Case {
    const char* file;
    std::int32_t rows;
    std::int32_t columns;
  };
  const std::vector<Case> cases = {
      {"types.xls", 65536, 256},
      {"types_biff5.xls", 65536, 256},
      {"types.xlsx", 1048576, 16384},
      {"types.ods", 1048576, 16384},
  };
  const std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  const std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  for (const auto& c : cases) {
    auto session = OpenedSession(kWorkbooks + c.file);
    EXPECT_EQ(session->BeriCelico(1, 1), std::string("label")) << c.file;
    for (const auto& [row, column] : std::vector<std::pair<std::int32_t, std::int32_t>>{
             {0, 1}, {-1, 1}, {1, 0}, {1, -1}, {0, 0}, {kMin, 1}, {1, kMin},
             {c.rows + 1, 1}, {1, c.columns + 1}, {kMax, 1}, {1, kMax}}) {
      EXPECT_EQ(session->BeriCelico(row, column), std::nullopt) << c.file << " " << row << "," << column;
    }
    EXPECT_EQ(session->BeriCelico(1, 2), std::string("value")) << c.file;
    EXPECT_EQ(session->BeriCelico(1, 26), std::string("colZ")) << c.file;
    EXPECT_EQ(session->BeriCelico(100, 25), std::string("")) << c.file;
    EXPECT_EQ(session->BeriCelico(2, c.columns), std::string("")) << c.file;
    EXPECT_EQ(session->BeriCelico(c.rows, 1), std::string("")) << c.file;
    EXPECT_EQ(session->BeriCelico(c.rows, c.columns), std::string("")) << c.file;
    // the rows read again for the far cells still hold the same texts
    EXPECT_EQ(session->BeriCelico(3, 2), std::string("42")) << c.file;
  }
}

TEST(FileSession, FarCellOfASparseSheet) {
  struct Case {
    const char* file;
    std::int32_t row;
    std::int32_t column;
  };
  for (const auto& c : std::vector<Case>{{"sparse.xls", 65536, 256}, {"sparse.xlsx", 1048576, 16384},
                                         {"sparse.ods", 1048576, 16384}}) {
    auto session = OpenedSession(kWorkbooks + c.file);
    EXPECT_EQ(session->BeriCelico(1, 1), std::string("start")) << c.file;
    EXPECT_EQ(session->BeriCelico(2, 1), std::string("")) << c.file;
    EXPECT_EQ(session->BeriCelico(c.row, c.column), std::string("1")) << c.file;
    EXPECT_EQ(session->BeriCelico(c.row - 1, c.column), std::string("")) << c.file;
    EXPECT_EQ(session->BeriCelico(1, 1), std::string("start")) << c.file;
  }
}

TEST(FileSession, LifecycleWithoutAndAfterAWorkbook) {
  auto session = MakeWorkbookFileSession();
  session->ZapriExcel();  // nothing open: silent
  EXPECT_EQ(session->BeriCelico(1, 1), std::nullopt);
  EXPECT_THROW(session->OdpriZvezek(kWorkbooks + "types.xlsx", false), std::exception);
  ASSERT_TRUE(session->OdpriExcel());
  EXPECT_EQ(session->BeriCelico(1, 1), std::nullopt);  // no workbook yet
  session->OdpriZvezek(kWorkbooks + "types.xlsx", true);
  EXPECT_EQ(session->BeriCelico(3, 2), std::string("42"));
  session->ZapriExcel();
  session->ZapriExcel();
  EXPECT_EQ(session->BeriCelico(3, 2), std::nullopt);
  EXPECT_THROW(session->OdpriZvezek(kWorkbooks + "types.xlsx", false), std::exception);
  ASSERT_TRUE(session->OdpriExcel());
  EXPECT_EQ(session->BeriCelico(3, 2), std::nullopt);  // the closed workbook is gone
  session->OdpriZvezek(kWorkbooks + "types.ods", false);
  EXPECT_EQ(session->BeriCelico(3, 2), std::string("42"));
}

TEST(FileSession, NextWorkbookReplacesTheCellsOfThePrevious) {
  auto session = OpenedSession(kWorkbooks + "types.xlsx");
  EXPECT_EQ(session->BeriCelico(1, 1), std::string("label"));
  session->OdpriZvezek(kWorkbooks + "bad/zero.xlsx", false);
  EXPECT_EQ(session->BeriCelico(1, 1), std::string(""));
  EXPECT_EQ(session->BeriCelico(3, 2), std::string(""));
  session->OdpriZvezek(kWorkbooks + "data3000.xls", false);
  EXPECT_EQ(session->BeriCelico(1, 1), std::string("DATUM"));
  EXPECT_EQ(session->BeriCelico(3, 2), std::string("TLSG"));
  // a workbook of the other sheet size changes the addresses that exist
  EXPECT_EQ(session->BeriCelico(1, 300), std::nullopt);
  session->OdpriZvezek(kWorkbooks + "types.ods", false);
  EXPECT_EQ(session->BeriCelico(1, 300), std::string(""));
}

// The content decides the format, never the name; the path is the file
// system's own bytes.
TEST(FileSession, FormatIsRecognisedByContentUnderAnyName) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  struct Case {
    const char* source;
    const char* cp1250Name;
  };
  const std::vector<Case> cases = {
      {"types.xlsx", "te\xE8" "aji.ods"},
      {"types.ods", "\x8A" "ifrant.xls"},
      {"types.xls", "zvezek.xlsx"},
      {"types_biff5.xls", "brez_kon\xE8" "nice"},
  };
  for (const auto& c : cases) {
    const std::string path = dir.path().string() + "/" + Utf8FromCp1250(c.cp1250Name);
    WriteFile(path, ReadFile(kWorkbooks + c.source));
    auto session = OpenedSession(path);
    EXPECT_EQ(session->BeriCelico(1, 1), std::string("label")) << c.source;
    EXPECT_EQ(session->BeriCelico(3, 2), std::string("42")) << c.source;
    EXPECT_EQ(session->BeriCelico(15, 2), std::string("5.3.2024")) << c.source;
  }
}

// Rows read later come from the workbook as it was opened, even when a newer
// file has taken its name meanwhile (as saving it again does).
TEST(FileSession, RowsReadLaterComeFromTheWorkbookAsOpened) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  for (const char* file : {"data3000.xls", "data3000.xlsx", "data3000.ods"}) {
    const auto path = dir.path() / file;
    WriteFile(path, ReadFile(kWorkbooks + file));
    auto session = OpenedSession(path.string());
    const auto newer = dir.path() / "newer";
    WriteFile(newer, ReadFile(kWorkbooks + "types.xlsx"));
    std::filesystem::rename(newer, path);
    EXPECT_EQ(session->BeriCelico(3005, 2), std::string("CICG3005")) << file;
    EXPECT_EQ(session->BeriCelico(2, 2), std::string("ZVTG")) << file;
    session->OdpriZvezek(path.string(), false);
    EXPECT_EQ(session->BeriCelico(1, 1), std::string("label")) << file;
  }
}

TEST(WorkbookReader, ArchiveThatIsNoWorkbookCannotBeOpened) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::vector<std::pair<const char*, std::string>> archives = {
      {"plain.xlsx", StoredZip({{"hello.txt", "hello"}})},
      {"text_document.ods", StoredZip({{"mimetype", "application/vnd.oasis.opendocument.text"}})},
      {"empty.xlsx", StoredZip({})},
      {"magic_only.xls", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)},
      {"pk_only.xlsx", std::string("PK\x03\x04", 4)},
  };
  for (const auto& [name, bytes] : archives) {
    const auto path = dir.path() / name;
    WriteFile(path, bytes);
    SheetCells cells;
    cells.Put(1, 1, CellValue::OfText("left over"));
    EXPECT_FALSE(ReadActiveSheetFromFile(path.string(), 3000, cells)) << name;
    EXPECT_EQ(cells.Size(), 0u) << name;
  }
}

TEST(WorkbookReader, ReadsOnlyTheRowsAskedFor) {
  for (const char* file : {"data3000.xls", "data3000.xlsx", "data3000.ods"}) {
    SheetCells cells;
    ASSERT_TRUE(ReadActiveSheetFromFile(kWorkbooks + file, 2, cells)) << file;
    ASSERT_TRUE(cells.Find(2, 2).has_value()) << file;
    EXPECT_EQ(cells.Find(2, 2)->text, "ZVTG") << file;
    EXPECT_FALSE(cells.Find(3, 2).has_value()) << file;
    EXPECT_FALSE(cells.Find(3000, 2).has_value()) << file;
  }
}

}  // namespace
}  // namespace ratemover::spreadsheet
