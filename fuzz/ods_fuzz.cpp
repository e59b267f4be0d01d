// Arbitrary bytes as an .ods package: the reader must end in a reading or in
// "cannot be opened", never crash, hang or grow without bound.
#include <gsf/gsf.h>

#include <cstddef>
#include <cstdint>
#include <new>

#include "spreadsheet/sheet_cells.h"
#include "spreadsheet/format_table.h"
#include "spreadsheet/xml_stream.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  gsf_init();
  // The container library warns about every damaged header; nobody reads that here.
  g_log_set_default_handler([](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
  g_set_printerr_handler([](const gchar*) {});
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  GsfInput* input = gsf_input_memory_new(data, static_cast<gsf_off_t>(size), FALSE);
  if (input == nullptr) return 0;
  GError* error = nullptr;
  GsfInfile* zip = gsf_infile_zip_new(input, &error);
  g_clear_error(&error);
  if (zip != nullptr) {
    ratemover::spreadsheet::SheetCells cells;
    // Odd sizes read with a small row limit, so that stopping early is tried too.
    const std::int32_t rowLimit = size % 2 == 0 ? 3000 : 4;
    try {
      const ratemover::spreadsheet::ZipPackage package(zip);
      ratemover::spreadsheet::FormatRowNamed("ods").read({input, zip, &package}, rowLimit, cells);
    } catch (const ratemover::spreadsheet::WorkbookError&) {
      // a package that cannot be opened says why; that is all
    } catch (const std::bad_alloc&) {
      // the caller turns running out of memory into "cannot be opened"
    }
    g_object_unref(zip);
  }
  g_object_unref(input);
  return 0;
}
