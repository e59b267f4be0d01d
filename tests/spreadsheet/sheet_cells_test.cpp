// The stored cells: whatever order the cells come in, each cell holds the last
// value stored for it, an emptied cell holds nothing, and nothing else is found.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "spreadsheet/sheet_cells.h"

namespace ratemover::spreadsheet {
namespace {

struct Step {
  std::int32_t row;
  std::int32_t column;
  const char* text;  // nullptr: the cell is emptied
};

using CellMap = std::map<std::pair<std::int32_t, std::int32_t>, std::string>;

// One step, into SheetCells and into the plain map that it is checked against.
void Apply(const Step& s, SheetCells& cells, CellMap& expected) {
  if (s.text != nullptr) {
    cells.Put(s.row, s.column, CellValue::OfText(s.text));
    expected[{s.row, s.column}] = s.text;
  } else {
    cells.Put(s.row, s.column, CellValue::Empty());
    expected.erase({s.row, s.column});
  }
}

// Replays the steps into SheetCells and into a plain map, and compares every
// cell of the area (and Size) after each step.
void CheckAgainstMap(const std::vector<Step>& steps, const std::string& what) {
  SheetCells cells;
  CellMap expected;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    Apply(steps[i], cells, expected);
    ASSERT_EQ(cells.Size(), expected.size()) << what << ", step " << i;
    for (std::int32_t r = 1; r <= 4; ++r) {
      for (std::int32_t c = 1; c <= 4; ++c) {
        const CellValue* found = cells.Find(r, c);
        const auto it = expected.find({r, c});
        if (it == expected.end()) {
          EXPECT_EQ(found, nullptr) << what << ", step " << i << ", cell " << r << "/" << c;
        } else {
          ASSERT_NE(found, nullptr) << what << ", step " << i << ", cell " << r << "/" << c;
          EXPECT_EQ(found->text, it->second) << what << ", step " << i << ", cell " << r << "/" << c;
        }
      }
    }
  }
}

TEST(SheetCells, TheLastValueOfEachCellStandsInAnyOrder) {
  const std::vector<std::pair<const char*, std::vector<Step>>> cases = {
      {"in reading order", {{1, 1, "a"}, {1, 2, "b"}, {2, 1, "c"}, {3, 4, "d"}}},
      {"a row before earlier rows", {{3, 1, "a"}, {1, 2, "b"}, {2, 2, "c"}, {1, 1, "d"}}},
      {"replaced in and out of order", {{1, 1, "a"}, {2, 2, "b"}, {1, 1, "c"}, {2, 2, "d"}, {1, 1, "e"}}},
      {"the latest cell replaced at once", {{2, 1, "a"}, {1, 1, "b"}, {1, 1, "c"}}},
      {"emptied and stored again", {{1, 1, "a"}, {1, 2, "b"}, {1, 1, nullptr}, {1, 2, nullptr}, {1, 1, "c"}}},
      {"emptied out of order", {{2, 2, "a"}, {1, 1, "b"}, {2, 2, nullptr}, {1, 1, nullptr}, {3, 3, "c"}}},
      {"emptying a cell never stored", {{1, 1, nullptr}, {2, 2, "a"}, {1, 3, nullptr}, {4, 4, nullptr}}},
      {"far cells", {{4, 4, "a"}, {1, 1, "b"}, {4, 4, "c"}, {1, 1, nullptr}}},
  };
  for (const auto& [what, steps] : cases) CheckAgainstMap(steps, what);
}

TEST(SheetCells, ManyCellsInShuffledOrderWithRepeats) {
  // Enough puts to reorder the store several times on the way.
  std::mt19937 random(7);
  std::vector<Step> steps;
  static const char* const kTexts[] = {"a", "b", "c", nullptr};
  for (int i = 0; i < 5000; ++i) {
    steps.push_back({static_cast<std::int32_t>(random() % 4 + 1), static_cast<std::int32_t>(random() % 4 + 1),
                     kTexts[random() % 4]});
  }
  SheetCells cells;
  CellMap expected;
  for (const auto& s : steps) Apply(s, cells, expected);
  // Far apart, descending: every put comes before the ones already stored.
  for (std::int32_t r = 3000; r > 10; --r) {
    cells.Put(r, 1 + r % 7, CellValue::OfText(std::to_string(r)));
    expected[{r, 1 + r % 7}] = std::to_string(r);
  }
  EXPECT_EQ(cells.Size(), expected.size());
  for (const auto& [key, text] : expected) {
    const CellValue* found = cells.Find(key.first, key.second);
    ASSERT_NE(found, nullptr) << key.first << "/" << key.second;
    EXPECT_EQ(found->text, text);
  }
  EXPECT_EQ(cells.Find(3001, 1), nullptr);
  EXPECT_EQ(cells.Find(11, 1), nullptr);
  cells.Clear();
  EXPECT_EQ(cells.Size(), 0u);
  EXPECT_EQ(cells.Find(3000, 1 + 3000 % 7), nullptr);
}

TEST(SheetCells, FindsInAnyOrderOfSearching) {
  // A sheet with gaps: rows 1 to 60, columns 1 to 12, every third cell empty.
  const auto stored = [](std::int32_t r, std::int32_t c) { return (r * 12 + c) % 3 != 0; };
  const auto text = [](std::int32_t r, std::int32_t c) { return std::to_string(r) + "/" + std::to_string(c); };
  SheetCells cells;
  for (std::int32_t r = 1; r <= 60; ++r) {
    for (std::int32_t c = 1; c <= 12; ++c) {
      if (stored(r, c)) cells.Put(r, c, CellValue::OfText(text(r, c)));
    }
  }
  using Search = std::vector<std::pair<std::int32_t, std::int32_t>>;
  const auto rowByRow = [](std::vector<std::int32_t> columns, std::int32_t step) {
    Search s;
    for (std::int32_t r = 1; r <= 61; r += step) {
      for (std::int32_t c : columns) s.push_back({r, c});
    }
    return s;
  };
  const std::vector<std::pair<const char*, Search>> cases = {
      {"a few columns, row by row", rowByRow({1, 2, 4, 5}, 1)},
      {"one far column, row by row", rowByRow({12}, 1)},
      {"columns right to left", rowByRow({9, 3, 1}, 1)},
      {"every fifth row", rowByRow({2, 11}, 5)},
      {"past the last column and before the first", rowByRow({0, 13, 1}, 1)},
      {"back and forth", {{30, 4}, {2, 2}, {30, 5}, {60, 12}, {1, 1}, {60, 11}, {59, 1}, {61, 1}, {30, 4}}},
      {"the same cell again", {{5, 5}, {5, 5}, {5, 4}, {5, 4}, {5, 5}}},
  };
  for (const auto& [what, search] : cases) {
    for (const auto& [r, c] : search) {
      const CellValue* found = cells.Find(r, c);
      if (r >= 1 && r <= 60 && c >= 1 && c <= 12 && stored(r, c)) {
        ASSERT_NE(found, nullptr) << what << ", cell " << r << "/" << c;
        EXPECT_EQ(found->text, text(r, c)) << what << ", cell " << r << "/" << c;
      } else {
        EXPECT_EQ(found, nullptr) << what << ", cell " << r << "/" << c;
      }
    }
  }
  // refilled with fewer cells after a search far down
  ASSERT_NE(cells.Find(60, 11), nullptr);
  cells.Clear();
  cells.Put(1, 1, CellValue::OfText("x"));
  cells.Put(1, 3, CellValue::OfText("y"));
  EXPECT_EQ(cells.Find(60, 11), nullptr);
  ASSERT_NE(cells.Find(1, 3), nullptr);
  EXPECT_EQ(cells.Find(1, 3)->text, "y");
  ASSERT_NE(cells.Find(1, 1), nullptr);
  EXPECT_EQ(cells.Find(1, 1)->text, "x");
  EXPECT_EQ(cells.Find(1, 2), nullptr);
}

}  // namespace
}  // namespace ratemover::spreadsheet
