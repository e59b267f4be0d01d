// Feeds arbitrary bytes to the reader of delimited text files.
//
// Checked (a violation aborts): no crash, leak or undefined behaviour; a file
// is refused only with the readers' own WorkbookError; the row limit never
// decides whether a file is refused (rows past it are read all the same), and
// a reading with the larger limit holds every cell of the one with the
// smaller; every stored cell of the first rows turns into a text or a read
// failure.
#include <gsf/gsf.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/sheet_checks.h"
#include "spreadsheet/open_failure.h"
#include "spreadsheet/format_table.h"

namespace {

using ratemover::spreadsheet::SheetCells;

ratemover::fuzz::Refusal Read(const std::uint8_t* data, std::size_t size, std::int32_t rowLimit, SheetCells& cells) {
  GsfInput* input = gsf_input_memory_new(data, static_cast<gsf_off_t>(size), FALSE);
  if (input == nullptr) return ratemover::spreadsheet::OpenFailure::NotReadable;
  ratemover::fuzz::Refusal refused;
  try {
    ratemover::spreadsheet::FormatRowNamed("csv").read({input, nullptr, nullptr}, rowLimit, cells);
  } catch (const ratemover::spreadsheet::WorkbookError& e) {
    refused = e.Reason();
  }
  g_object_unref(input);
  return refused;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gsf_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ratemover::fuzz::CheckRowLimitIsNoVerdict(Read, data, size, 1048576, 64);
  return 0;
}
