#include "transfer/import_run.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "spreadsheet/memory_session.h"
#include "transfer/rate_record.h"
#include "transfer/transfer_request.h"

namespace ratemover {
namespace {

using spreadsheet::CellText;
using spreadsheet::MemorySession;

// Keeps what the operator would see, in order: each message with its CRs, and
// the label and message-processing events around them.
class RecordingView : public OperatorView {
 public:
  void ShowMessage(const OperatorMessage& message) override {
    messages.push_back(message.PlainText());
    names.emplace_back();
    for (const auto& piece : message.Pieces()) {
      if (piece.isName) names.back().push_back(piece.bytes);
    }
    events.push_back("message");
  }
  void SetProgressVisible(bool visible) override {
    progressVisible = visible;
    events.push_back(visible ? "label on" : "label off");
  }
  void ProcessPendingMessages() override { events.push_back("pump"); }

  std::vector<std::string> messages;
  std::vector<std::vector<std::string>> names;  // the file names in each message, as given
  std::vector<std::string> events;
  bool progressVisible = false;
};

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "rm_transfer_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = pattern;
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Lines(const std::string& content) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < content.size()) {
    const auto end = content.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(content.substr(start) + "<no CR LF>");
      break;
    }
    lines.push_back(content.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

Tecajnica Profile(std::int32_t startRow, const char* date, const char* symbol, const char* price, const char* index) {
  Tecajnica profile;
  profile.name = "TEST";
  profile.startRow = startRow;
  profile.date = date;
  profile.symbol = symbol;
  profile.price = price;
  profile.index = index;
  return profile;
}

const std::string kM4 =
    "Podatki niso bili prepisani!\rPreveri v parametrih, \xE8" "e je te\xE8" "aj nastavljen v pravi koloni!";

std::string M5(std::int32_t count, const std::string& workbook, const std::string& output) {
  return "Podatki uspe\x9Ano prepisani!\r\rPrepisanih vrstic: " + std::to_string(count) + "\rVhodna datoteka:  " +
         workbook + "\rIzhodna datoteka: " + output + "\r";
}

class ImportRunTest : public ::testing::Test {
 protected:
  ImportRunTest() {
    input.workbookPath = dir.File("tecaji.xls");
    input.profile = Profile(2, "A", "B", "D", "");
    input.currentYear = 2026;
    output = dir.File("tecaji.ztr");
    session.SetCell(2, 1, "5.3.2024");
  }

  RunResult Run() { return ImportIzExcela(input, session, view); }

  TempDir dir;
  MemorySession session;
  RecordingView view;
  ImportRunInput input;
  std::string output;
};

TEST_F(ImportRunTest, WritesTheFileAndTheSummary) {
  session.SetCell(2, 2, "VPA1");
  session.SetCell(2, 4, "12.5");
  session.SetCell(3, 2, "OBVEZNICA PRIMER DOLGO IME 2031 SERIJA A");
  session.SetCell(3, 4, "1234,5678");
  session.SetCell(3, 5, "x");
  session.SetCell(4, 2, "  IDX-TEST  ");
  session.SetCell(4, 4, "-0.1234567");
  session.SetCell(4, 5, "0");
  input.profile.index = "e";
  const RunResult result = Run();

  EXPECT_EQ(result.outcome, RunOutcome::Written);
  EXPECT_EQ(result.writtenRows, 3);
  EXPECT_EQ(result.outputPath, output);
  EXPECT_EQ(session.OpenedPath(), input.workbookPath);
  const auto lines = Lines(ReadFile(output));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], " 0002 05.03.2024");
  EXPECT_EQ(lines[1],
            " 0020           VPA1                                                                                          "
            "                                12,500000                                 05.03.2024");
  EXPECT_EQ(lines[2].substr(16, 30), "OBVEZNICA PRIMER DOLGO IME 203");
  EXPECT_EQ(lines[2].substr(125, 26), "INDEKS         1234,567800");
  EXPECT_EQ(lines[3].substr(16, 30), "IDX-TEST                      ");
  EXPECT_EQ(lines[3].substr(125, 26), "INDEKS           -0,123457");
  EXPECT_EQ(view.messages, std::vector<std::string>{M5(3, input.workbookPath, output)});
  EXPECT_EQ(view.events, (std::vector<std::string>{"label on", "pump", "message", "label off", "pump"}));
  EXPECT_EQ(session.ZapriCount(), 0);  // the caller closes the session after a normal end
}

TEST_F(ImportRunTest, RowsWithoutAPriceAreLeftOutAndTheNextRowIsRead) {
  const char* prices[] = {"", "   ", "0", "0.000", "-0", "1.234,50", "abc", "12,5", "12", "4e-7", "-0.0000006", "-3"};
  std::int32_t row = 2;
  for (const char* price : prices) {
    session.SetCell(row, 2, "S" + std::to_string(row));
    session.SetCell(row, 4, price);
    ++row;
  }
  session.SetCell(row, 2, "UNREADABLE PRICE");
  session.SetCell(row, 4, std::nullopt);
  const RunResult result = Run();
  EXPECT_EQ(result.writtenRows, 5);
  const auto lines = Lines(ReadFile(output));
  ASSERT_EQ(lines.size(), 6u);
  const char* fields[] = {"      12,500000", "      12,000000", "       0,000000", "      -0,000001", "      -3,000000"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(lines[i + 1].substr(136, 15), fields[i]);
  EXPECT_EQ(view.messages.size(), 1u);
}

TEST_F(ImportRunTest, BlankOrUnreadableSymbolEndsTheData) {
  for (const CellText& ender : {CellText(" \t"), CellText(std::nullopt)}) {
    MemorySession fresh;
    fresh.SetCell(2, 1, "5.3.2024");
    fresh.SetCell(2, 2, "A1");
    fresh.SetCell(2, 4, "1");
    fresh.SetCell(3, 2, ender);
    fresh.SetCell(3, 4, "1");
    fresh.SetCell(4, 2, "A3");
    fresh.SetCell(4, 4, "1");
    RecordingView freshView;
    EXPECT_EQ(ImportIzExcela(input, fresh, freshView).writtenRows, 1);
    const std::vector<std::pair<std::int32_t, std::int32_t>> reads = {{2, 1}, {2, 2}, {2, 4}, {3, 2}};
    EXPECT_EQ(fresh.Reads(), reads);
  }
}

TEST_F(ImportRunTest, RowLimitAndReadBound) {
  input.profile = Profile(1, "A", "B", "C", "D");
  session.SetCell(1, 1, "5.3.2024");
  for (std::int32_t row = 1; row <= kLastRow + 1; ++row) {
    session.SetCell(row, 2, "S");
    session.SetCell(row, 3, "1");
  }
  const RunResult result = Run();
  // every row up to the last has a price: the date cell, then three cells a row
  const auto rows = static_cast<std::size_t>(kLastRow);
  EXPECT_EQ(result.writtenRows, kLastRow);
  EXPECT_EQ(session.Reads().size(), 1u + 3u * rows);
  for (const auto& [row, column] : session.Reads()) ASSERT_LE(row, kLastRow);
  EXPECT_EQ(ReadFile(output).size(), 18u + rows * 196u);
}

TEST_F(ImportRunTest, RowsAroundTheLimit) {
  for (std::int32_t row : {2999, 3000, 3001}) {
    session.SetCell(row, 2, "R" + std::to_string(row));
    session.SetCell(row, 4, "1");
  }
  for (std::int32_t row = 2; row < 2999; ++row) {
    session.SetCell(row, 2, "X");
    session.SetCell(row, 4, "0");
  }
  EXPECT_EQ(Run().writtenRows, 2);
  const auto lines = Lines(ReadFile(output));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].substr(16, 5), "R2999");
  EXPECT_EQ(lines[2].substr(16, 5), "R3000");
}

TEST_F(ImportRunTest, StartRowBeyondTheLimitReadsOnlyTheDate) {
  input.profile.startRow = 3001;
  session.SetCell(3001, 1, "5.3.2024");
  session.SetCell(3001, 2, "S");
  session.SetCell(3001, 4, "1");
  const RunResult result = Run();
  EXPECT_EQ(result.outcome, RunOutcome::NothingWritten);
  EXPECT_EQ(ReadFile(output), " 0002 05.03.2024\r\n");
  EXPECT_EQ(session.Reads().size(), 1u);
  EXPECT_EQ(view.messages, (std::vector<std::string>{kM4, M5(0, input.workbookPath, output)}));
}

TEST_F(ImportRunTest, StartedWithArgumentsSuppressesOnlyTheSummary) {
  input.startedWithArguments = true;
  session.SetCell(2, 2, "S");
  session.SetCell(2, 4, "1");
  EXPECT_EQ(Run().writtenRows, 1);
  EXPECT_TRUE(view.messages.empty());

  RecordingView second;
  session.SetCell(2, 4, "0");
  EXPECT_EQ(ImportIzExcela(input, session, second).outcome, RunOutcome::NothingWritten);
  EXPECT_EQ(second.messages, std::vector<std::string>{kM4});
}

TEST_F(ImportRunTest, ColumnLettersResolveByTheirFirstCharacter) {
  const struct {
    Tecajnica profile;
    std::vector<std::pair<std::int32_t, std::int32_t>> reads;  // date, symbol, price, index
  } cases[] = {
      {Profile(2, "a", "b", "d", ""), {{2, 1}, {2, 2}, {2, 4}}},
      {Profile(2, "d", "AB", "c", "y"), {{2, 4}, {2, 1}, {2, 3}, {2, 25}}},
      {Profile(2, "Z", "3", "", "Z"), {{2, 1}, {2, 2}, {2, 4}}},
      {Profile(2, "", "", "\xC8", "1"), {{2, 1}, {2, 2}, {2, 4}}},
      {Profile(2, " A", "B ", "D", " "), {{2, 1}, {2, 2}, {2, 4}}},
  };
  for (const auto& c : cases) {
    MemorySession fresh;
    fresh.SetCell(2, c.reads[0].second, "5.3.2024");
    fresh.SetCell(2, c.reads[1].second, "S");
    RecordingView freshView;
    input.profile = c.profile;
    ImportIzExcela(input, fresh, freshView);
    auto reads = fresh.Reads();
    ASSERT_GE(reads.size(), c.reads.size());
    reads.resize(c.reads.size());
    EXPECT_EQ(reads, c.reads) << c.profile.date << "|" << c.profile.symbol << "|" << c.profile.price << "|"
                              << c.profile.index;
  }
}

TEST_F(ImportRunTest, IndexMarker) {
  input.profile.index = "E";
  const CellText indexCells[] = {CellText(""), CellText(" \t "), CellText("0"), CellText("x"), CellText(std::nullopt)};
  const char* markers[] = {"          ", "          ", "INDEKS    ", "INDEKS    ", "          "};
  std::int32_t row = 2;
  for (const CellText& cell : indexCells) {
    session.SetCell(row, 2, "S");
    session.SetCell(row, 4, "1");
    session.SetCell(row, 5, cell);
    ++row;
  }
  Run();
  const auto lines = Lines(ReadFile(output));
  ASSERT_EQ(lines.size(), 6u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(lines[i + 1].substr(125, 10), markers[i]) << i;

  // without an index column no index cell is read and no line is marked
  input.profile.index = "";
  session.ClearReads();
  Run();
  for (const auto& [r, column] : session.Reads()) EXPECT_NE(column, 5);
  for (const auto& line : Lines(ReadFile(output))) EXPECT_EQ(line.find("INDEKS"), std::string::npos);
}

TEST_F(ImportRunTest, DateCellRules) {
  const struct {
    CellText cell;
    const char* firstLine;  // nullptr: not a date
  } cases[] = {
      {"5.3.2024 14:30:00", " 0002 05.03.2024"},
      {"5.3", " 0002 05.03.2026"},
      {"5.3.24", " 0002 05.03.2024"},
      {"5.3.0024", " 0002 05.03.2024"},
      {"31.12.99", " 0002 31.12.3999"},
      {"1.2.2099", " 0002 01.02.2099"},
      {"5. 3. 2024", nullptr},
      {"5.3.", nullptr},
      {"5.3.2024x", nullptr},
      {"5.3.20245", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(*c.cell);
    MemorySession fresh;
    fresh.SetCell(2, 1, c.cell);
    fresh.SetCell(2, 2, "S");
    fresh.SetCell(2, 4, "1");
    RecordingView freshView;
    const RunResult result = ImportIzExcela(input, fresh, freshView);
    if (c.firstLine) {
      EXPECT_EQ(result.outcome, RunOutcome::Written);
      EXPECT_EQ(Lines(ReadFile(output))[0], c.firstLine);
    } else {
      EXPECT_EQ(result.outcome, RunOutcome::NoDate);
      EXPECT_EQ(freshView.messages.back(), "Excel datoteka '" + input.workbookPath +
                                               "' ni v pravem formatu!\rV celici A2 bi moral biti datum!\rDatum: '" +
                                               *c.cell + "'");
    }
  }
}

TEST_F(ImportRunTest, BadDateEmptiesAnEarlierFileAndClosesTheSession) {
  { std::ofstream(output) << "old content\r\n"; }
  input.profile = Profile(7, "z", "B", "D", "");
  session.SetCell(7, 1, "danes");
  EXPECT_EQ(Run().outcome, RunOutcome::NoDate);
  EXPECT_EQ(view.messages, std::vector<std::string>{"Excel datoteka '" + input.workbookPath +
                                                    "' ni v pravem formatu!\rV celici z7 bi moral biti datum!"
                                                    "\rDatum: 'danes'"});
  EXPECT_TRUE(std::filesystem::exists(output));
  EXPECT_EQ(std::filesystem::file_size(output), 0u);
  EXPECT_EQ(session.ZapriCount(), 1);
  EXPECT_FALSE(view.progressVisible);
  EXPECT_EQ(view.events, (std::vector<std::string>{"label on", "pump", "message", "label off"}));
}

TEST_F(ImportRunTest, SessionUnavailable) {
  session.SetUnavailable(true);
  const RunResult result = Run();
  EXPECT_EQ(result.outcome, RunOutcome::SessionUnavailable);
  EXPECT_EQ(view.messages, std::vector<std::string>{"Verjetno ni instaliran EXCEL"});
  EXPECT_FALSE(view.progressVisible);
  EXPECT_FALSE(std::filesystem::exists(output));
  EXPECT_TRUE(session.Reads().empty());
}

TEST_F(ImportRunTest, RateFileNotCreatable) {
  input.workbookPath = dir.File("missing/tecaji.xls");
  const RunResult result = Run();
  EXPECT_EQ(result.outcome, RunOutcome::FileNotCreated);
  EXPECT_EQ(view.messages, std::vector<std::string>{"Ne morem pisati v datoteko " + dir.File("missing/tecaji.ztr")});
  EXPECT_FALSE(view.progressVisible);
  EXPECT_EQ(session.ZapriCount(), 0);
  EXPECT_TRUE(session.Reads().empty());
}

TEST_F(ImportRunTest, AWorkbookThatWouldBeItsOwnRateFileIsKept) {
  const std::string workbooks[] = {dir.File("tecaji.ztr"), dir.File("kopija.xls")};
  for (const std::string& workbook : workbooks) {
    { std::ofstream(workbook) << "workbook bytes"; }
  }
  std::filesystem::create_symlink(workbooks[1], dir.File("kopija.ztr"));
  for (const std::string& workbook : workbooks) {
    RecordingView freshView;
    input.workbookPath = workbook;
    EXPECT_EQ(ImportIzExcela(input, session, freshView).outcome, RunOutcome::FileNotCreated);
    EXPECT_EQ(freshView.messages, std::vector<std::string>{"Ne morem pisati v datoteko " + OutputFileName(workbook)});
    EXPECT_EQ(ReadFile(workbook), "workbook bytes");
  }
}

TEST_F(ImportRunTest, UnreadableDateCellIsThrownAndCleansUp) {
  const struct {
    std::int32_t startRow;
    const char* what;
  } cases[] = {
      {0, "Celice v vrstici 0, stolpcu 1 ni mogo\xE8" "e prebrati"},
      {-5, "Celice v vrstici -5, stolpcu 1 ni mogo\xE8" "e prebrati"},
      {2, "Celice v vrstici 2, stolpcu 1 ni mogo\xE8" "e prebrati"},
  };
  session.SetCell(2, 1, std::nullopt);  // an error value
  session.SetCell(0, 1, "5.3.2024");    // a session that answered for row 0 would still not make it a date
  for (const auto& c : cases) {
    RecordingView freshView;
    input.profile.startRow = c.startRow;
    const int zapri = session.ZapriCount();
    try {
      ImportIzExcela(input, session, freshView);
      ADD_FAILURE() << "no exception for start row " << c.startRow;
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(std::string(error.what()), c.what);
    }
    EXPECT_TRUE(freshView.messages.empty());
    EXPECT_FALSE(freshView.progressVisible);
    EXPECT_EQ(session.ZapriCount(), zapri + 1);
    EXPECT_EQ(std::filesystem::file_size(output), 0u);
  }
}

// A workbook that cannot be opened is read as an empty sheet, so its empty
// date cell brings the date message; the reason follows it, in the same
// message, on a line of its own. A workbook that opened gets no such line.
TEST_F(ImportRunTest, AWorkbookThatCouldNotBeOpenedIsExplainedAfterTheDateMessage) {
  const std::filesystem::path workbooks = std::filesystem::path(RATEMOVER_TEST_DATA) / "workbooks";
  const struct {
    const char* fixture;   // nullptr: a folder under the workbook's name
    const char* date;      // the date column
    const char* reason;    // nullptr: the workbook opened
  } cases[] = {
      {"bad/crc_mismatch_deflated.xlsx", "A", "Delovni zvezek je po\x9Akodovan."},
      {"bad/trunc_half.xls", "A", "Delovni zvezek je po\x9Akodovan."},
      {"bad/bomb_1g.xlsx", "A", "Delovni zvezek je prevelik."},
      {"types_pw.xls", "A", "Delovni zvezek je \x9Aifriran z geslom."},
      {"bad/gzip.ods", "A", "Datoteka ni delovni zvezek."},
      {nullptr, "A", "Datoteke ni mogo\xE8" "e prebrati."},
      {"data3000.xlsx", "b", nullptr},  // the symbol column holds no date
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture != nullptr ? c.fixture : "a folder");
    const std::string name = c.fixture != nullptr ? std::filesystem::path(c.fixture).filename().string() : "mapa.xls";
    ImportRunInput run = input;
    run.workbookPath = dir.File(name);
    run.profile.date = c.date;
    if (c.fixture != nullptr) {
      std::filesystem::copy_file(workbooks / c.fixture, run.workbookPath);
    } else {
      std::filesystem::create_directory(run.workbookPath);
    }
    const auto session = spreadsheet::MakeWorkbookFileSession();
    RecordingView shown;
    EXPECT_EQ(ImportIzExcela(run, *session, shown).outcome, RunOutcome::NoDate);
    ASSERT_EQ(shown.messages.size(), 1u);
    const std::string& message = shown.messages[0];
    const std::string lead = "Excel datoteka '" + run.workbookPath + "' ni v pravem formatu!\rV celici " + c.date +
                             "2 bi moral biti datum!\rDatum: '";
    ASSERT_EQ(message.substr(0, lead.size()), lead);
    if (c.reason != nullptr) {
      EXPECT_EQ(message, lead + "'\r" + c.reason);
    } else {
      EXPECT_EQ(message.find('\r', lead.size()), std::string::npos) << message;
      EXPECT_EQ(message.back(), '\'');
    }
  }
}

TEST_F(ImportRunTest, FailingWorkbookFallbackIsThrown) {
  class FallbackFails : public MemorySession {
   public:
    void OdpriZvezek(const std::string&, bool) override { throw std::runtime_error("fallback"); }
  } failing;
  EXPECT_THROW(ImportIzExcela(input, failing, view), std::runtime_error);
  EXPECT_FALSE(view.progressVisible);
  EXPECT_EQ(failing.ZapriCount(), 1);
  EXPECT_FALSE(std::filesystem::exists(output));
}

// Lowers the file size limit for one scope, so that writing the rate file runs
// into a full disk half way.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
};

TEST_F(ImportRunTest, WriteFailureLeavesAnEmptyFileAndIsThrown) {
  for (std::int32_t row = 2; row <= 3000; ++row) {
    session.SetCell(row, 2, "S" + std::to_string(row));
    session.SetCell(row, 4, "1,5");
  }
  std::string what;
  {
    FileSizeLimit limit(100'000);
    try {
      Run();
    } catch (const std::runtime_error& error) {
      what = error.what();
    }
  }
  EXPECT_EQ(what, "Napaka pri pisanju v datoteko " + output);
  ASSERT_TRUE(std::filesystem::exists(output));
  EXPECT_EQ(std::filesystem::file_size(output), 0u);
  EXPECT_TRUE(view.messages.empty());
  EXPECT_FALSE(view.progressVisible);
  EXPECT_EQ(session.ZapriCount(), 1);
}

// What stands under the rate file's name decides whether the run may replace
// it: anything but a regular file that may be written is M2, and is left as it
// was; a pipe is never opened, so nothing waits for a reader.
TEST_F(ImportRunTest, WhatCannotBeReplacedIsReportedAndLeftAlone) {
  session.SetCell(2, 2, "S");
  session.SetCell(2, 4, "1");
  const struct {
    const char* name;
    void (*make)(const std::string& path);
  } cases[] = {
      {"pipe", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0); }},
      {"folder", [](const std::string& path) { std::filesystem::create_directory(path); }},
      {"device through a link", [](const std::string& path) { std::filesystem::create_symlink("/dev/null", path); }},
      {"read-only file",
       [](const std::string& path) {
         std::ofstream(path) << "yesterday\r\n";
         ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(output);
    c.make(output);
    const auto before = std::filesystem::symlink_status(output).type();
    RecordingView freshView;
    ::alarm(300);  // a run that waits on the pipe ends the test program instead of hanging it
    const RunResult result = ImportIzExcela(input, session, freshView);
    ::alarm(0);
    EXPECT_EQ(result.outcome, RunOutcome::FileNotCreated);
    EXPECT_EQ(freshView.messages, std::vector<std::string>{"Ne morem pisati v datoteko " + output});
    EXPECT_EQ(std::filesystem::symlink_status(output).type(), before);
    if (before == std::filesystem::file_type::regular) {
      EXPECT_EQ(ReadFile(output), "yesterday\r\n");
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("")), {}), 1) << "nothing else left";
  }
}

TEST_F(ImportRunTest, ALinkKeepsPointingAndTheFileItNamesIsReplaced) {
  session.SetCell(2, 2, "S");
  session.SetCell(2, 4, "1");
  std::filesystem::create_directory(dir.File("arhiv"));
  const std::string real = dir.File("arhiv/danes.ztr");
  struct Case {
    const char* name;
    bool realExists;
    std::string linkText;
  };
  for (const Case& c : {Case{"absolute link", true, real}, Case{"relative link", true, "arhiv/danes.ztr"},
                        Case{"link to a file not there yet", false, "arhiv/danes.ztr"}}) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(output);
    std::filesystem::remove(real);
    if (c.realExists) {
      std::ofstream(real) << "yesterday\r\n";
      ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    }
    std::filesystem::create_symlink(c.linkText, output);
    RecordingView freshView;
    EXPECT_EQ(ImportIzExcela(input, session, freshView).outcome, RunOutcome::Written);
    ASSERT_TRUE(std::filesystem::is_symlink(output));
    EXPECT_EQ(std::filesystem::read_symlink(output), c.linkText);
    EXPECT_EQ(Lines(ReadFile(real)).size(), 2u);
    struct stat info {};
    ASSERT_EQ(::stat(real.c_str(), &info), 0);
    if (c.realExists) {
      EXPECT_EQ(info.st_mode & 07777, 0640u);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("arhiv")), {}), 1);
  }
}

// Yesterday's rate file keeps its permission bits, and its owner and group when
// the superuser runs the transfer.
TEST_F(ImportRunTest, ReplacedFileKeepsItsPermissionsAndOwner) {
  session.SetCell(2, 2, "S");
  session.SetCell(2, 4, "1");
  const bool superuser = ::geteuid() == 0;
  for (const mode_t mode : {0600u, 0644u, 0664u, 0222u}) {
    SCOPED_TRACE(mode);
    std::filesystem::remove(output);
    std::ofstream(output) << "yesterday\r\n";
    ASSERT_EQ(::chmod(output.c_str(), mode), 0);
    if (superuser) {
      ASSERT_EQ(::chown(output.c_str(), 65534, 65534), 0);
    }
    struct stat before {};
    ASSERT_EQ(::stat(output.c_str(), &before), 0);
    RecordingView freshView;
    EXPECT_EQ(ImportIzExcela(input, session, freshView).outcome, RunOutcome::Written);
    struct stat after {};
    ASSERT_EQ(::stat(output.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino) << "replaced, not rewritten";
    EXPECT_EQ(after.st_mode & 07777, mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    ASSERT_EQ(::chmod(output.c_str(), 0644), 0);
    EXPECT_EQ(Lines(ReadFile(output)).size(), 2u);
  }
}

// A run that fails half way, whether by a full disk or an unreadable date cell,
// leaves an empty file in place of yesterday's and nothing beside it.
TEST_F(ImportRunTest, FailuresLeaveAnEmptyFileAndNoTemporaryOne) {
  for (std::int32_t row = 2; row <= 3000; ++row) {
    session.SetCell(row, 2, "S" + std::to_string(row));
    session.SetCell(row, 4, "1,5");
  }
  {
    std::ofstream(output) << "yesterday\r\n";
    FileSizeLimit limit(100'000);
    EXPECT_THROW(Run(), std::runtime_error);
  }
  EXPECT_EQ(ReadFile(output), "");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("")), {}), 1);

  std::ofstream(output) << "yesterday\r\n";
  session.SetCell(2, 1, std::nullopt);
  EXPECT_THROW(Run(), std::runtime_error);
  EXPECT_EQ(ReadFile(output), "");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("")), {}), 1);
}

class TransferRequestTest : public ImportRunTest {};

TEST_F(TransferRequestTest, MissingWorkbookOrDirectory) {
  std::filesystem::create_directory(dir.File("folder.xls"));
  for (const std::string& path : {dir.File("none.xls"), dir.File("folder.xls"), std::string(" ") + dir.File("x")}) {
    RecordingView freshView;
    MemorySession fresh;
    input.workbookPath = path;
    const RequestResult result = TransferRequest(input, fresh, freshView);
    EXPECT_TRUE(result.workbookMissing);
    EXPECT_EQ(freshView.messages, std::vector<std::string>{"Datoteka ne obstaja!\r" + path});
    EXPECT_EQ(freshView.events, (std::vector<std::string>{"pump", "message"}));
    EXPECT_EQ(fresh.ZapriCount(), 1);
    EXPECT_TRUE(fresh.Reads().empty());
  }
}

TEST_F(TransferRequestTest, ClosesTheSessionBeforeAndAfterTheRun) {
  { std::ofstream(input.workbookPath) << "workbook"; }
  session.SetCell(2, 2, "S");
  session.SetCell(2, 4, "2");
  input.startedWithArguments = true;
  const RequestResult result = TransferRequest(input, session, view);
  EXPECT_FALSE(result.workbookMissing);
  EXPECT_EQ(result.run.outcome, RunOutcome::Written);
  EXPECT_EQ(result.run.writtenRows, 1);
  EXPECT_EQ(session.ZapriCount(), 2);
  EXPECT_EQ(view.events, (std::vector<std::string>{"pump", "label on", "pump", "label off", "pump", "pump"}));

  // a failure inside the run skips the closing steps after it
  MemorySession failing;
  failing.SetCell(2, 1, std::nullopt);
  EXPECT_THROW(TransferRequest(input, failing, view), std::runtime_error);
  EXPECT_EQ(failing.ZapriCount(), 2);  // before the run, and the run's own on its way out
}

}  // namespace
}  // namespace ratemover
