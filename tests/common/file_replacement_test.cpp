// Replacing a file whole, with an unnamed new file and with a named one as on
// file systems without unnamed files.
#include "common/file_replacement.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace ratemover {
namespace {

namespace fs = std::filesystem;

class FileReplacementTest : public ::testing::TestWithParam<FileReplacement::Temporary> {
 protected:
  FileReplacementTest() {
    std::string pattern = (fs::temp_directory_path() / "rm_replace_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    dir_ = pattern;
    file_ = (dir_ / "cilj.txt").string();
  }
  ~FileReplacementTest() override { fs::remove_all(dir_); }

  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  int Entries() const { return static_cast<int>(std::distance(fs::directory_iterator(dir_), {})); }

  fs::path dir_;
  std::string file_;
};

TEST_P(FileReplacementTest, CommitReplacesTheFileWhole) {
  std::ofstream(file_) << "old";
  ASSERT_EQ(::chmod(file_.c_str(), 0640), 0);
  FileReplacement replacement(file_, GetParam());
  ASSERT_EQ(replacement.Begin(), 0);
  ASSERT_TRUE(WriteAll(replacement.Descriptor(), "new content"));
  EXPECT_EQ(Read(file_), "old") << "the old file stands until the commit";
  ASSERT_EQ(replacement.Commit(), 0);
  EXPECT_EQ(Read(file_), "new content");
  EXPECT_EQ(fs::status(file_).permissions(), static_cast<fs::perms>(0640));
  EXPECT_EQ(Entries(), 1);
}

TEST_P(FileReplacementTest, ANewFileWhereNoneWas) {
  FileReplacement replacement(file_, GetParam());
  ASSERT_EQ(replacement.Begin(), 0);
  ASSERT_TRUE(WriteAll(replacement.Descriptor(), "first"));
  ASSERT_EQ(replacement.Commit(), 0);
  EXPECT_EQ(Read(file_), "first");
  EXPECT_EQ(Entries(), 1);
}

TEST_P(FileReplacementTest, AbandonedOrEmptiedVersions) {
  std::ofstream(file_) << "old";
  {
    FileReplacement abandoned(file_, GetParam());
    ASSERT_EQ(abandoned.Begin(), 0);
    ASSERT_TRUE(WriteAll(abandoned.Descriptor(), "never seen"));
  }
  EXPECT_EQ(Read(file_), "old");
  EXPECT_EQ(Entries(), 1);

  FileReplacement emptied(file_, GetParam());
  ASSERT_EQ(emptied.Begin(), 0);
  ASSERT_TRUE(WriteAll(emptied.Descriptor(), "half a list"));
  ASSERT_EQ(emptied.CommitEmpty(), 0);
  EXPECT_EQ(Read(file_), "");
  EXPECT_EQ(Entries(), 1);
}

TEST_P(FileReplacementTest, WhatCannotBeReplaced) {
  const struct {
    const char* name;
    void (*make)(const std::string& path);
    int error;
  } cases[] = {
      {"folder", [](const std::string& path) { fs::create_directory(path); }, EISDIR},
      {"pipe", [](const std::string& path) { ::mkfifo(path.c_str(), 0666); }, EINVAL},
      {"read-only",
       [](const std::string& path) {
         std::ofstream(path) << "old";
         ::chmod(path.c_str(), 0444);
       },
       EACCES},
      {"link loop", [](const std::string& path) { fs::create_symlink(path, path); }, ELOOP},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(file_);
    c.make(file_);
    FileReplacement replacement(file_, GetParam());
    EXPECT_EQ(replacement.Begin(), c.error);
    EXPECT_FALSE(replacement.FolderRefused());
    EXPECT_EQ(Entries(), 1);
  }
  FileReplacement missingFolder((dir_ / "manjka" / "x").string(), GetParam());
  EXPECT_EQ(missingFolder.Begin(), ENOENT);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FileReplacementTest,
                         ::testing::Values(FileReplacement::Temporary::UnnamedWhereOffered,
                                           FileReplacement::Temporary::Named),
                         [](const auto& info) {
                           return info.param == FileReplacement::Temporary::Named ? std::string("Named")
                                                                                  : std::string("Unnamed");
                         });

// The rate file and the configuration file tell a failed write in the same
// words; only the causes the operator can mend have any.
TEST(WriteFailureCause, NamesTheCausesTheOperatorCanMend) {
  const struct {
    int error;
    std::string_view cause;
  } cases[] = {
      {ENOSPC, "ni prostora na disku"},
      {EDQUOT, "prese\x9e" "ena kvota"},
      {EIO, "napaka pri pisanju na disk"},
      {EACCES, ""},
      {EINVAL, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(WriteFailureCause(c.error), c.cause) << c.error;
}

}  // namespace
}  // namespace ratemover
