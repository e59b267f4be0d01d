// Arbitrary bytes as an .xlsx package: whatever they hold, the read ends,
// without a crash, a hang or unbounded memory, in a reading or a refusal.
#include <gsf/gsf.h>

#include <cstddef>
#include <cstdint>

#include "spreadsheet/workbook_reader.h"

namespace {
void Quiet(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // libgsf warns on stderr about every damaged member; the fuzzer's own output matters here.
  g_log_set_default_handler(Quiet, nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  GsfInput* input = gsf_input_memory_new(data, static_cast<gsf_off_t>(size), FALSE);
  if (input == nullptr) return 0;
  ratemover::spreadsheet::SheetCells cells;
  ratemover::spreadsheet::ReadActiveSheet(input, 3000, cells);
  g_object_unref(input);
  return 0;
}
