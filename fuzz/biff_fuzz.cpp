// Feeds arbitrary bytes to the .xls reader.
//
// An input that begins like a compound file is read as one, the way a
// workbook file is. Any other input is taken as the workbook stream itself
// and packed into a compound file first (as "Workbook", or as "Book" when the
// first byte is odd), so that the mutations reach the records rather than the
// container.
//
// Checked (a violation aborts): no crash, leak or undefined behaviour; the
// row limit does not decide whether a workbook can be opened (the whole sheet
// is checked either way); the reading with the larger limit holds every cell
// of the reading with the smaller one; every stored cell of the first rows
// turns into a text or a read failure.
#include <gsf/gsf.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/sheet_checks.h"

namespace {

using ratemover::spreadsheet::SheetCells;

GsfInput* Container(const std::uint8_t* data, std::size_t size) {
  static constexpr unsigned char kOle2[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  if (size >= 8 && std::memcmp(data, kOle2, 8) == 0) {
    return gsf_input_memory_new(data, static_cast<gsf_off_t>(size), FALSE);
  }
  GsfOutput* memory = gsf_output_memory_new();
  GsfOutfile* ole = gsf_outfile_msole_new(memory);
  GsfOutput* stream = gsf_outfile_new_child(ole, size > 0 && (data[0] & 1) != 0 ? "Book" : "Workbook", FALSE);
  gsf_output_write(stream, size, data);
  gsf_output_close(stream);
  g_object_unref(stream);
  gsf_output_close(GSF_OUTPUT(ole));
  g_object_unref(ole);
  const gsf_off_t length = gsf_output_size(memory);
  auto* copy = static_cast<guint8*>(g_malloc(static_cast<gsize>(length)));
  std::memcpy(copy, gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(memory)), static_cast<std::size_t>(length));
  g_object_unref(memory);
  return gsf_input_memory_new(copy, length, TRUE);
}

ratemover::fuzz::Refusal Read(const std::uint8_t* data, std::size_t size, std::int32_t rowLimit, SheetCells& cells) {
  GsfInput* input = Container(data, size);
  if (input == nullptr) return ratemover::spreadsheet::OpenFailure::NotReadable;
  const ratemover::spreadsheet::SheetRead read = ratemover::spreadsheet::ReadActiveSheet(input, rowLimit, cells);
  g_object_unref(input);
  return read.failure ? ratemover::fuzz::Refusal(read.failure->Reason()) : std::nullopt;
}

}  // namespace

// libgsf 1.14.50 loses a few directory entries (80 bytes each) when it parses
// some damaged compound-file directories; that is the library's, bounded by the
// one file a process opens, and not what this target looks for.
// glib has no frame pointers: unwind the slow way so that the library's frames
// show and the suppression can name them.
extern "C" const char* __lsan_default_suppressions() { return "leak:gsf_infile_msole_new\n"; }
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0:malloc_context_size=12"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gsf_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ratemover::fuzz::CheckRowLimitIsNoVerdict(Read, data, size, 65536, 256);
  return 0;
}
