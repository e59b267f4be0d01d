#include "spreadsheet/sheet_cells.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

namespace ratemover::spreadsheet {
namespace {

struct KeyLess {
  template <typename Entry>
  bool operator()(const Entry& e, std::uint64_t key) const {
    return e.key < key;
  }
  template <typename Entry>
  bool operator()(const Entry& a, const Entry& b) const {
    return a.key < b.key;
  }
};

}  // namespace

const char* SheetCells::TextBlocks::Keep(const std::string& text, std::size_t& room) {
  if (text.empty()) return nullptr;
  if (text.size() > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("cell text too long");
  char* at = nullptr;
  if (text.size() > kBlock / 4) {
    Take(room, text.size());
    // put before the last block, so that the room left in that one stays in use
    auto own = std::make_unique_for_overwrite<char[]>(text.size());
    at = own.get();
    blocks_.insert(blocks_.end() - (blocks_.empty() ? 0 : 1), std::move(own));
  } else {
    if (text.size() > room_) {
      Take(room, kBlock);
      blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlock));
      free_ = blocks_.back().get();
      room_ = kBlock;
    }
    at = free_;
    free_ += text.size();
    room_ -= text.size();
  }
  std::memcpy(at, text.data(), text.size());
  return at;
}

SheetCells::Entry SheetCells::EntryOf(std::uint64_t key, const CellValue& value) {
  return {key,         value.number, texts_.Keep(value.text, textRoom_), static_cast<std::uint32_t>(value.text.size()),
          value.kind, value.style,  value.boolean};
}

void SheetCells::ThrowBeyondBounds() {
  throw WorkbookError(OpenFailure::TooLarge, "more cells or text than a price list holds");
}

void SheetCells::Hold(std::size_t cells, std::size_t textBytes) {
  Take(cellRoom_, cells);
  Take(textRoom_, textBytes);
}

void SheetCells::Put(std::int32_t row, std::int32_t column, const CellValue& value) {
  const std::uint64_t key = Key(row, column);
  const bool empty = value.kind == CellValue::Kind::Empty;
  if (ordered_) {
    if (entries_.empty() || key > entries_.back().key) {
      if (empty) return;
      Take(cellRoom_, 1);
      entries_.push_back(EntryOf(key, value));
      return;
    }
    // a cell stored again (a text a reader learns only later) or out of order
    Entry& at = entries_[LowerBound(key)];
    if (at.key == key) {
      at = EntryOf(key, value);
      return;
    }
    if (empty) return;  // nothing stored there to empty
  } else if (entries_.back().key == key) {
    entries_.back() = EntryOf(key, value);
    return;
  }
  Take(cellRoom_, 1);
  if (ordered_) orderedPart_ = entries_.size();
  ordered_ = false;
  entries_.push_back(EntryOf(key, value));
  if (entries_.size() >= orderAt_) Order();
}

void SheetCells::Order() const {
  if (!ordered_) {
    // Of the values stored for one cell, the last one stands. The entries
    // stored before the first one out of order are in order already: only
    // the rest is sorted (often it is in order too: a reader that stores its
    // texts after its numbers), then merged in behind them, equals after
    // equals.
    const auto rest = entries_.begin() + static_cast<std::ptrdiff_t>(orderedPart_);
    if (!std::is_sorted(rest, entries_.end(), KeyLess{})) std::stable_sort(rest, entries_.end(), KeyLess{});
    std::inplace_merge(entries_.begin(), rest, entries_.end(), KeyLess{});
    std::size_t out = 0;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (i + 1 < entries_.size() && entries_[i + 1].key == entries_[i].key) continue;
      if (entries_[i].kind == CellValue::Kind::Empty) continue;
      if (out != i) entries_[out] = std::move(entries_[i]);
      ++out;
    }
    entries_.resize(out);
    ordered_ = true;
  }
  orderAt_ = std::max(kFirstOrderAt, 2 * entries_.size());
}

// The first entry whose key is not below the given one. Cells are mostly
// sought row by row, each a few entries past the one sought before.
std::size_t SheetCells::LowerBound(std::uint64_t key) const {
  constexpr std::size_t kNearby = 8;
  if (lastFound_ < entries_.size() && entries_[lastFound_].key <= key) {
    const std::size_t end = std::min(entries_.size(), lastFound_ + kNearby);
    for (std::size_t at = lastFound_; at < end; ++at) {
      if (entries_[at].key >= key) return lastFound_ = at;
    }
  }
  const auto it = std::lower_bound(entries_.begin(), entries_.end(), key, KeyLess{});
  return lastFound_ = static_cast<std::size_t>(it - entries_.begin());
}

std::optional<CellValue> SheetCells::Find(std::int32_t row, std::int32_t column) const {
  if (!ordered_) Order();
  const std::uint64_t key = Key(row, column);
  const std::size_t at = LowerBound(key);
  if (at == entries_.size() || entries_[at].key != key || entries_[at].kind == CellValue::Kind::Empty) {
    return std::nullopt;
  }
  const Entry& entry = entries_[at];
  CellValue value;
  value.kind = entry.kind;
  // appended to the empty text: the call the compiler keeps inline, where assign is a call per cell
  if (entry.text != nullptr) value.text.append(entry.text, entry.length);
  value.number = entry.number;
  value.style = entry.style;
  value.boolean = entry.boolean;
  return value;
}

std::size_t SheetCells::Size() const {
  if (!ordered_) Order();
  return static_cast<std::size_t>(std::count_if(entries_.begin(), entries_.end(), [](const Entry& e) {
    return e.kind != CellValue::Kind::Empty;
  }));
}

void SheetCells::Clear() {
  entries_.clear();
  texts_.Clear();
  cellRoom_ = kMaxCells;
  textRoom_ = kMaxTextBytes;
  ordered_ = true;
  orderAt_ = kFirstOrderAt;
}

}  // namespace ratemover::spreadsheet
