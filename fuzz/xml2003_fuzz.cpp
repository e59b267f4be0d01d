// Arbitrary bytes as an XML Spreadsheet 2003 document: whatever they hold, the
// read ends, without a crash, a hang or unbounded memory, in a reading or a
// refusal.
//
// Input that does not start with "<" is taken as the inside of a worksheet's
// Table and wrapped in a workbook with styles and an active second sheet, so
// that the mutations reach rows, cells and data instead of the root element.
#include <gsf/gsf.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "spreadsheet/format_table.h"

namespace {

void Quiet(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

std::string WorkbookAroundTable(const std::string& table) {
  return "<?xml version=\"1.0\"?><Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\" "
         "xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\" xmlns:x=\"urn:schemas-microsoft-com:office:excel\" "
         "xmlns:html=\"http://www.w3.org/TR/REC-html40\"><x:ExcelWorkbook><x:ActiveSheet>1</x:ActiveSheet>"
         "</x:ExcelWorkbook><Styles><Style ss:ID=\"d\"><NumberFormat ss:Format=\"Short Date\"/></Style>"
         "<Style ss:ID=\"c\" ss:Parent=\"d\"><NumberFormat ss:Format=\"#,##0.00\\ [$\xE2\x82\xAC-424]\"/></Style>"
         "<Style ss:ID=\"p\" ss:Parent=\"c\"/></Styles><Worksheet ss:Name=\"A\"/><Worksheet ss:Name=\"B\"><Table>" +
         table + "</Table></Worksheet></Workbook>";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_log_set_default_handler(Quiet, nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string bytes;
  if (size == 0 || data[0] != '<') {
    bytes = WorkbookAroundTable(std::string(reinterpret_cast<const char*>(data), size));
    data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    size = bytes.size();
  }
  GsfInput* input = gsf_input_memory_new(data, static_cast<gsf_off_t>(size), FALSE);
  if (input == nullptr) return 0;
  ratemover::spreadsheet::SheetCells cells;
  ratemover::spreadsheet::ReadActiveSheet(input, 3000, cells);
  g_object_unref(input);
  return 0;
}
