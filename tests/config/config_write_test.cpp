// Writing the configuration file: its exact text, the selection across deleted
// entries, round trips, and a failed write that must keep the old file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <stdexcept>
#include <string>

#include "common/tecajnica.h"
#include "config/config_file.h"
#include "config_test_support.h"

namespace ratemover {
namespace {

using testing::Exists;
using testing::ReadInto;
using testing::ReadStream;
using testing::Shown;
using testing::Line;
using testing::Listing;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

Tecajnica Entry(std::string name, std::int32_t startRow, std::string datum, std::string simbol, std::string tecaj,
                std::string indeks) {
  return Tecajnica{std::move(name), startRow, std::move(datum), std::move(simbol), std::move(tecaj),
                   std::move(indeks)};
}

ProfileState StateWith(const std::vector<Tecajnica>& entries, std::int32_t selected) {
  ProfileState state;
  for (const auto& e : entries) state.table.Slot(++state.table.count) = e;
  state.table.selected = selected;
  return state;
}

TEST(ConfigWrite, NoFileThenWriteGivesThreeLinesThenTheDefaultProfile) {
  TempDir dir;
  const std::string conf = dir.File("Ratemover.CONF");
  ProfileState state;
  Shown fields;
  ReadInto(state, fields, conf, dir.path());
  PisiIniDatoteko(state, fields.workbook, conf);
  EXPECT_EQ(ReadBytes(conf), Line("[EXCEL_FORMAT]") + Line("  DATOTEKA=" + dir.path() + "Ratemover.xls") +
                                 Line("  IZBRANA_TECAJNICA=0"));

  ProfileState again;
  Shown fieldsAgain;
  ReadInto(again, fieldsAgain, conf, dir.path());
  EXPECT_EQ(again.current, DefaultProfile());
  EXPECT_EQ(fieldsAgain.label, "TESTNA TE\xC8" "AJNICA");
  EXPECT_EQ(again.table.selected, 0);
}

TEST(ConfigWrite, ExactText) {
  const auto state = StateWith({Entry("  PRVA", 2, "A", "B", "D", ""), Entry("", 9, "X", "X", "X", "X"),
                                Entry("Te\xE8" "aj", -3, "c", "dd", "E", "F")},
                               3);
  EXPECT_EQ(ConfigFileText(state.table, "C:\\pot\\d.xls"),
            "[EXCEL_FORMAT]\r\n"
            "  DATOTEKA=C:\\pot\\d.xls\r\n"
            "  IZBRANA_TECAJNICA=2\r\n"
            "  TECAJNICA=  PRVA\r\n"
            "    START_VRSTICA=2\r\n"
            "    DATUM=A\r\n"
            "    SIMBOL=B\r\n"
            "    TECAJ=D\r\n"
            "    INDEKS=\r\n"
            "  TECAJNICA=Te\xE8" "aj\r\n"
            "    START_VRSTICA=-3\r\n"
            "    DATUM=c\r\n"
            "    SIMBOL=dd\r\n"
            "    TECAJ=E\r\n"
            "    INDEKS=F\r\n");
}

// The reader numbers only the entries in the file, so the writer stores the
// selected entry's position among them.
TEST(ConfigWrite, SelectionAcrossDeletedEntries) {
  struct Case {
    const char* what;
    std::vector<std::string> names;
    std::int32_t selected;
    std::int32_t written;
    std::string currentAfterReading;
  };
  const std::string fallback = DefaultProfile().name;
  const Case cases[] = {
      {"no deletions", {"A", "B", "C"}, 2, 2, "B"},
      {"a deleted entry before the selected one", {"A", "", "C"}, 3, 2, "C"},
      {"two deleted before", {"", " \t", "C", "D"}, 4, 2, "D"},
      {"a deleted entry after the selected one", {"A", "B", ""}, 1, 1, "A"},
      {"the selected entry itself deleted", {"A", "", "C"}, 2, 0, fallback},
      {"0 names no entry", {"A", "B"}, 0, 0, fallback},
      {"5 of 3 is written back unchanged", {"A", "B", "C"}, 5, 5, fallback},
      {"beyond the count with deletions stays beyond", {"A", "", "C"}, 4, 4, fallback},
      {"negative", {"A"}, -2, -2, fallback},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Tecajnica> entries;
    for (const auto& name : c.names) entries.push_back(Entry(name, 2, "A", "B", "D", ""));
    const auto state = StateWith(entries, c.selected);
    EXPECT_EQ(SelectedIndexToWrite(state.table), c.written);

    TempDir dir;
    PisiIniDatoteko(state, "w.xls", dir.File("Ratemover.CONF"));
    ProfileState read;
    Shown fields;
    ReadInto(read, fields, dir.File("Ratemover.CONF"), dir.path());
    EXPECT_EQ(read.table.selected, c.written);
    EXPECT_EQ(read.current.name, c.currentAfterReading);
  }
}

TEST(ConfigWrite, RoundTripKeepsEntriesSelectionAndPath) {
  const std::vector<Tecajnica> entries = {
      Entry("LJUBLJANSKA BORZA", 2, "A", "B", "D", ""), Entry("  z \xE8" "rkami \x8A\x9E", 12, "C", "E", "G", "H"),
      Entry("ISTA", -1, "Y", "X", "W", "V"),           Entry("ISTA", 2147483647, "AB", "", "", "Q"),
  };
  const std::string path = "/home/operater/Te\u010Daji 2026/dan 1.xls";
  for (std::int32_t selected = 1; selected <= 4; ++selected) {
    SCOPED_TRACE(selected);
    TempDir dir;
    PisiIniDatoteko(StateWith(entries, selected), path, dir.File("Ratemover.CONF"));
    // the file holds the path as Windows-1250 text
    EXPECT_NE(ReadBytes(dir.File("Ratemover.CONF")).find("  DATOTEKA=/home/operater/Te\xE8" "aji 2026/dan 1.xls\r\n"),
              std::string::npos);
    ProfileState read;
    Shown fields;
    ReadInto(read, fields, dir.File("Ratemover.CONF"), dir.path());
    ASSERT_EQ(read.table.count, 4);
    for (int n = 1; n <= 4; ++n) EXPECT_EQ(read.table.Slot(n), entries[static_cast<std::size_t>(n - 1)]);
    EXPECT_EQ(read.table.selected, selected);
    EXPECT_EQ(read.current, entries[static_cast<std::size_t>(selected - 1)]);
    EXPECT_EQ(fields.workbook, path);
  }
}

TEST(ConfigWrite, LowerCaseLettersAreUpperCasedByTheNextRead) {
  TempDir dir;
  PisiIniDatoteko(StateWith({Entry("X", 2, "a", "b", "d", "e")}, 1), "w", dir.File("Ratemover.CONF"));
  EXPECT_NE(ReadBytes(dir.File("Ratemover.CONF")).find("    DATUM=a\r\n"), std::string::npos);
  ProfileState read;
  Shown fields;
  ReadInto(read, fields, dir.File("Ratemover.CONF"), dir.path());
  EXPECT_EQ(read.current, Entry("X", 2, "A", "B", "D", "E"));
}

TEST(ConfigWrite, ALineBreakInsideAValueCannotForgeLines) {
  const auto state = StateWith({Entry("A\r\n  TECAJNICA=VSILJENA", 2, "A\nSIMBOL=Q", "B", "D", "")}, 1);
  TempDir dir;
  PisiIniDatoteko(state, "knjiga.xls\rIZBRANA_TECAJNICA=7", dir.File("Ratemover.CONF"));
  ProfileState read;
  Shown fields;
  ReadInto(read, fields, dir.File("Ratemover.CONF"), dir.path());
  EXPECT_EQ(read.table.count, 1);
  EXPECT_EQ(read.table.selected, 1);
  EXPECT_EQ(read.table.Slot(1), Entry("A", 2, "A", "B", "D", ""));
  EXPECT_EQ(fields.workbook, "knjiga.xls");
}

TEST(ConfigWrite, ReplacesALongerOldFileWhole) {
  TempDir dir;
  const std::string conf = dir.File("Ratemover.CONF");
  WriteBytes(conf, std::string(100000, 'x'));
  PisiIniDatoteko(StateWith({}, 0), "w", conf);
  EXPECT_EQ(ReadBytes(conf), Line("[EXCEL_FORMAT]") + Line("  DATOTEKA=w") + Line("  IZBRANA_TECAJNICA=0"));
  EXPECT_EQ(Listing(dir.path()), "Ratemover.CONF\n");
}

TEST(ConfigWrite, KeepsPermissionsAndSymbolicLinks) {
  TempDir dir;
  const std::string real = dir.File("real.conf");
  const std::string link = dir.File("Ratemover.CONF");
  WriteBytes(real, "old");
  ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
  ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
  PisiIniDatoteko(StateWith({}, 0), "w", link);

  struct stat info {};
  ASSERT_EQ(::lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  ASSERT_EQ(::stat(real.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadBytes(real).substr(0, 16), "[EXCEL_FORMAT]\r\n");
}

const std::string kOldContent = Line("[EXCEL_FORMAT]") + Line("  DATOTEKA=stara.xls") + Line("  IZBRANA_TECAJNICA=1") +
                                Line("  TECAJNICA=DRAGOCENA");

ProfileState BigState() {
  std::vector<Tecajnica> entries;
  for (int n = 1; n <= 500; ++n) entries.push_back(Entry("PROFIL " + std::to_string(n), n, "A", "B", "D", "E"));
  return StateWith(entries, 1);
}

void ExpectWriteErrorText(const std::runtime_error& error, const std::string& conf) {
  const std::string text = error.what();
  const std::string start = "Napaka pri pisanju datoteke " + conf;
  EXPECT_EQ(text.substr(0, start.size()), start) << text;
}

TEST(ConfigWrite, AFailedWriteKeepsTheOldFileWhole) {
  TempDir dir;
  const std::string conf = dir.File("Ratemover.CONF");
  WriteBytes(conf, kOldContent);

  // A file-size limit smaller than the new text fails the write midway, as a
  // full disk would.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  bool thrown = false;
  try {
    PisiIniDatoteko(BigState(), "nova.xls", conf);
  } catch (const std::runtime_error& error) {
    thrown = true;
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ExpectWriteErrorText(error, conf);
    EXPECT_NE(std::string(error.what()).find("prevelika"), std::string::npos) << error.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);
  EXPECT_TRUE(thrown);
  EXPECT_EQ(ReadBytes(conf), kOldContent);
  EXPECT_EQ(Listing(dir.path()), "Ratemover.CONF\n");  // no temporary file left
}

TEST(ConfigWrite, AFileThatCannotBeCreatedIsReported) {
  TempDir dir;
  const std::string conf = dir.File("manjka/Ratemover.CONF");
  try {
    PisiIniDatoteko(BigState(), "w", conf);
    FAIL() << "no error";
  } catch (const std::runtime_error& error) {
    ExpectWriteErrorText(error, conf);
  }
  EXPECT_EQ(Listing(dir.path()), "");
}

TEST(ConfigWrite, AFailedReplaceRemovesTheTemporaryFile) {
  TempDir dir;
  const std::string conf = dir.File("Ratemover.CONF");
  ASSERT_EQ(::mkdir(conf.c_str(), 0755), 0);
  WriteBytes(conf + "/inside", "x");  // a folder that is not empty cannot be replaced
  EXPECT_THROW(PisiIniDatoteko(BigState(), "w", conf), std::runtime_error);
  EXPECT_EQ(Listing(dir.path()), "Ratemover.CONF\n");
  EXPECT_EQ(ReadBytes(conf + "/inside"), "x");
}

TEST(ConfigWrite, AFolderWithoutWritePermissionKeepsTheOldFile) {
  TempDir dir;
  const std::string conf = dir.File("Ratemover.CONF");
  WriteBytes(conf, kOldContent);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
  if (::geteuid() != 0) {
    EXPECT_THROW(PisiIniDatoteko(BigState(), "w", conf), std::runtime_error);
  } else {
    // Permissions do not bind the superuser: the write is tried by a child
    // process that has become an ordinary user.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
      try {
        PisiIniDatoteko(BigState(), "w", conf);
      } catch (const std::runtime_error&) {
        ::_exit(0);
      }
      ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: no error thrown, 2: could not drop privileges";
  }
  ::chmod(dir.path().c_str(), 0755);
  EXPECT_EQ(ReadBytes(conf), kOldContent);
  EXPECT_EQ(Listing(dir.path()), "Ratemover.CONF\n");
}

}  // namespace
}  // namespace ratemover

namespace ratemover {
namespace {

using testing::Listing;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// Runs `write` in a child process, as the ordinary user 65534 when this process
// is the superuser (whom permissions do not bind). The child's exit status: 0
// when `write` returned, 1 when it threw, 2 when privileges could not be dropped.
int StatusOfWriteAsOrdinaryUser(void (*write)(const std::string& conf), const std::string& conf) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    try {
      write(conf);
    } catch (const std::runtime_error&) {
      ::_exit(1);
    }
    ::_exit(0);
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

ProfileState OneProfile() {
  ProfileState state;
  state.table.Slot(++state.table.count) = Tecajnica{"NOVA", 2, "A", "B", "D", ""};
  state.table.selected = 1;
  return state;
}

const std::string kOld = "[EXCEL_FORMAT]\r\n  DATOTEKA=stara.xls\r\n  IZBRANA_TECAJNICA=0\r\n";

// A writable configuration in a folder the operator cannot write, as a common
// install has it, is rewritten in place; when that fails, it keeps its old bytes.
TEST(ConfigWriteInPlace, AWritableFileInAReadOnlyFolder) {
  const struct {
    const char* name;
    void (*write)(const std::string& conf);
    int status;
    bool becomesNew;
  } cases[] = {
      {"written in place", [](const std::string& conf) { PisiIniDatoteko(OneProfile(), "nova.xls", conf); }, 0, true},
      {"a failed write restores the old bytes",
       [](const std::string& conf) {
         std::signal(SIGXFSZ, SIG_IGN);
         const rlimit limit{static_cast<rlim_t>(kOld.size() + 10), static_cast<rlim_t>(kOld.size() + 10)};
         if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(3);
         PisiIniDatoteko(OneProfile(), "nova.xls", conf);
       },
       1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string conf = dir.File("Ratemover.CONF");
    WriteBytes(conf, kOld);
    ASSERT_EQ(::chmod(conf.c_str(), 0666), 0);
    struct stat before {};
    ASSERT_EQ(::stat(conf.c_str(), &before), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
    EXPECT_EQ(StatusOfWriteAsOrdinaryUser(c.write, conf), c.status);
    ::chmod(dir.path().c_str(), 0755);
    struct stat after {};
    ASSERT_EQ(::stat(conf.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(ReadBytes(conf), c.becomesNew ? ConfigFileText(OneProfile().table, "nova.xls") : kOld);
    EXPECT_EQ(Listing(dir.path()), "Ratemover.CONF\n");
  }
}

// A write in place killed at any of its steps leaves the old file or the new
// one: never the new lines followed by the old file's last lines, which the
// reader would take for keys of the last profile.
TEST(ConfigWriteInPlace, AKilledWriteLeavesTheOldOrTheNewFile) {
  ProfileState many;
  for (const char* name : {"PRVA", "DRUGA", "TRETJA", "CETRTA"}) {
    many.table.Slot(++many.table.count) = Tecajnica{name, 3, "C", "E", "F", "G"};
  }
  many.table.selected = 4;
  const struct {
    const char* name;
    std::string old;
    SeznamTecajnic oldTable;
    ProfileState next;
  } cases[] = {
      {"the new text is shorter", ConfigFileText(many.table, "stara.xls"), many.table, OneProfile()},
      {"the new text is longer", kOld, SeznamTecajnic{}, many},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string next = ConfigFileText(c.next.table, "nova.xls");
    bool finished = false;
    for (int step = 1; step <= 20 && !finished; ++step) {
      SCOPED_TRACE("killed at step " + std::to_string(step));
      TempDir dir;
      const std::string conf = dir.File("Ratemover.CONF");
      WriteBytes(conf, c.old);
      ASSERT_EQ(::chmod(conf.c_str(), 0666), 0);
      ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
      const pid_t child = ::fork();
      if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
        testing::KillAtWriteStep(step);
        try {
          PisiIniDatoteko(c.next, "nova.xls", conf);
        } catch (...) {
          ::_exit(1);
        }
        ::_exit(0);
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      ::chmod(dir.path().c_str(), 0755);
      finished = WIFEXITED(status);
      if (finished) {
        EXPECT_EQ(WEXITSTATUS(status), 0);
      } else {
        EXPECT_EQ(WTERMSIG(status), SIGKILL);
      }
      // what the file holds reads as the old file or the new one, whole
      const std::string left = ReadBytes(conf);
      const bool isOld = left == c.old;
      const bool isNew = left.starts_with(next) &&
                         left.find_first_not_of(' ', next.size()) == std::string::npos;
      EXPECT_TRUE(isOld || isNew) << left;
      ProfileState read;
      Shown shown;
      ReadInto(read, shown, conf, dir.path());
      const SeznamTecajnic& expected = isOld ? c.oldTable : c.next.table;
      EXPECT_EQ(shown.workbook, isOld ? "stara.xls" : "nova.xls");
      ASSERT_EQ(read.table.count, expected.count);
      for (std::int32_t n = 1; n <= expected.count; ++n) EXPECT_EQ(read.table.Slot(n), expected.Slot(n));
      if (finished) {
        EXPECT_EQ(left, next);
      }
      EXPECT_EQ(Listing(dir.path()), "Ratemover.CONF\n");
    }
    EXPECT_TRUE(finished) << "the write never ended within 20 steps";
  }
}

// Only a regular file that may be written is replaced; the superuser too leaves
// a read-only file alone, and nothing waits on a pipe.
TEST(ConfigWrite, WhatCannotBeReplacedIsReportedAndLeftAlone) {
  const struct {
    const char* name;
    void (*make)(const std::string& conf);
    const char* reason;
  } cases[] = {
      {"read-only file",
       [](const std::string& conf) {
         WriteBytes(conf, kOld);
         ::chmod(conf.c_str(), 0444);
       },
       "dostop ni dovoljen"},
      {"pipe", [](const std::string& conf) { ::mkfifo(conf.c_str(), 0666); }, "ni navadna datoteka"},
      {"folder", [](const std::string& conf) { ::mkdir(conf.c_str(), 0755); }, "na tem mestu je mapa"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string conf = dir.File("Ratemover.CONF");
    c.make(conf);
    ::alarm(300);  // a write that waits on the pipe ends the test program instead of hanging it
    try {
      PisiIniDatoteko(OneProfile(), "nova.xls", conf);
      ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find(c.reason), std::string::npos) << error.what();
    }
    ::alarm(0);
    EXPECT_EQ(Listing(dir.path()), "Ratemover.CONF\n");
    struct stat info {};
    ASSERT_EQ(::lstat(conf.c_str(), &info), 0);
    if (S_ISREG(info.st_mode)) {
      EXPECT_EQ(ReadBytes(conf), kOld);
    }
  }
}

pid_t DeadProcess() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  return child;
}

// A write killed between the temporary file and the rename may leave the
// temporary file; the next write removes those of processes that are gone, and
// only those.
TEST(ConfigWrite, StaleTemporaryFilesOfDeadProcessesAreRemoved) {
  TempDir dir;
  const std::string conf = dir.File("Ratemover.CONF");
  const std::string dead = std::to_string(DeadProcess());
  const struct {
    std::string name;
    bool kept;
  } files[] = {
      {"Ratemover.CONF.tmp-" + dead + "-0", false},
      {"Ratemover.CONF.tmp-" + dead + "-17", false},
      {"Ratemover.CONF.tmp-1-0", true},  // the init process lives
      {"Ratemover.CONF.tmp-" + dead, true},
      {"Ratemover.CONF.tmp-" + dead + "-x", true},
      {"Drugo.CONF.tmp-" + dead + "-0", true},
      {"Ratemover.CONF", true},
  };
  for (const auto& f : files) WriteBytes(dir.File(f.name), "x");
  PisiIniDatoteko(OneProfile(), "nova.xls", conf);
  std::string expected;
  std::vector<std::string> names;
  for (const auto& f : files) {
    if (f.kept) names.push_back(f.name);
  }
  std::sort(names.begin(), names.end());
  for (const auto& n : names) expected += n + "\n";
  EXPECT_EQ(Listing(dir.path()), expected);
}

// Killed at any moment, a write leaves the old file or the new one, whole, and
// after the next write nothing else.
TEST(ConfigWrite, AKilledWriteLeavesTheOldOrTheNewFileAndNothingBeside) {
  TempDir dir;
  const std::string conf = dir.File("Ratemover.CONF");
  WriteBytes(conf, kOld);
  const std::string fresh = ConfigFileText(OneProfile().table, "nova.xls");
  int leftBehind = 0;
  for (int kill = 0; kill < 40; ++kill) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (;;) PisiIniDatoteko(OneProfile(), "nova.xls", conf);
    }
    ::usleep(static_cast<useconds_t>(500 + (kill * 997) % 5000));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    const std::string content = ReadBytes(conf);
    EXPECT_TRUE(content == kOld || content == fresh) << content.size();
    if (Listing(dir.path()) != "Ratemover.CONF\n") ++leftBehind;
  }
  PisiIniDatoteko(OneProfile(), "nova.xls", conf);
  EXPECT_EQ(Listing(dir.path()), "Ratemover.CONF\n");
  RecordProperty("kills_leaving_a_temporary_file", leftBehind);
}

}  // namespace
}  // namespace ratemover

namespace ratemover {
namespace {

// What a save and a restart make of a workbook path: the file holds it as
// Windows-1250 text, and the path read back is the same exactly when the
// configuration says it keeps it.
TEST(ConfigWrite, AWorkbookPathThroughASaveAndARestart) {
  struct Case {
    const char* what;
    std::string path;
    std::string inFile;  // the value of the "DATOTEKA=" line
    bool kept;
  };
  const Case cases[] = {
      {"\u010D \u0161 \u017E", "/d/te\u010Daji_\u0161\u017E.xls", "/d/te\xE8" "aji_\x9A\x9E.xls", true},
      {"\u00F1", "/d/cenik_\u00F1.xls", "/d/cenik_?.xls", false},
      {"Cyrillic", "/d/\u043A\u0443\u0440\u0441.xls", "/d/????.xls", false},
      {"an emoji", "/d/\U0001F4C8.xls", "/d/?.xls", false},
      {"not UTF-8", "/d/cenik_\xF1.xls", "/d/cenik_?.xls", false},
      {"a literal question mark", "/d/kaj?.xls", "/d/kaj?.xls", true},
      {"blanks at the end", "/d/x.xls  ", "/d/x.xls  ", false},
      {"blanks at the start", "  /d/x.xls", "  /d/x.xls", true},
      {"a line break", "/d/a\rb.xls", "/d/a", false},
      {"300 characters", "/" + std::string(299, 'p'), "/" + std::string(299, 'p'), true},
      {"301 characters", "/" + std::string(300, 'p'), "/" + std::string(300, 'p'), false},
      {"empty", "", "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ConfigKeepsPath(c.path), c.kept);
    TempDir dir;
    const std::string conf = dir.File("Ratemover.CONF");
    PisiIniDatoteko(ProfileState{}, c.path, conf);
    EXPECT_EQ(ReadBytes(conf), Line("[EXCEL_FORMAT]") + Line("  DATOTEKA=" + c.inFile) + Line("  IZBRANA_TECAJNICA=0"));
    const ConfigReading reading = BeriIniDatoteko(conf, dir.path());
    EXPECT_EQ(reading.workbookPath == c.path, c.kept) << reading.workbookPath;
  }
}

TEST(ConfigWrite, TheOperatorIsToldWhichPathCannotBeKept) {
  const OperatorMessage message = UnkeptPathMessage("/d/cenik_\u00F1.xls");
  EXPECT_EQ(message.PlainText(),
            "Poti do datoteke ni mogo\xE8" "e shraniti v Ratemover.CONF:\r/d/cenik_?.xls\r"
            "Ob naslednjem zagonu bo treba datoteko izbrati znova.");
  ASSERT_EQ(message.Pieces().size(), 3u);
  EXPECT_EQ(message.Pieces()[1].bytes, "/d/cenik_\u00F1.xls");
  EXPECT_TRUE(message.Pieces()[1].isName);
}

}  // namespace
}  // namespace ratemover

namespace ratemover {
namespace {

using testing::TempDir;
using testing::WriteBytes;

// The message of a failed write, as the ordinary user 65534 in no group but
// its own (65534) gets it; "" when the write succeeded, "?" when the child
// could not become that user.
std::string WriteFailureAsOutsider(const std::string& conf) {
  int out[2];
  if (::pipe(out) != 0) return "?";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(out[0]);
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    std::string text;
    try {
      ProfileState state;
      state.table.Slot(++state.table.count) = Tecajnica{"NOVA", 2, "A", "B", "D", ""};
      PisiIniDatoteko(state, "nova.xls", conf);
    } catch (const NamedFailure& failure) {
      text = failure.Message().PlainText();
    }
    const bool written = ::write(out[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::_exit(written ? 0 : 3);
  }
  ::close(out[1]);
  std::string text;
  char buffer[512];
  for (ssize_t got; (got = ::read(out[0], buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(out[0]);
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return "?";
  return text;
}

// The settings' folder is shared through a group (group-writable, setgid): an
// operator outside that group is refused and told how to get in; any other
// refusal says no more than before.
TEST(ConfigWrite, AnOperatorOutsideTheSharingGroupIsToldHowToGetIn) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs the superuser to give a folder to a group and act as an outsider";
  const std::string refused = ": dostop ni dovoljen";
  const std::string hint =
      "\rNastavitve si delijo operaterji v skupini root. Da jih lahko shranite, vas mora skrbnik dodati v to "
      "skupino; nato se znova prijavite.";
  const struct {
    const char* name;
    mode_t folderMode;
    gid_t folderGroup;
    int fileMode;  // -1: no settings file yet
    bool told;
  } cases[] = {
      {"outside the group", 02775, 0, 0664, true},
      {"outside the group, no settings file yet", 02775, 0, -1, true},
      {"a folder that is not setgid", 0775, 0, 0664, false},
      {"a setgid folder the group may not write", 02755, 0, 0664, false},
      {"in the group, a read-only file", 02775, 65534, 0444, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string conf = dir.File("Ratemover.CONF");
    if (c.fileMode >= 0) {
      WriteBytes(conf, "[EXCEL_FORMAT]\r\n");
      ASSERT_EQ(::chmod(conf.c_str(), static_cast<mode_t>(c.fileMode)), 0);
    }
    ASSERT_EQ(::chown(dir.path().c_str(), 0, c.folderGroup), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), c.folderMode), 0);
    const std::string message = WriteFailureAsOutsider(conf);
    ::chmod(dir.path().c_str(), 0755);
    ASSERT_NE(message, "?");
    const std::string expected = "Napaka pri pisanju datoteke " + conf + refused + (c.told ? hint : "");
    EXPECT_EQ(message, expected);
  }
}

}  // namespace
}  // namespace ratemover
