// Feeds arbitrary bytes to the reader of web pages, as a page whatever its start.
//
// Checked (a violation aborts): no crash, leak or undefined behaviour; a file
// is refused only with the readers' own WorkbookError; the row limit never
// decides whether a file is refused (rows past it are read all the same), and
// a reading with the larger limit holds every cell of the one with the
// smaller; every stored cell of the first rows turns into a text or a read
// failure; read in small pieces, the page reads as it does in one.
#include <gsf/gsf.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "fuzz/sheet_checks.h"
#include "spreadsheet/open_failure.h"
#include "spreadsheet/format_table.h"

namespace {

using ratemover::spreadsheet::SheetCells;

// The reason of the refusal, or none when the page was read.
std::optional<ratemover::spreadsheet::OpenFailure> ReadInPieces(const std::uint8_t* data, std::size_t size,
                                                                std::int32_t rowLimit, std::size_t pieceSize,
                                                                SheetCells& cells) {
  GsfInput* input = gsf_input_memory_new(data, static_cast<gsf_off_t>(size), FALSE);
  if (input == nullptr) std::abort();
  std::optional<ratemover::spreadsheet::OpenFailure> failure;
  try {
    ratemover::spreadsheet::ReadHtmlInPieces(input, rowLimit, cells, pieceSize);
  } catch (const ratemover::spreadsheet::WorkbookError& refused) {
    failure = refused.Reason();
  }
  g_object_unref(input);
  return failure;
}

ratemover::fuzz::Refusal Read(const std::uint8_t* data, std::size_t size, std::int32_t rowLimit, SheetCells& cells) {
  return ReadInPieces(data, size, rowLimit, 64 * 1024, cells);
}

// Pieces of a few bytes cut every tag, reference, comment and character
// somewhere: the page must read as it does in one piece.
void CheckPiecesReadAsOne(const std::uint8_t* data, std::size_t size) {
  constexpr std::int32_t kRows = 200;
  SheetCells one;
  const auto oneFailure = ReadInPieces(data, size, kRows, 64 * 1024, one);
  SheetCells pieces;
  const auto piecesFailure = ReadInPieces(data, size, kRows, 1 + size % 7, pieces);
  if (oneFailure != piecesFailure) std::abort();
  if (oneFailure) return;
  if (one.Size() != pieces.Size()) std::abort();
  // looking up every cell would take most of each run: the first rows stand for the rest
  for (std::int32_t row = 1; row <= 30; ++row) {
    for (std::int32_t column = 1; column <= 32; ++column) {
      const auto a = one.Find(row, column);
      const auto b = pieces.Find(row, column);
      if (a.has_value() != b.has_value()) std::abort();
      if (a && ratemover::spreadsheet::TextOfCell(*a, one.GetDateSystem()) !=
                              ratemover::spreadsheet::TextOfCell(*b, pieces.GetDateSystem())) {
        std::abort();
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gsf_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ratemover::fuzz::CheckRowLimitIsNoVerdict(Read, data, size, 1048576, 64);
  CheckPiecesReadAsOne(data, size);
  return 0;
}
