#pragma once
// What every reader's fuzz target checks of one input. A violation aborts, so
// that libFuzzer keeps the input.
#include <gsf/gsf.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "spreadsheet/cell_text.h"
#include "spreadsheet/format_table.h"
#include "spreadsheet/open_failure.h"
#include "spreadsheet/workbook_reader.h"

namespace ratemover::fuzz {

// Reads the bytes as one workbook with a row limit: the reason it was
// refused, or nothing when it opened.
using Refusal = std::optional<spreadsheet::OpenFailure>;
using LimitedRead = Refusal (*)(const std::uint8_t* data, std::size_t size, std::int32_t rowLimit,
                                spreadsheet::SheetCells& cells);

// The bytes as a workbook file through the same reading as the session's.
inline Refusal ReadFromMemory(const std::uint8_t* data, std::size_t size, std::int32_t rowLimit,
                              spreadsheet::SheetCells& cells) {
  GsfInput* input = gsf_input_memory_new(data, static_cast<gsf_off_t>(size), FALSE);
  if (input == nullptr) return spreadsheet::OpenFailure::NotReadable;
  const spreadsheet::SheetRead read = spreadsheet::ReadActiveSheet(input, rowLimit, cells);
  g_object_unref(input);
  return read.failure ? Refusal(read.failure->Reason()) : std::nullopt;
}

// The row limit decides whether a workbook opens only where more rows hold
// more than the cells may (rows past the limit are read all the same, but not
// kept): the reading with the larger limit may then be refused as too large.
// Otherwise both open or neither; a reading with the larger limit holds every
// cell of the one with 20 rows; every stored cell of those rows turns into a
// text or a read failure.
inline void CheckRowLimitIsNoVerdict(LimitedRead read, const std::uint8_t* data, std::size_t size,
                                     std::int32_t largeLimit, std::int32_t columns) {
  constexpr std::int32_t kFewRows = 20;
  spreadsheet::SheetCells few;
  const Refusal fewRefused = read(data, size, kFewRows, few);
  spreadsheet::SheetCells all;
  const Refusal allRefused = read(data, size, largeLimit, all);
  if (!fewRefused && allRefused == spreadsheet::OpenFailure::TooLarge) return;
  if (fewRefused.has_value() != allRefused.has_value()) std::abort();
  if (fewRefused) return;
  for (std::int32_t row = 1; row <= kFewRows; ++row) {
    for (std::int32_t column = 1; column <= columns; ++column) {
      const std::optional<spreadsheet::CellValue> cell = few.Find(row, column);
      if (!cell) continue;
      (void)spreadsheet::TextOfCell(*cell, few.GetDateSystem());
      if (!all.Find(row, column)) std::abort();
    }
  }
}

// A package target: bytes that are no ZIP are taken as the sheet part of a
// small package built around them, so that the mutations reach the sheet.
inline void ReadPackageOrSheet(const std::uint8_t* data, std::size_t size,
                               std::string (*packageAroundSheet)(std::string sheet)) {
  std::string bytes;
  if (size < 2 || data[0] != 'P' || data[1] != 'K') {
    bytes = packageAroundSheet(std::string(reinterpret_cast<const char*>(data), size));
    data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    size = bytes.size();
  }
  spreadsheet::SheetCells cells;
  (void)ReadFromMemory(data, size, 3000, cells);
}

}  // namespace ratemover::fuzz
