// Column letters, the default profile, the program folder and file-system names.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/program_dir.h"
#include "common/tecajnica.h"

namespace ratemover {
namespace {

TEST(Tecajnica, ColumnNumberOf) {
  struct Case {
    std::string text;
    int column;
  };
  const Case cases[] = {
      {"A", 1},  {"a", 1},  {"B", 2},   {"D", 4},   {"Y", 25},  {"y", 25}, {"Z", 0},
      {"z", 0},  {"", 0},   {"AB", 1},  {"Ya", 25}, {" A", 0},  {"1", 0},  {"@", 0},
      {"[", 0},  {"`", 0},  {"{", 0},   {"\xC8", 0}, {"\xE8", 0}, {std::string(1, '\0'), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ColumnNumberOf(c.text), c.column);
  }
  for (int i = 0; i < 25; ++i) EXPECT_EQ(ColumnNumberOf(std::string(1, static_cast<char>('A' + i))), i + 1);
}

TEST(Tecajnica, DefaultProfileAndStartValues) {
  const Tecajnica profile = DefaultProfile();
  EXPECT_EQ(profile.name, "TESTNA TE\xC8" "AJNICA");
  EXPECT_EQ(profile.startRow, 2);
  EXPECT_EQ(profile.date, "A");
  EXPECT_EQ(profile.symbol, "B");
  EXPECT_EQ(profile.price, "D");
  EXPECT_EQ(profile.index, "");

  const Tecajnica start = ProfileAtProgramStart();
  EXPECT_EQ(start, (Tecajnica{"", 2, "", "", "", ""}));
}

TEST(ProgramDir, IsTheFolderOfThisProgram) {
  const std::string dir = ProgramDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  const auto self = std::filesystem::canonical("/proc/self/exe");
  EXPECT_EQ(std::filesystem::path(dir), self.parent_path().string() + "/");
}

// A file name is the file system's bytes: every kind of name names its own
// file, and only what Windows-1250 holds survives as its text.
TEST(ProgramDir, PathsKeepTheFileSystemsBytes) {
  struct Case {
    const char* what;
    std::string name;      // as the file system has it
    std::string text;      // as Windows-1250 text
    bool textHoldsIt;
    std::string readable;  // as a person reads it
  };
  const Case cases[] = {
      {"plain", "cene.xls", "cene.xls", true, "cene.xls"},
      {"\u010D \u0161 \u017E", "te\u010Daji_\u0161\u017E.xls", "te\xE8" "aji_\x9A\x9E.xls", true,
       "te\u010Daji_\u0161\u017E.xls"},
      {"\u00F1", "cenik_\u00F1.xls", "cenik_?.xls", false, "cenik_\u00F1.xls"},
      {"Cyrillic", "\u0446\u0435\u043D\u044B.xls", "????.xls", false, "\u0446\u0435\u043D\u044B.xls"},
      {"Greek", "\u03C4\u03B9\u03BC\u03AD\u03C2.xls", "?????.xls", false, "\u03C4\u03B9\u03BC\u03AD\u03C2.xls"},
      {"an emoji", "cene_\U0001F4C8.xls", "cene_?.xls", false, "cene_\U0001F4C8.xls"},
      {"not UTF-8", "cenik_\xF1.xls", "cenik_?.xls", false, "cenik_\\xF1.xls"},
      {"a cut sequence", "a\xC4", "a?", false, "a\\xC4"},
  };
  std::string pattern = (std::filesystem::temp_directory_path() / "ratemover-common-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const std::string folder = pattern + "/";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = folder + c.name;
    EXPECT_FALSE(IsExistingFile(path));
    std::ofstream(path) << "x";
    EXPECT_TRUE(IsExistingFile(path));
    EXPECT_EQ(TextOfPath(c.name), c.text);
    EXPECT_EQ(TextHoldsPath(path), c.textHoldsIt);
    EXPECT_EQ(ReadablePath(c.name), c.readable);
    // the text names the same file exactly when it holds the path
    EXPECT_EQ(IsExistingFile(PathFromText(TextOfPath(path))), c.textHoldsIt);
  }
  EXPECT_EQ(PathFromText("/tmp/te\xE8" "aji.xls"), "/tmp/te\u010Daji.xls");
  EXPECT_FALSE(IsExistingFile(folder + "manjka.xls"));
  EXPECT_FALSE(IsExistingFile(folder));  // a folder is no file
  EXPECT_FALSE(IsExistingFile(""));
  // a NUL would cut the name to that of another file
  EXPECT_FALSE(IsExistingFile(folder + "cene.xls" + std::string(1, '\0') + "x"));
  std::filesystem::remove_all(pattern);
}

// What the operator reads of a path and what a typed readable form names.
TEST(ProgramDir, ReadablePathsNameOnePathEach) {
  struct Case {
    const char* what;
    std::string path;
    std::string readable;
  };
  const Case cases[] = {
      {"UTF-8", "/d/te\u010Daji.xls", "/d/te\u010Daji.xls"},
      {"not UTF-8", "/d/cenik_\xF1\xFF.xls", "/d/cenik_\\xF1\\xFF.xls"},
      {"a backslash that reads as an escape", "/d/a\\x41.xls", "/d/a\\x5Cx41.xls"},
      {"a backslash that does not", "/d/a\\b\\xG1\\x4", "/d/a\\b\\xG1\\x4"},
      {"a trailing backslash", "/d/a\\", "/d/a\\"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(ReadablePath(c.path), c.readable);
    EXPECT_EQ(PathFromReadable(c.readable), c.path);
  }
  // typed by hand: either case of hex digit, and an escape of a valid character
  EXPECT_EQ(PathFromReadable("/d/cenik_\\xf1.xls"), "/d/cenik_\xF1.xls");
  EXPECT_EQ(PathFromReadable("/d/\\xC4\\x8D.xls"), "/d/\u010D.xls");
}

}  // namespace
}  // namespace ratemover
