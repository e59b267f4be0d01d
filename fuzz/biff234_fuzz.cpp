// Feeds arbitrary bytes to the reader of Excel 2.x to 4.0 files, as the bare
// record stream that such a file is.
//
// Checked (a violation aborts): no crash, leak or undefined behaviour; the
// row limit never decides whether a stream is refused (rows past it are
// checked all the same), and a reading with the larger limit holds every cell
// of the one with the smaller; every stored cell of the first rows turns into
// a text or a read failure.
#include <gsf/gsf.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "spreadsheet/cell_text.h"
#include "spreadsheet/workbook_reader.h"

namespace {

using ratemover::spreadsheet::CellValue;
using ratemover::spreadsheet::SheetCells;

bool Read(const std::uint8_t* data, std::size_t size, std::int32_t rowLimit, SheetCells& cells) {
  GsfInput* input = gsf_input_memory_new(data, static_cast<gsf_off_t>(size), FALSE);
  if (input == nullptr) return false;
  const bool read = static_cast<bool>(ratemover::spreadsheet::ReadActiveSheet(input, rowLimit, cells));
  g_object_unref(input);
  return read;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gsf_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SheetCells few;
  const bool fewRead = Read(data, size, 20, few);
  SheetCells all;
  const bool allRead = Read(data, size, 65536, all);
  if (fewRead != allRead) std::abort();
  if (!fewRead) return 0;
  for (std::int32_t row = 1; row <= 20; ++row) {
    for (std::int32_t column = 1; column <= 256; ++column) {
      const CellValue* cell = few.Find(row, column);
      if (cell == nullptr) continue;
      (void)ratemover::spreadsheet::TextOfCell(*cell, few.GetDateSystem());
      if (all.Find(row, column) == nullptr) std::abort();
    }
  }
  return 0;
}
