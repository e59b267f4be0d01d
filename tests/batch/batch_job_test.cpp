// ratemover-batch end to end: the real program on real workbooks.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/batch/batch_options.h"

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

// Runs the program; fileSizeLimit, when not 0, caps the size of every file it writes.
ProcessResult RunBatch(const std::vector<std::string>& arguments, const fs::path& dir, rlim_t fileSizeLimit = 0) {
  const fs::path outFile = dir / "stdout.txt";
  const fs::path errFile = dir / "stderr.txt";
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int none = open("/dev/null", O_RDONLY);
    dup2(out, 1);
    dup2(err, 2);
    dup2(none, 0);
    if (fileSizeLimit != 0) {
      const rlimit limit{fileSizeLimit, fileSizeLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
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
  ProcessResult result;
  int raw = 0;
  waitpid(pid, &raw, 0);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  result.out = ReadFile(outFile);
  result.err = ReadFile(errFile);
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
    // a configuration that does not exist: the default profile A, B, D from row 2
    noConf_ = (dir_ / "none.CONF").string();
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

  fs::path dir_;
  std::string noConf_;
};

// The same price list saved by different programs in different formats gives
// the same rate file, byte for byte, as computed independently from the data.
TEST_F(BatchTest, EveryFormatGivesTheExpectedRateFile) {
  const std::string expected = ReadFile(kExpected / "data3000.ztr");
  ASSERT_FALSE(expected.empty());
  const std::vector<std::string> fixtures = {"data3000.xls", "data3000.xlsx", "data3000.ods",
                                             "data3000_biff5.xls", "data3000.xlsb"};
  for (const auto& fixture : fixtures) {
    SCOPED_TRACE(fixture);
    // the name says nothing of the format: the content decides
    const fs::path workbook = Workbook(fixture, "danes_" + std::to_string(&fixture - fixtures.data()) + ".bin");
    const ProcessResult run = RunBatch({"--conf", noConf_, workbook.string()}, dir_);
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
      {"missing workbook", {"--conf", noConf_, (dir_ / "ni.xls").string()}, 2,
       "Datoteka ne obstaja!\n" + (dir_ / "ni.xls").string()},
      {"a directory is no workbook", {"--conf", noConf_, dir_.string()}, 2, "Datoteka ne obstaja!\n"},
      {"unreadable workbook: no date", {"--conf", noConf_, workbook.string()}, 2,
       "Excel datoteka '" + workbook.string() + "' ni v pravem formatu!\nV celici A2 bi moral biti datum!\nDatum: ''"},
      {"unknown profile", {"--conf", noConf_, "--profile", "NIKJER", workbook.string()}, 64, "NIKJER"},
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

TEST_F(BatchTest, RateFileThatCannotBeCreatedIsReported) {
  const fs::path workbook = Workbook("data3000.xls", "zaklenjen.xls");
  fs::create_directory(dir_ / "zaklenjen.ztr");  // a folder where the rate file should go
  const ProcessResult run = RunBatch({"--conf", noConf_, workbook.string()}, dir_);
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("Ne morem pisati v datoteko " + (dir_ / "zaklenjen.ztr").string()), std::string::npos)
      << run.err;
}

// A disk that fills up half way through must not leave half a price list that
// ZTR would load as complete.
TEST_F(BatchTest, WriteFailureLeavesAnEmptyRateFile) {
  const fs::path workbook = Workbook("data3000.xlsx", "poln_disk.xlsx");
  const ProcessResult run = RunBatch({"--conf", noConf_, workbook.string()}, dir_, 200000);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("Napaka pri pisanju v datoteko " + (dir_ / "poln_disk.ztr").string()), std::string::npos)
      << run.err;
  EXPECT_EQ(fs::file_size(dir_ / "poln_disk.ztr"), 0u);
  EXPECT_EQ(run.out, "");
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

}  // namespace
