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
  EXPECT_EQ(profile.datum, "A");
  EXPECT_EQ(profile.simbol, "B");
  EXPECT_EQ(profile.tecaj, "D");
  EXPECT_EQ(profile.indeks, "");

  const Tecajnica start = ProfileAtProgramStart();
  EXPECT_EQ(start, (Tecajnica{"", 2, "", "", "", ""}));
}

TEST(ProgramDir, IsTheFolderOfThisProgram) {
  const std::string dir = ProgramDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  const auto self = std::filesystem::canonical("/proc/self/exe");
  EXPECT_EQ(std::filesystem::path(NativePath(dir)), self.parent_path().string() + "/");
}

TEST(ProgramDir, NativePathAndIsExistingFile) {
  EXPECT_EQ(NativePath("/tmp/te\xE8" "aji.xls"), "/tmp/tečaji.xls");

  std::string pattern = (std::filesystem::temp_directory_path() / "ratemover-common-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const std::string folder = pattern + "/";
  const std::string fileName = folder + "te\xE8" "aji.xls";  // Windows-1250 text
  std::ofstream(NativePath(fileName)) << "x";

  EXPECT_TRUE(IsExistingFile(fileName));
  EXPECT_FALSE(IsExistingFile(folder + "manjka.xls"));
  EXPECT_FALSE(IsExistingFile(folder));  // a folder is no file
  EXPECT_FALSE(IsExistingFile(""));
  std::filesystem::remove_all(pattern);
}

}  // namespace
}  // namespace ratemover
