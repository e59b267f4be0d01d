// The reasons a workbook cannot be opened, in the operator's words.
#include "spreadsheet/open_failure.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/cp1250.h"

namespace ratemover::spreadsheet {
namespace {

// Each reason reads as its own Slovene sentence, in Windows-1250 inside the
// program; the English words that scripts read stay as they were.
TEST(OpenFailureWords, EachReasonIsItsOwnSloveneSentence) {
  const struct {
    OpenFailure reason;
    const char* sentence;  // UTF-8, as the operator reads it
    const char* english;
  } cases[] = {
      {OpenFailure::NotReadable, "Datoteke ni mogo\u010De prebrati.", "not readable"},
      {OpenFailure::NotAWorkbook, "Datoteka ni delovni zvezek.", "not a workbook"},
      {OpenFailure::UnknownFormat, "Delovni zvezek je v obliki, ki je program ne bere.", "unknown format"},
      {OpenFailure::Encrypted, "Delovni zvezek je \u0161ifriran z geslom.", "encrypted"},
      {OpenFailure::Damaged, "Delovni zvezek je po\u0161kodovan.", "damaged"},
      {OpenFailure::TooLarge, "Delovni zvezek je prevelik.", "too large"},
      {OpenFailure::Changed, "Datoteka se je med branjem spremenila.", "changed while it was read"},
  };
  std::set<std::string> seen;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.english);
    EXPECT_EQ(Utf8FromCp1250(OpenFailureSentence(c.reason)), c.sentence);
    // the words complete "delovnega zvezka ni mogoče odpreti: " in the batch line
    const std::string words(OpenFailureWords(c.reason));
    ASSERT_FALSE(words.empty());
    EXPECT_TRUE(words.front() >= 'a' && words.front() <= 'z') << words;
    EXPECT_NE(words.back(), '.') << words;
    EXPECT_TRUE(seen.insert(words).second) << "two reasons share their words";
    EXPECT_EQ(OpenFailureText(c.reason), c.english);
  }
}

}  // namespace
}  // namespace ratemover::spreadsheet
