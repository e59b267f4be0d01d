// The stored cells: whatever order the cells come in, each cell holds the last
// value stored for it, an emptied cell holds nothing, and nothing else is found.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "spreadsheet/open_failure.h"
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
        const std::optional<CellValue> found = cells.Find(r, c);
        const auto it = expected.find({r, c});
        if (it == expected.end()) {
          EXPECT_FALSE(found.has_value()) << what << ", step " << i << ", cell " << r << "/" << c;
        } else {
          ASSERT_TRUE(found.has_value()) << what << ", step " << i << ", cell " << r << "/" << c;
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
    const std::optional<CellValue> found = cells.Find(key.first, key.second);
    ASSERT_TRUE(found.has_value()) << key.first << "/" << key.second;
    EXPECT_EQ(found->text, text);
  }
  EXPECT_FALSE(cells.Find(3001, 1).has_value());
  EXPECT_FALSE(cells.Find(11, 1).has_value());
  cells.Clear();
  EXPECT_EQ(cells.Size(), 0u);
  EXPECT_FALSE(cells.Find(3000, 1 + 3000 % 7).has_value());
}

// Every part of a value comes back as it was stored: texts of every length
// (short ones packed together, long ones apart, together more than fill many
// blocks), with numbers, styles and booleans; also after the table is moved,
// and in a moved-from table that is filled again.
TEST(SheetCells, EveryValueComesBackAsStored) {
  std::vector<CellValue> values = {CellValue::OfNumber(45356, NumberStyle::DateTime),
                                   CellValue::OfNumber(-12.5, NumberStyle::Currency),
                                   CellValue::OfBoolean(true),
                                   CellValue::OfBoolean(false),
                                   CellValue::OfError(),
                                   CellValue::OfText(""),
                                   CellValue::OfText(std::string("\0\x9A\xE8", 3))};
  for (const std::size_t length : {1u, 15u, 16u, 4000u, 16384u, 16385u, 65536u, 70000u, 200000u}) {
    values.push_back(CellValue::OfText(std::string(length, static_cast<char>('a' + length % 26))));
  }
  for (int i = 0; i < 3000; ++i) values.push_back(CellValue::OfText("price " + std::to_string(i) + std::string(i % 50, 'x')));
  const auto same = [](const CellValue& a, const CellValue& b) {
    return a.kind == b.kind && a.text == b.text && a.number == b.number && a.style == b.style && a.boolean == b.boolean;
  };
  SheetCells cells;
  for (std::size_t i = 0; i < values.size(); ++i) cells.Put(static_cast<std::int32_t>(i + 1), 2, values[i]);
  // one replaced by a long text, one long one by a short text
  cells.Put(3, 2, values[12]);
  cells.Put(13, 2, values[0]);
  auto expected = values;
  expected[2] = values[12];
  expected[12] = values[0];
  const auto check = [&](const SheetCells& table, const std::string& what) {
    ASSERT_EQ(table.Size(), expected.size()) << what;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const std::optional<CellValue> found = table.Find(static_cast<std::int32_t>(i + 1), 2);
      ASSERT_TRUE(found.has_value()) << what << ", row " << i + 1;
      EXPECT_TRUE(same(*found, expected[i])) << what << ", row " << i + 1;
    }
  };
  check(cells, "stored");
  SheetCells moved = std::move(cells);
  check(moved, "moved");
  cells.Clear();
  for (std::size_t i = 0; i < expected.size(); ++i) cells.Put(static_cast<std::int32_t>(i + 1), 2, expected[i]);
  check(cells, "filled again after the move");
  check(moved, "moved, after the other was filled again");
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
      const std::optional<CellValue> found = cells.Find(r, c);
      if (r >= 1 && r <= 60 && c >= 1 && c <= 12 && stored(r, c)) {
        ASSERT_TRUE(found.has_value()) << what << ", cell " << r << "/" << c;
        EXPECT_EQ(found->text, text(r, c)) << what << ", cell " << r << "/" << c;
      } else {
        EXPECT_FALSE(found.has_value()) << what << ", cell " << r << "/" << c;
      }
    }
  }
  // refilled with fewer cells after a search far down
  ASSERT_TRUE(cells.Find(60, 11).has_value());
  cells.Clear();
  cells.Put(1, 1, CellValue::OfText("x"));
  cells.Put(1, 3, CellValue::OfText("y"));
  EXPECT_FALSE(cells.Find(60, 11).has_value());
  ASSERT_TRUE(cells.Find(1, 3).has_value());
  EXPECT_EQ(cells.Find(1, 3)->text, "y");
  ASSERT_TRUE(cells.Find(1, 1).has_value());
  EXPECT_EQ(cells.Find(1, 1)->text, "x");
  EXPECT_FALSE(cells.Find(1, 2).has_value());
}

// The cells hold at most kMaxCells cells and kMaxTextBytes of text, whatever
// stores them: the cell beyond is refused as too large, and not stored.
TEST(SheetCells, HoldNoMoreCellsOrTextThanAPriceListHas) {
  const std::string half(kMaxTextBytes / 2, 'x');
  const auto numbers = [](SheetCells& cells, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      cells.Put(static_cast<std::int32_t>(i / 1000 + 1), static_cast<std::int32_t>(i % 1000 + 1),
                CellValue::OfNumber(1));
    }
  };
  struct BoundCase {
    const char* what;
    std::function<void(SheetCells&)> fill;  // within the bounds
    std::function<void(SheetCells&)> last;  // the step that may go beyond them
    bool beyond;
    std::size_t sizeAfter;
  };
  const std::vector<BoundCase> cases = {
      {"the last cell allowed", [&](SheetCells& c) { numbers(c, kMaxCells - 1); },
       [](SheetCells& c) { c.Put(5000, 1, CellValue::OfNumber(2)); }, false, kMaxCells},
      {"one cell more", [&](SheetCells& c) { numbers(c, kMaxCells); },
       [](SheetCells& c) { c.Put(5000, 1, CellValue::OfNumber(2)); }, true, kMaxCells},
      {"one cell more, out of order", [&](SheetCells& c) { numbers(c, kMaxCells); },
       [](SheetCells& c) { c.Put(1, 1001, CellValue::OfError()); }, true, kMaxCells},
      {"a new value for a stored cell adds no cell", [&](SheetCells& c) { numbers(c, kMaxCells); },
       [](SheetCells& c) { c.Put(1, 1, CellValue::OfNumber(3)); }, false, kMaxCells},
      {"an empty value adds nothing", [&](SheetCells& c) { numbers(c, kMaxCells); },
       [](SheetCells& c) { c.Put(5000, 1, CellValue::Empty()); }, false, kMaxCells},
      {"text up to the last byte", [&](SheetCells& c) { c.Put(1, 1, CellValue::OfText(half)); },
       [&](SheetCells& c) { c.Put(1, 2, CellValue::OfText(half)); }, false, 2},
      {"one byte of text more", [&](SheetCells& c) { c.Put(1, 1, CellValue::OfText(half + half)); },
       [](SheetCells& c) { c.Put(2, 1, CellValue::OfText("y")); }, true, 1},
      // the text replaced stays until the cells are cleared
      {"a text that replaces another counts again", [&](SheetCells& c) { c.Put(1, 1, CellValue::OfText(half)); },
       [&](SheetCells& c) { c.Put(1, 1, CellValue::OfText(half + "y")); }, true, 1},
      {"text held for later counts", [&](SheetCells& c) { c.Hold(0, kMaxTextBytes - 1); },
       [](SheetCells& c) { c.Put(1, 1, CellValue::OfText("yz")); }, true, 0},
      {"cells held for later count", [&](SheetCells& c) { c.Hold(kMaxCells, 0); },
       [](SheetCells& c) { c.Put(1, 1, CellValue::OfBoolean(true)); }, true, 0},
      {"holding more than there is room for", [&](SheetCells& c) { numbers(c, 10); },
       [](SheetCells& c) { c.Hold(kMaxCells - 9, 0); }, true, 10},
      {"cleared cells count from nothing",
       [&](SheetCells& c) {
         numbers(c, kMaxCells);
         c.Hold(0, kMaxTextBytes);
         c.Clear();
       },
       [&](SheetCells& c) { c.Put(1, 1, CellValue::OfText(half + half)); }, false, 1},
  };
  for (const auto& c : cases) {
    SheetCells cells;
    c.fill(cells);
    try {
      c.last(cells);
      EXPECT_FALSE(c.beyond) << c.what << ": not refused";
    } catch (const WorkbookError& e) {
      EXPECT_TRUE(c.beyond) << c.what << ": " << e.what();
      EXPECT_EQ(e.Reason(), OpenFailure::TooLarge) << c.what;
      EXPECT_EQ(e.Detail(), "more cells or text than a price list holds") << c.what;
    }
    EXPECT_EQ(cells.Size(), c.sizeAfter) << c.what;
  }
}

// What the cells could still take, as the readers ask before spreading repeats out.
TEST(SheetCells, FitsSaysWhatTheBoundsStillAllow) {
  SheetCells cells;
  EXPECT_TRUE(cells.Fits(kMaxCells, kMaxTextBytes));
  EXPECT_FALSE(cells.Fits(kMaxCells + 1, 0));
  EXPECT_FALSE(cells.Fits(0, kMaxTextBytes + 1));
  // a short text takes a block of 64 KiB, which the texts after it fill
  cells.Put(1, 1, CellValue::OfText("abc"));
  cells.Put(1, 2, CellValue::OfText("def"));
  EXPECT_TRUE(cells.Fits(kMaxCells - 2, kMaxTextBytes - 65536));
  EXPECT_FALSE(cells.Fits(kMaxCells - 1, 0));
  EXPECT_FALSE(cells.Fits(0, kMaxTextBytes - 65535));
  EXPECT_FALSE(cells.Fits(std::uint64_t{1} << 62, 0));  // a product of repeats far beyond
}

}  // namespace
}  // namespace ratemover::spreadsheet
