// ratemover-batch end to end: the real program on real workbooks.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/batch/batch_options.h"
#include "app/batch/cell_listing.h"
#include "tests/support/zip_writer.h"

namespace fs = std::filesystem;

namespace {

const fs::path kWorkbooks = fs::path(RATEMOVER_TEST_DATA) / "workbooks";
const fs::path kExpected = fs::path(RATEMOVER_TEST_DATA) / "expected";

struct ProcessResult {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct RunOptions {
  rlim_t fileSizeLimit = 0;     // when not 0, caps the size of every file the program writes
  bool asOrdinaryUser = false;  // run as user 65534 when the test runs as the superuser
  std::string tag = "";         // tells apart the output files of programs that run at once
  // Disk failures loaded into the program: RATEMOVER_FAIL_WRITE or
  // RATEMOVER_FAIL_FOLDER_FSYNC with the errno value the failing call gives.
  std::vector<std::pair<std::string, int>> diskFaults = {};
};

// Starts the program with its output going to files in dir.
pid_t StartBatch(const std::vector<std::string>& arguments, const fs::path& dir, const RunOptions& options = {}) {
  const fs::path outFile = dir / ("stdout" + options.tag + ".txt");
  const fs::path errFile = dir / ("stderr" + options.tag + ".txt");
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int none = open("/dev/null", O_RDONLY);
    dup2(out, 1);
    dup2(err, 2);
    dup2(none, 0);
    if (options.fileSizeLimit != 0) {
      const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.asOrdinaryUser && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
    if (!options.diskFaults.empty()) {
      setenv("LD_PRELOAD", RATEMOVER_WRITE_FAULTS, 1);
      // a sanitized program would refuse a library loaded before its runtime
      const char* asan = getenv("ASAN_OPTIONS");
      setenv("ASAN_OPTIONS", ((asan != nullptr ? std::string(asan) + ":" : "") + "verify_asan_link_order=0").c_str(), 1);
      for (const auto& [variable, error] : options.diskFaults) setenv(variable.c_str(), std::to_string(error).c_str(), 1);
    }
    std::vector<char*> argv;
    std::string exe = RATEMOVER_BATCH_EXE;
    argv.push_back(exe.data());
    std::vector<std::string> copies = arguments;
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

constexpr int kTimedOut = 999;

// The program's exit status, 128 + the signal that ended it, or kTimedOut when it
// had not ended within five minutes (it is then killed): no test waits forever,
// and none fails because a busy machine ran it slowly.
int WaitForBatch(pid_t pid) {
  for (int waited = 0; waited < 300000; ++waited) {
    int raw = 0;
    if (waitpid(pid, &raw, WNOHANG) == pid) return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    usleep(1000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return kTimedOut;
}

ProcessResult RunBatch(const std::vector<std::string>& arguments, const fs::path& dir, const RunOptions& options = {}) {
  ProcessResult result;
  result.status = WaitForBatch(StartBatch(arguments, dir, options));
  result.out = ReadFile(dir / ("stdout" + options.tag + ".txt"));
  result.err = ReadFile(dir / ("stderr" + options.tag + ".txt"));
  return result;
}

class BatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("ratemover-batch-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    // a configuration without profiles: the default profile A, B, D from row 2
    defaultConf_ = (dir_ / "default.CONF").string();
    std::ofstream(defaultConf_, std::ios::binary) << "[EXCEL_FORMAT]\r\n";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Copies a workbook into the test's folder under a name of our choosing.
  fs::path Workbook(const std::string& fixture, const std::string& name) {
    const fs::path target = dir_ / name;
    fs::copy_file(kWorkbooks / fixture, target);
    return target;
  }

  void WriteConf(const std::string& cp1250Text) {
    std::ofstream(dir_ / "Ratemover.CONF", std::ios::binary) << cp1250Text;
  }

  // A configuration whose selected profile has the index column E.
  std::string IndexConf() {
    const fs::path conf = dir_ / "indeks.CONF";
    std::ofstream(conf, std::ios::binary)
        << "[EXCEL_FORMAT]\r\n  IZBRANA_TECAJNICA=1\r\n  TECAJNICA=Z INDEKSOM\r\n    START_VRSTICA=2\r\n"
           "    DATUM=A\r\n    SIMBOL=B\r\n    TECAJ=D\r\n    INDEKS=E\r\n";
    return conf.string();
  }

  fs::path dir_;
  std::string defaultConf_;
};

// The same price list saved by different programs in different formats gives
// the same rate file, byte for byte, as computed independently from the data.
TEST_F(BatchTest, EveryFormatGivesTheExpectedRateFile) {
  const std::string expected = ReadFile(kExpected / "data3000.ztr");
  ASSERT_FALSE(expected.empty());
  const std::vector<std::string> fixtures = {"data3000.xls", "data3000.xlsx", "data3000.ods",
                                             "data3000_biff5.xls", "biff234/data3000_biff2.xls",
                                             "biff234/data3000_biff3.xls", "biff234/data3000_biff4.xls", "data3000.xlsb",
                                             "xml2003/data3000.xml", "text/data3000_libreoffice.html",
                                             "text/data3000_libreoffice.csv"};
  for (const auto& fixture : fixtures) {
    SCOPED_TRACE(fixture);
    // the name says nothing of the format: the content decides
    const fs::path workbook = Workbook(fixture, "danes_" + std::to_string(&fixture - fixtures.data()) + ".bin");
    const ProcessResult run = RunBatch({"--conf", defaultConf_, workbook.string()}, dir_);
    EXPECT_EQ(run.status, 0) << run.err;
    fs::path output = workbook;
    output.replace_extension("ztr");
    EXPECT_EQ(ReadFile(output), expected);
    EXPECT_NE(run.out.find("Prepisanih vrstic: 2969"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(output.string()), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(BatchTest, ConfiguredProfileChosenByNameWithIndexColumn) {
  // two profiles; the selected one reads prices from C (names: nothing written)
  WriteConf(
      "[EXCEL_FORMAT]\r\n  DATOTEKA=" + (dir_ / "x.xls").string() + "\r\n  IZBRANA_TECAJNICA=1\r\n"
      "  TECAJNICA=NAPACNA\r\n    START_VRSTICA=2\r\n    DATUM=A\r\n    SIMBOL=B\r\n    TECAJ=C\r\n    INDEKS=\r\n"
      "  TECAJNICA=Borza \xC8\x8A\x8E\r\n    START_VRSTICA=2\r\n    DATUM=A\r\n    SIMBOL=B\r\n    TECAJ=D\r\n"
      "    INDEKS=E\r\n");
  const fs::path workbook = Workbook("data3000.xlsx", "tecaji.xlsx");
  const fs::path conf = dir_ / "Ratemover.CONF";

  // the selected profile finds no price: nothing written, status 3, one-line file
  ProcessResult run = RunBatch({"--conf", conf.string(), workbook.string()}, dir_);
  EXPECT_EQ(run.status, 3);
  EXPECT_NE(run.err.find("Podatki niso bili prepisani!\nPreveri v parametrih, če je tečaj nastavljen v pravi koloni!"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(ReadFile(dir_ / "tecaji.ztr"), std::string(" 0002 05.03.2024\r\n"));

  // the other profile by name, in another case and with the letters typed in UTF-8
  run = RunBatch({"--conf", conf.string(), "--profile", "  borza čšž ", workbook.string()}, dir_);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir_ / "tecaji.ztr"), ReadFile(kExpected / "data3000_indeks.ztr"));
}

TEST_F(BatchTest, FailuresMapToTheirExitStatus) {
  const fs::path workbook = Workbook("bad/zero.xls", "prazen.xls");
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    int status;
    std::string errContains;
  };
  const std::vector<Case> cases = {
      {"missing workbook", {"--conf", defaultConf_, (dir_ / "ni.xls").string()}, 2,
       "Datoteka ne obstaja!\n" + (dir_ / "ni.xls").string()},
      {"a directory is no workbook", {"--conf", defaultConf_, dir_.string()}, 2, "Datoteka ne obstaja!\n"},
      {"unreadable workbook: no date", {"--conf", defaultConf_, workbook.string()}, 2,
       "Excel datoteka '" + workbook.string() + "' ni v pravem formatu!\nV celici A2 bi moral biti datum!\nDatum: ''"},
      {"unknown profile", {"--conf", defaultConf_, "--profile", "NIKJER", workbook.string()}, 64, "NIKJER"},
      {"unknown option", {"--hitro", workbook.string()}, 64, "Uporaba:"},
      {"two workbooks", {workbook.string(), workbook.string()}, 64, "Uporaba:"},
      {"option without value", {"--conf"}, 64, "Uporaba:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ProcessResult run = RunBatch(c.arguments, dir_);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find(c.errContains), std::string::npos) << run.err;
  }
  // after the date check failed the rate file is there, and empty
  EXPECT_TRUE(fs::exists(dir_ / "prazen.ztr"));
  EXPECT_EQ(fs::file_size(dir_ / "prazen.ztr"), 0u);
}

// A workbook that cannot be opened is read as an empty sheet, as the desktop
// does: the date message names the reason on a line of its own, and the batch
// program adds one line saying why in Slovene, with the reader's detail.
TEST_F(BatchTest, AWorkbookThatCannotBeOpenedIsExplainedInOneLine) {
  const std::string lead = "ratemover-batch: delovnega zvezka ni mogoče odpreti: ";
  const struct {
    const char* fixture;
    const char* name;
    std::string reason;    // after the lead
    std::string sentence;  // the line after the date message
  } cases[] = {
      {"bad/crc_mismatch_deflated.xlsx", "a.xlsx",
       "delovni zvezek je poškodovan (xl/worksheets/sheet2.xml: CRC-32 differs)", "Delovni zvezek je poškodovan."},
      {"bad/crc_mismatch_deflated.ods", "b.ods", "delovni zvezek je poškodovan (content.xml: CRC-32 differs)",
       "Delovni zvezek je poškodovan."},
      {"bad/row_beyond_limit.xlsx", "c.xlsx",
       "delovni zvezek je poškodovan (xl/worksheets/sheet2.xml: cell outside its row)", "Delovni zvezek je poškodovan."},
      {"bad/bomb_1g.xlsx", "d.xlsx",
       "delovni zvezek je prevelik (xl/worksheets/sheet1.xml: 1073744108 bytes, more than the 268435456 bytes "
       "(256 MiB) that may be read)",
       "Delovni zvezek je prevelik."},
      {"bad/gzip.xlsx", "e.xlsx", "datoteka ni delovni zvezek", "Datoteka ni delovni zvezek."},
      {"types_pw.ods", "f.ods", "delovni zvezek je šifriran z geslom (META-INF/manifest.xml)",
       "Delovni zvezek je šifriran z geslom."},
      {"types_pw.xls", "g.xls", "delovni zvezek je šifriran z geslom (the workbook globals hold a FILEPASS record)",
       "Delovni zvezek je šifriran z geslom."},
      {"foreign/encrypted_package_cfb.xlsx", "i.xlsx", "delovni zvezek je šifriran z geslom (EncryptionInfo)",
       "Delovni zvezek je šifriran z geslom."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fixture);
    const fs::path workbook = Workbook(c.fixture, c.name);
    const ProcessResult run = RunBatch({"--conf", defaultConf_, workbook.string()}, dir_);
    EXPECT_EQ(run.status, 2);
    const std::string noDate = "Excel datoteka '" + workbook.string() +
                               "' ni v pravem formatu!\nV celici A2 bi moral biti datum!\nDatum: ''\n";
    EXPECT_EQ(run.err, noDate + c.sentence + "\n" + lead + c.reason + "\n");
  }
  // a workbook that opens gets no such line
  const fs::path good = Workbook("data3000.xlsx", "h.xlsx");
  EXPECT_EQ(RunBatch({"--conf", defaultConf_, good.string()}, dir_).err.find(lead), std::string::npos);
}

// What the reader ran into may name a part of the package, whose name is the
// file's own bytes: a line break or a tab in it is printed escaped, as in a
// file name, so the reason stays one line.
TEST_F(BatchTest, APartNameInTheReasonIsPrintedEscaped) {
  using ratemover::testsupport::ZipMember;
  const std::string rels = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  const std::string type = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
  const std::vector<ZipMember> members = {
      {"_rels/.rels", rels + "<Relationship Id=\"rId1\" Type=\"" + type +
                          "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
      {"xl/workbook.xml",
       "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
       "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><sheets>"
       "<sheet name=\"A\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels", rels + "<Relationship Id=\"rId1\" Type=\"" + type +
                                         "worksheet\" Target=\"worksheets/a&#10;b&#9;.xml\"/></Relationships>"},
      {"xl/worksheets/a\nb\t.xml",
       "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData/></worksheet>",
       false, true},
  };
  const fs::path workbook = dir_ / "ime.xlsx";
  std::ofstream(workbook, std::ios::binary) << ratemover::testsupport::ZipOf(members);
  const ProcessResult run = RunBatch({"--conf", defaultConf_, workbook.string()}, dir_);
  EXPECT_EQ(run.status, 2);
  const std::string lead = "ratemover-batch: delovnega zvezka ni mogoče odpreti: delovni zvezek je poškodovan (";
  const auto at = run.err.find(lead);
  ASSERT_NE(at, std::string::npos) << run.err;
  EXPECT_EQ(run.err.substr(at + lead.size()), "xl/worksheets/a\\nb\\t.xml: CRC-32 differs)\n");
}

TEST_F(BatchTest, RateFileThatCannotBeCreatedIsReported) {
  const fs::path workbook = Workbook("data3000.xls", "zaklenjen.xls");
  fs::create_directory(dir_ / "zaklenjen.ztr");  // a folder where the rate file should go
  const ProcessResult run = RunBatch({"--conf", defaultConf_, workbook.string()}, dir_);
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("Ne morem pisati v datoteko " + (dir_ / "zaklenjen.ztr").string()), std::string::npos)
      << run.err;
}

// A disk that fills up half way through must not leave half a price list that
// ZTR would load as complete.
TEST_F(BatchTest, WriteFailureLeavesAnEmptyRateFile) {
  const fs::path workbook = Workbook("data3000.xlsx", "poln_disk.xlsx");
  const ProcessResult run = RunBatch({"--conf", defaultConf_, workbook.string()}, dir_, {.fileSizeLimit = 200000});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Napaka pri pisanju v datoteko " + (dir_ / "poln_disk.ztr").string()), std::string::npos)
      << run.err;
  EXPECT_EQ(fs::file_size(dir_ / "poln_disk.ztr"), 0u);
  EXPECT_EQ(run.out, "");
}

// The operator is told why the rate file could not be written, in words that
// say what to do about it; the run fails and leaves an empty rate file. A rate
// file whose folder could not be flushed after the rename may not outlive a
// power cut: that is a failed write too, not a success.
TEST_F(BatchTest, WriteFailuresTellTheirCause) {
  const struct {
    const char* what;
    const char* fault;
    int error;
    std::string cause;  // as the operator reads it, after the file name
  } cases[] = {
      {"disk full", "RATEMOVER_FAIL_WRITE", ENOSPC, ": ni prostora na disku"},
      {"quota", "RATEMOVER_FAIL_WRITE", EDQUOT, ": presežena kvota"},
      {"disk error", "RATEMOVER_FAIL_WRITE", EIO, ": napaka pri pisanju na disk"},
      {"another cause", "RATEMOVER_FAIL_WRITE", EPERM, ""},
      {"folder flush", "RATEMOVER_FAIL_FOLDER_FSYNC", EIO, ": napaka pri pisanju na disk"},
      {"folder flush, disk full", "RATEMOVER_FAIL_FOLDER_FSYNC", ENOSPC, ": ni prostora na disku"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path workbook = Workbook("data3000.xlsx", "book.xlsx");
    const fs::path rateFile = dir_ / "book.ztr";
    std::ofstream(rateFile, std::ios::binary) << "yesterday\r\n";
    const ProcessResult run =
        RunBatch({"--conf", defaultConf_, workbook.string()}, dir_, {.diskFaults = {{c.fault, c.error}}});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("Napaka pri pisanju v datoteko " + rateFile.string() + c.cause + "\n"), std::string::npos)
        << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(fs::file_size(rateFile), 0u);
    fs::remove(workbook);
  }
  // the same program without faults writes the file: the failures above are the injected ones
  const fs::path workbook = Workbook("data3000.xlsx", "book.xlsx");
  const ProcessResult run = RunBatch({"--conf", defaultConf_, workbook.string()}, dir_);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_GT(fs::file_size(dir_ / "book.ztr"), 1000u);
}

// Settings asked for by name that cannot be used end the job before anything is
// read or written: a job must not quietly run with other columns.
TEST_F(BatchTest, AConfigurationThatCannotBeUsedEndsWithStatus78) {
  const fs::path workbook = Workbook("data3000.xlsx", "tecaji.xlsx");
  const std::string yesterday = "yesterday\r\n";
  std::ofstream(dir_ / "tecaji.ztr", std::ios::binary) << yesterday;
  std::ofstream(dir_ / "garbage.CONF", std::ios::binary) << "  DATOTEKA=x.xls\r\n[EXCEL_FORMAT ]\r\n\x01\x02\xff";
  std::ofstream(dir_ / "secret.CONF", std::ios::binary) << "[EXCEL_FORMAT]\r\n";
  ASSERT_EQ(chmod((dir_ / "secret.CONF").c_str(), 0), 0);
  ASSERT_EQ(mkfifo((dir_ / "pipe.CONF").c_str(), 0666), 0);
  fs::create_directory(dir_ / "folder.CONF");
  struct Case {
    const char* name;
    fs::path conf;
    std::string message;
    RunOptions options;
  };
  const std::vector<Case> cases = {
      {"missing", dir_ / "none.CONF", "datoteka z nastavitvami " + (dir_ / "none.CONF").string() + " ne obstaja", {}},
      {"folder on the way missing", dir_ / "none" / "x.CONF",
       "datoteka z nastavitvami " + (dir_ / "none" / "x.CONF").string() + " ne obstaja", {}},
      {"folder", dir_ / "folder.CONF", (dir_ / "folder.CONF").string() + " ni navadna datoteka z nastavitvami", {}},
      {"pipe", dir_ / "pipe.CONF", (dir_ / "pipe.CONF").string() + " ni navadna datoteka z nastavitvami", {}},
      {"no section line", dir_ / "garbage.CONF",
       "v datoteki z nastavitvami " + (dir_ / "garbage.CONF").string() + " ni vrstice [EXCEL_FORMAT]", {}},
      {"unreadable", dir_ / "secret.CONF",
       "datoteke z nastavitvami " + (dir_ / "secret.CONF").string() + " ni mogo\u010De brati", {.asOrdinaryUser = true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ProcessResult run = RunBatch({"--conf", c.conf.string(), workbook.string()}, dir_, c.options);
    EXPECT_EQ(run.status, 78);
    EXPECT_EQ(run.err, "ratemover-batch: " + c.message + "\n");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(ReadFile(dir_ / "tecaji.ztr"), yesterday);
  }
  // an indented section line among other lines is the reader's too
  std::ofstream(dir_ / "indented.CONF", std::ios::binary) << "; x\n\t  [EXCEL_FORMAT]  \r";
  EXPECT_EQ(RunBatch({"--conf", (dir_ / "indented.CONF").string(), workbook.string()}, dir_).status, 0);
}

// Names are printed so that each stays on its line, while the line breaks of the
// messages themselves still break lines.
TEST_F(BatchTest, NamesWithControlCharactersArePrintedEscaped) {
  const fs::path workbook = Workbook("data3000.xlsx", "dnevni\ntecaji\t\x7f.xlsx");
  ProcessResult run = RunBatch({"--conf", defaultConf_, workbook.string()}, dir_);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Prepisanih vrstic: 2969\nIzhodna datoteka: " + dir_.string() + "/dnevni\\ntecaji\\t\\x7F.ztr\n");

  const std::string missing = (dir_ / "ni\r\\tu.xls").string();
  run = RunBatch({"--conf", defaultConf_, missing}, dir_);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "Datoteka ne obstaja!\n" + dir_.string() + "/ni\\r\\\\tu.xls\n");

  const fs::path blocked = Workbook("data3000.xlsx", "zaprt\x1b.xlsx");
  fs::create_directory(dir_ / "zaprt\x1b.ztr");
  run = RunBatch({"--conf", defaultConf_, blocked.string()}, dir_);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "Ne morem pisati v datoteko " + dir_.string() + "/zaprt\\x1B.ztr\n");

  run = RunBatch({"--conf", defaultConf_, "--profile", "A\nB", blocked.string()}, dir_);
  EXPECT_EQ(run.err, "ratemover-batch: v nastavitvah ni te\u010Dajnice A\\nB\n");
}

// A name is the file system's bytes: whatever it holds, the workbook, the rate
// file and a named configuration are the files it names, and the name is
// printed as it is (UTF-8), or with \xHH for the bytes of a name that is not UTF-8.
TEST_F(BatchTest, NamesBeyondWindows1250NameTheirOwnFiles) {
  struct Case {
    const char* what;
    std::string name;
    std::string printed;
  };
  const Case cases[] = {
      {"\u010D \u0161 \u017E", "te\u010Daji_\u0161\u017E", "te\u010Daji_\u0161\u017E"},
      {"\u00F1", "cenik_\u00F1", "cenik_\u00F1"},
      {"Cyrillic", "\u043A\u0443\u0440\u0441\u044B", "\u043A\u0443\u0440\u0441\u044B"},
      {"Greek", "\u03C4\u03B9\u03BC\u03AD\u03C2", "\u03C4\u03B9\u03BC\u03AD\u03C2"},
      {"an emoji", "cene_\U0001F4C8", "cene_\U0001F4C8"},
      {"not UTF-8", "cenik_\xF1", "cenik_\\xF1"},
  };
  const std::string expected = ReadFile(kExpected / "data3000.ztr");
  ASSERT_FALSE(expected.empty());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path workbook = Workbook("data3000.xlsx", c.name + ".xlsx");
    // the configuration named on the command line, too
    const fs::path conf = dir_ / (c.name + ".CONF");
    fs::copy_file(defaultConf_, conf);
    ProcessResult run = RunBatch({"--conf", conf.string(), workbook.string()}, dir_);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFile(dir_ / (c.name + ".ztr")), expected);
    EXPECT_EQ(run.out, "Prepisanih vrstic: 2969\nIzhodna datoteka: " + dir_.string() + "/" + c.printed + ".ztr\n");
    EXPECT_EQ(run.err, "");

    run = RunBatch({"--conf", conf.string(), (dir_ / (c.name + "_ni.xls")).string()}, dir_);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "Datoteka ne obstaja!\n" + dir_.string() + "/" + c.printed + "_ni.xls\n");
  }
}

// A configuration names its workbook in Windows-1250 text: a name with \u010D,
// \u0161 and \u017E in it names the file whose UTF-8 name spells it.
TEST_F(BatchTest, TheConfiguredWorkbookIsTheFileItsTextSpells) {
  const fs::path workbook = Workbook("data3000.xlsx", "te\u010Daji_\u0161\u017E.xlsx");
  WriteConf("[EXCEL_FORMAT]\r\n  DATOTEKA=" + dir_.string() + "/te\xE8" "aji_\x9A\x9E.xlsx\r\n");
  const ProcessResult run = RunBatch({"--conf", (dir_ / "Ratemover.CONF").string()}, dir_);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir_ / "te\u010Daji_\u0161\u017E.ztr"), ReadFile(kExpected / "data3000.ztr"));
}

// The rate file as ZTR may find it at any moment: yesterday's whole file or
// today's, never a shorter list.
class RateFileReplacementTest : public BatchTest {
 protected:
  void SetUp() override {
    BatchTest::SetUp();
    workbook_ = Workbook("data3000.xlsx", "tecaji.xlsx");
    rateFile_ = dir_ / "tecaji.ztr";
    yesterday_ = ReadFile(kExpected / "data3000_indeks.ztr");
    today_ = ReadFile(kExpected / "data3000.ztr");
    ASSERT_FALSE(yesterday_.empty());
    ASSERT_NE(yesterday_, today_);
  }

  bool IsWhole(const std::string& content) const { return content == yesterday_ || content == today_; }

  // Temporary files beside the rate file.
  int Temporaries() const {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      if (entry.path().filename().string().starts_with("tecaji.ztr.tmp-")) ++count;
    }
    return count;
  }

  fs::path workbook_;
  fs::path rateFile_;
  std::string yesterday_;
  std::string today_;
};

TEST_F(RateFileReplacementTest, AKilledRunLeavesYesterdaysOrTodaysWholeFile) {
  // how long one run takes here, to kill runs at moments all through it: the
  // shortest of three, so that one run slowed by a busy machine does not put
  // every kill after the end
  std::ofstream(rateFile_, std::ios::binary) << yesterday_;
  std::chrono::microseconds runMicros = std::chrono::microseconds::max();
  for (int timing = 0; timing < 3; ++timing) {
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunBatch({"--conf", defaultConf_, workbook_.string()}, dir_).status, 0);
    runMicros = std::min(runMicros, std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now() - start));
  }
  std::mt19937 random(20240305);
  std::uniform_int_distribution<long> moment(0, runMicros.count() * 5 / 4);
  int kills = 0, leftYesterday = 0, leftToday = 0, leftTemporary = 0;
  for (int n = 0; n < 60; ++n) {
    std::ofstream(rateFile_, std::ios::binary | std::ios::trunc) << yesterday_;
    const pid_t pid = StartBatch({"--conf", defaultConf_, workbook_.string()}, dir_);
    usleep(static_cast<useconds_t>(moment(random)));
    if (kill(pid, SIGKILL) == 0) ++kills;
    WaitForBatch(pid);
    const std::string content = ReadFile(rateFile_);
    ASSERT_TRUE(IsWhole(content)) << "run " << n << ": a file of " << content.size() << " bytes";
    (content == yesterday_ ? leftYesterday : leftToday) += 1;
    if (Temporaries() > 0) ++leftTemporary;
  }
  // the next run removes what killed runs left behind
  EXPECT_EQ(RunBatch({"--conf", defaultConf_, workbook_.string()}, dir_).status, 0);
  EXPECT_EQ(ReadFile(rateFile_), today_);
  EXPECT_EQ(Temporaries(), 0);
  EXPECT_GT(leftYesterday, 0) << "no kill came early enough to test anything";
  RecordProperty("kills", kills);
  RecordProperty("left_yesterday", leftYesterday);
  RecordProperty("left_today", leftToday);
  RecordProperty("left_temporary", leftTemporary);
}

TEST_F(RateFileReplacementTest, AReaderNeverSeesAPartialFile) {
  std::ofstream(rateFile_, std::ios::binary) << yesterday_;
  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, partial{0};
  std::thread reader([&] {
    while (!done) {
      const std::string content = ReadFile(rateFile_);
      ++reads;
      if (!IsWhole(content)) ++partial;
    }
  });
  for (int n = 0; n < 10; ++n) {
    // the indexed profile gives yesterday's file again, the default one today's
    const std::vector<std::string> arguments =
        n % 2 == 0 ? std::vector<std::string>{"--conf", defaultConf_, workbook_.string()}
                   : std::vector<std::string>{"--conf", IndexConf(), workbook_.string()};
    EXPECT_EQ(RunBatch(arguments, dir_).status, 0);
  }
  done = true;
  reader.join();
  EXPECT_EQ(partial, 0) << "of " << reads << " reads";
  EXPECT_GT(reads, 10);
  RecordProperty("reads", reads);
}

TEST_F(RateFileReplacementTest, OverlappingRunsEachLeaveAWholeFile) {
  for (int round = 0; round < 10; ++round) {
    const pid_t plain = StartBatch({"--conf", defaultConf_, workbook_.string()}, dir_, {.tag = "1"});
    const pid_t indexed = StartBatch({"--conf", IndexConf(), workbook_.string()}, dir_, {.tag = "2"});
    EXPECT_EQ(WaitForBatch(plain), 0);
    EXPECT_EQ(WaitForBatch(indexed), 0);
    ASSERT_TRUE(IsWhole(ReadFile(rateFile_))) << "round " << round;
  }
  EXPECT_EQ(Temporaries(), 0);
}

TEST_F(BatchTest, HelpAndVersion) {
  ProcessResult run = RunBatch({"--help"}, dir_);
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("--profile"), std::string::npos);
  run = RunBatch({"--version"}, dir_);
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("ratemover-batch 3.4.0.0"), std::string::npos) << run.out;
}

TEST(BatchOptions, ParsesTheCommandLine) {
  using ratemover::batch::ParseBatchOptions;
  auto parsed = ParseBatchOptions({"--conf=a.CONF", "--profile", "X Y", "--", "-book.xls"});
  ASSERT_TRUE(parsed.options);
  EXPECT_EQ(parsed.options->configFile, "a.CONF");
  EXPECT_EQ(parsed.options->profileName, "X Y");
  EXPECT_EQ(parsed.options->workbook, "-book.xls");

  parsed = ParseBatchOptions({});
  ASSERT_TRUE(parsed.options);
  EXPECT_FALSE(parsed.options->workbook);
  EXPECT_FALSE(parsed.options->configFile);

  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--profile"}, {"--conf="}, {"-x"}, {"a", "b"}}) {
    EXPECT_FALSE(ParseBatchOptions(bad).options) << bad.front();
  }
}

// --- ratemover-batch --cells ---

// The output without its first line (the format's name).
std::string CellLines(const std::string& out) {
  const std::size_t end = out.find('\n');
  return end == std::string::npos ? std::string() : out.substr(end + 1);
}

// Every format names itself, and the same price list gives the same cell
// lines whoever wrote it in whichever format: the texts the transfer reads.
TEST_F(BatchTest, CellsOfData3000AreTheSameInEveryFormat) {
  const std::vector<std::pair<std::string, std::string>> fixtures = {
      {"data3000.xls", "biff8"},
      {"data3000_biff5.xls", "biff5"},
      {"biff234/data3000_biff2.xls", "biff2"},
      {"biff234/data3000_biff3.xls", "biff3"},
      {"biff234/data3000_biff4.xls", "biff4"},
      {"data3000.xlsx", "xlsx"},
      {"data3000.xlsb", "xlsb"},
      {"data3000.ods", "ods"},
      {"xml2003/data3000.xml", "xml2003"},
      {"foreign/data3000_backslash.xlsx", "xlsx"},
  };
  std::string first;
  for (const auto& [fixture, format] : fixtures) {
    SCOPED_TRACE(fixture);
    const ProcessResult run = RunBatch({"--cells", (kWorkbooks / fixture).string()}, dir_);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1), "# " + format + "\n");
    const std::string lines = CellLines(run.out);
    if (first.empty()) {
      first = lines;
      // what the rows hold, told apart from how they are listed
      for (const std::string line :
           {"A1\t=DATUM\nB1\t=SIMBOL\nC1\t=NAZIV\nD1\t=TECAJ\nE1\t=INDEKS\nF1\t=DVOJNO\nA2\t=5.3.2024\nB2\t=ZVTG\n"
            "C2\t=Dru\u017eba ZVTG d.d.\nD2\t=2083\nF2\t=4166\nA3\t=",
            "\nD3000\t=2573\nE3000\t=X\nF3000\t=5146\n"}) {
        EXPECT_NE(lines.find(line), std::string::npos) << line;
      }
      EXPECT_EQ(lines.rfind("F3000\t=5146\n"), lines.size() - 12);  // row 3001 is not listed
      EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 15301);
    } else {
      EXPECT_TRUE(lines == first) << "the cell lines differ from those of " << fixtures.front().first;
    }
  }
}

// Pages and delimited text carry no types: their cells are the texts they
// show, and the same two rows of the price list read alike from both.
TEST_F(BatchTest, CellsOfTextFormsAreTheirTexts) {
  const std::string rows =
      "A1\t=DATUM\nB1\t=SIMBOL\nC1\t=NAZIV\nD1\t=TECAJ\nE1\t=INDEKS\nF1\t=DVOJNO\n"
      "A2\t=05.03.2024\nB2\t=ZVTG\nC2\t=Dru\u017eba ZVTG d.d.\nD2\t=2083\nF2\t=4166\n";
  for (const auto& [fixture, format] : std::vector<std::pair<std::string, std::string>>{
           {"text/data3000_libreoffice.html", "html"}, {"text/data3000_libreoffice.csv", "csv"}}) {
    const ProcessResult run = RunBatch({"--cells", "--rows", "2", (kWorkbooks / fixture).string()}, dir_);
    EXPECT_EQ(run.status, 0) << fixture << run.err;
    EXPECT_EQ(run.out, "# " + format + "\n" + rows) << fixture;
  }
}

TEST_F(BatchTest, CellsAreListedRowByRowWithTheirTextsEscaped) {
  const ProcessResult run = RunBatch({"--cells", (kWorkbooks / "foreign/control_chars_xlwt.xls").string()}, dir_);
  EXPECT_EQ(run.status, 0) << run.err;
  // empty text is left out; blanks are text; column Z is never listed
  EXPECT_EQ(run.out,
            "# biff8\nA1\t=a\\\\b\nY1\t=Y\nA2\t=x\\ty\nB2\t=1,5\nA3\t=x\\ny\nA4\t=x\\ry\n"
            "A5\t=\\x01\\x1F\x7F\nA6\t=\u010d\u0161\u017e \u20ac\nA8\t=  \n");
}

TEST_F(BatchTest, CellsListsReadFailuresAndOnlyTheRowsAskedFor) {
  struct Case {
    std::string fixture;
    std::vector<std::string> options;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"types_openpyxl.xlsx", {"--rows", "5"},
       "# xlsx\nA1\t=label\nB1\t=value\nA2\t=text_slovene\nB2\t=\u010d\u0161\u017e\u0107\u0111 "
       "\u010c\u0160\u017d\u0106\u0110\nA3\t=int_42\nB3\t=42\nA4\t=dec_12.5\nB4\t=12,5\n"
       "A5\t=f_num =B3*2\nB5\t!\n"},
      {"const_errors_gnumeric.xls", {"--rows=3"}, "# biff8\nA1\t=label\nB1\t=value\nA2\t=const_na\nB2\t!\nA3\t=const_div0\nB3\t!\n"},
      {"types_openpyxl.xlsx", {"--rows", "1"}, "# xlsx\nA1\t=label\nB1\t=value\n"},
      // the far cell of the sheet, IV65536, lies past column Y: only A1
      {"sparse.xls", {"--rows", "65536"}, "# biff8\nA1\t=start\n"},
      // an attribute value that is merely unusual: an empty style, a time alone in a date cell
      {"foreign/types_openpyxl_unusual.xlsx", {"--rows", "8"},
       "# xlsx\nA1\t=label\nB1\t=value\nA2\t=text_slovene\nB2\t=\u010d\u0161\u017e\u0107\u0111 "
       "\u010c\u0160\u017d\u0106\u0110\nA3\t=int_42\nB3\t=42\nA4\t=dec_12.5\nB4\t=12,5\n"
       "A5\t=f_num =B3*2\nB5\t!\nA6\t=f_text\nB6\t!\nA7\t=f_err =NA()\nB7\t!\nA8\t=date\nB8\t=10:10:10\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> arguments = {"--cells"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    arguments.push_back((kWorkbooks / c.fixture).string());
    const ProcessResult run = RunBatch(arguments, dir_);
    EXPECT_EQ(run.status, 0) << c.fixture << run.err;
    EXPECT_EQ(run.out, c.out) << c.fixture;
  }
}

// A chart, macro or dialog sheet saved active opens, but no cell of it can be
// read: --cells lists every cell as a read failure, and a transfer ends at the
// date read with that failure.
TEST_F(BatchTest, AnActiveSheetThatIsNoWorksheetFailsEveryRead) {
  std::string failures;
  for (int row = 1; row <= 2; ++row) {
    for (const char column : std::string("ABCDEFGHIJKLMNOPQRSTUVWXY")) {
      failures += column + std::to_string(row) + "\t!\n";
    }
  }
  const std::vector<std::pair<std::string, std::string>> fixtures = {
      {"foreign/types_chart_active.xls", "biff8"},
      {"foreign/types_macro_active.xls", "biff8"},
      {"foreign/types_dialog_active.xls", "biff8"},
      {"foreign/chartsheet_active_openpyxl.xlsx", "xlsx"},
  };
  for (const auto& [fixture, format] : fixtures) {
    SCOPED_TRACE(fixture);
    ProcessResult run = RunBatch({"--cells", "--rows", "2", (kWorkbooks / fixture).string()}, dir_);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "# " + format + "\n" + failures);

    const fs::path workbook = Workbook(fixture, "graf" + fs::path(fixture).extension().string());
    run = RunBatch({"--conf", defaultConf_, workbook.string()}, dir_);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.err, "Celice v vrstici 2, stolpcu 1 ni mogo\u010de prebrati\n");
    fs::remove(workbook);
    fs::path output = workbook;
    fs::remove(output.replace_extension("ztr"));
  }
}

TEST_F(BatchTest, CellsOfAWorkbookThatCannotBeOpened) {
  const std::vector<std::pair<fs::path, std::string>> cases = {
      {dir_ / "ni.xls", "not readable"},
      {dir_, "not readable"},
      {kWorkbooks / "bad/gzip.xls", "not a workbook"},
      {kWorkbooks / "types_pw.xls", "encrypted"},
  };
  for (const auto& [path, reason] : cases) {
    const ProcessResult run = RunBatch({"--cells", path.string()}, dir_);
    EXPECT_EQ(run.status, 2) << path;
    EXPECT_EQ(run.out, "# cannot be opened: " + reason + "\n") << path;
  }
}

TEST_F(BatchTest, CellsCommandLineErrors) {
  const std::string book = (kWorkbooks / "data3000.xls").string();
  const std::vector<std::vector<std::string>> cases = {
      {"--cells"},
      {"--rows", "5", book},
      {"--cells", "--rows", "0", book},
      {"--cells", "--rows", "1048577", book},
      {"--cells", "--rows", "-1", book},
      {"--cells", "--rows", "12x", book},
      {"--cells", "--rows=", book},
      {"--cells", "--rows"},
      {"--cells", "--conf", defaultConf_, book},
      {"--cells", "--profile", "X", book},
      {"--cells", book, book},
  };
  for (const auto& arguments : cases) {
    const ProcessResult run = RunBatch(arguments, dir_);
    EXPECT_EQ(run.status, 64) << testing::PrintToString(arguments);
    EXPECT_EQ(run.out, "") << testing::PrintToString(arguments);
  }
}

TEST(CellListing, TextsAreEscapedToStayOnTheirLine) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"plain 1,5", "plain 1,5"},
      {"a\\b", "a\\\\b"},
      {"\t\r\n", "\\t\\r\\n"},
      {std::string("\x00\x01\x1B\x1F", 4), "\\x00\\x01\\x1B\\x1F"},
      {" \x7F~", " \x7F~"},
      {"\xE8\x9A\x9E \x80", "\u010d\u0161\u017e \u20ac"},  // Windows-1250 to UTF-8
      {"\\x41", "\\\\x41"},
  };
  for (const auto& [cp1250, shown] : cases) {
    EXPECT_EQ(ratemover::batch::EscapedCellText(cp1250), shown) << testing::PrintToString(cp1250);
  }
}

}  // namespace
