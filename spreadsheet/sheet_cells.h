#pragma once
// The cells of the rows read so far of one sheet.
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "spreadsheet/cell_value.h"
#include "spreadsheet/sheet_limits.h"

namespace ratemover::spreadsheet {

class SheetCells {
 public:
  void SetDateSystem(DateSystem system) { dateSystem_ = system; }
  DateSystem GetDateSystem() const { return dateSystem_; }

  // Whether the active sheet is a worksheet. A chart, macro or dialog sheet has
  // no cells that can be read: every read of it fails.
  void SetActiveIsWorksheet(bool worksheet) { activeIsWorksheet_ = worksheet; }
  bool ActiveIsWorksheet() const { return activeIsWorksheet_; }

  // Stores a cell (row and column from 1); a later value for the same cell
  // replaces it. The rows read hold at most kMaxCells cells and kMaxTextBytes
  // of text, counted as the memory the texts take (a long text its own size,
  // short ones the blocks of 64 KiB they fill; a text replaced stays until the
  // table is cleared): a cell beyond them is not stored, and throws
  // WorkbookError(TooLarge), so that a workbook with more than any price list
  // holds cannot exhaust memory, whichever reader reads it.
  void Put(std::int32_t row, std::int32_t column, const CellValue& value);

  // Counts what a reader holds outside the table for cells it may store later
  // (the shared strings its cells name, the cells of sheets it cannot yet tell
  // from the active one) against the same bounds: throws as Put does.
  void Hold(std::size_t cells, std::size_t textBytes);

  // The refusal of a cell beyond the bounds: WorkbookError(TooLarge).
  [[noreturn]] static void ThrowBeyondBounds();

  // Whether this many more cells and bytes of text would stay within the bounds.
  bool Fits(std::uint64_t cells, std::uint64_t textBytes) const {
    return cells <= cellRoom_ && textBytes <= textRoom_;
  }

  // The stored cell, or nothing for a cell that holds nothing.
  std::optional<CellValue> Find(std::int32_t row, std::int32_t column) const;

  std::size_t Size() const;
  void Clear();

 private:
  // Cells are kept in one sequence ordered by row, then column, which is the
  // order the readers meet them in: storing is an append, finding a binary
  // search. A cell that comes out of order is appended all the same and the
  // sequence is put in order again when next searched (or when it has doubled
  // since it was last in order, so that repeated cells cannot pile up).
  // A deque grows without moving what it holds: a sheet's cells are written
  // to memory once, not again at every doubling. An entry is small (its text
  // lies in blocks beside it), so that a sheet's cells take few pages.
  struct Entry {
    std::uint64_t key;
    double number;
    const char* text;  // in one of the text blocks; nullptr for no text
    std::uint32_t length;
    CellValue::Kind kind;  // Empty: the cell was emptied after it was stored
    NumberStyle style;
    bool boolean;
  };
  static_assert(sizeof(Entry) <= 32, "a cell's entry stays small");
  static std::uint64_t Key(std::int32_t row, std::int32_t column) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(row)) << 32) | static_cast<std::uint32_t>(column);
  }
  Entry EntryOf(std::uint64_t key, const CellValue& value);

  // The cells' texts, one after another in blocks that never move; a long
  // text has a block of its own. A text replaced stays until the table is
  // cleared, and counts against the bounds until then.
  class TextBlocks {
   public:
    TextBlocks() = default;
    TextBlocks(TextBlocks&& other) noexcept { *this = std::move(other); }
    TextBlocks& operator=(TextBlocks&& other) noexcept {
      blocks_ = std::move(other.blocks_);
      free_ = std::exchange(other.free_, nullptr);
      room_ = std::exchange(other.room_, 0);
      other.blocks_.clear();
      return *this;
    }
    // Where the text's bytes now lie; nullptr for an empty text. A new block
    // is taken from `room`; throws when there is not enough of it.
    const char* Keep(const std::string& text, std::size_t& room);
    void Clear() { *this = TextBlocks(); }

   private:
    static constexpr std::size_t kBlock = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* free_ = nullptr;  // the room left in the last ordinary block
    std::size_t room_ = 0;
  };
  // Takes `amount` from `room` (of cells or of text); throws when there is
  // not that much left.
  static void Take(std::size_t& room, std::size_t amount) {
    if (amount > room) [[unlikely]] ThrowBeyondBounds();
    room -= amount;
  }
  void Order() const;
  std::size_t LowerBound(std::uint64_t key) const;

  mutable std::deque<Entry> entries_;
  TextBlocks texts_;
  mutable bool ordered_ = true;  // ascending keys, each at most once
  mutable std::size_t orderedPart_ = 0;  // when not ordered: the entries stored in order before the first that was not
  mutable std::size_t orderAt_ = kFirstOrderAt;
  mutable std::size_t lastFound_ = 0;  // where the last search ended: where the next one starts looking
  static constexpr std::size_t kFirstOrderAt = 1024;
  std::size_t cellRoom_ = kMaxCells;      // for cells yet to come
  std::size_t textRoom_ = kMaxTextBytes;  // for text yet to come
  DateSystem dateSystem_ = DateSystem::Base1900;
  bool activeIsWorksheet_ = true;
};

}  // namespace ratemover::spreadsheet
