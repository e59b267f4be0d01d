// The picker's own listing of a folder and its filter patterns.
#include "app/desktop/folder_listing.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

#include "app_test_support.h"

namespace ratemover::desktop {
namespace {

using testing::WriteBytes;

TEST(FolderListing, EveryNameIsListedAsTheFileSystemHasIt) {
  QTemporaryDir dir;
  const std::string folder = dir.path().toStdString();
  WriteBytes(folder + "/cene_\xE8.xls", "12345");
  WriteBytes(folder + "/te\xC4\x8D" "aji.xls", "x");
  WriteBytes(folder + "/.skrita", "x");
  ASSERT_EQ(::mkdir((folder + "/arhiv_\xFF").c_str(), 0755), 0);
  std::vector<FolderEntry> entries = ListFolder(folder);
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "arhiv_\xFF");
  EXPECT_TRUE(entries[0].isFolder);
  EXPECT_EQ(entries[1].name, "cene_\xE8.xls");
  EXPECT_FALSE(entries[1].isFolder);
  EXPECT_EQ(entries[1].size, 5);
  EXPECT_GT(entries[1].modified, 0);
  EXPECT_EQ(entries[2].name, "te\xC4\x8D" "aji.xls");
  EXPECT_TRUE(ListFolder(folder + "/ni_je").empty());
  // the toolkit cannot remove what it cannot name
  std::filesystem::remove_all(folder + "/arhiv_\xFF");
}

TEST(FolderListing, PatternsMatchBytesAndLettersInEitherCase) {
  struct Case {
    const char* name;
    const char* pattern;
    bool matches;
  } const cases[] = {
      {"cene.xls", "*.xls", true},      {"CENE.XLS", "*.xls", true},     {"cene_\xE8.xls", "*.xls", true},
      {"cene.xlsx", "*.xls", false},    {"cene.xls.bak", "*.xls", false}, {"brez", "*", true},
      {"", "*", true},                  {"a.htm", "*.htm", true},         {"xls", "*.xls", false},
      {"\xC8.txt", "\xE8.txt", false},  {"a.b.csv", "*.csv", true},       {"x.CsV", "*.csv", true},
  };
  for (const Case& c : cases) EXPECT_EQ(NameMatches(c.name, c.pattern), c.matches) << c.name << " " << c.pattern;
}

TEST(FolderListing, ParentsAndJoins) {
  EXPECT_EQ(ParentFolder("/a/b"), "/a");
  EXPECT_EQ(ParentFolder("/a/b/"), "/a");
  EXPECT_EQ(ParentFolder("/a"), "/");
  EXPECT_EQ(ParentFolder("/"), "/");
  EXPECT_EQ(JoinPath("/a", "b"), "/a/b");
  EXPECT_EQ(JoinPath("/", "b"), "/b");
}

}  // namespace
}  // namespace ratemover::desktop
