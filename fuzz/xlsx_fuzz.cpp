// Arbitrary bytes as an .xlsx package: whatever they hold, the read ends,
// without a crash, a hang or unbounded memory, in a reading or a refusal.
//
// Input that starts with "PK" is the whole package. Anything else is taken as
// the XML of the active sheet and packed, stored and with a right CRC, into a
// small package with a workbook, styles and shared strings, so that the
// mutations reach the sheet's XML instead of breaking a deflate stream.
#include <gsf/gsf.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/sheet_checks.h"
#include "spreadsheet/workbook_reader.h"
#include "tests/support/zip_writer.h"

namespace {

void Quiet(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

using ratemover::testsupport::StoredZip;

std::string PackageAroundSheet(std::string sheet) {
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
  const std::string rels = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  return StoredZip({
      {"_rels/.rels", rels + "<Relationship Id=\"rId1\" Type=\"" + rel + "officeDocument\" Target=\"xl/workbook.xml\"/>"
                          "</Relationships>"},
      {"xl/workbook.xml",
       "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" xmlns:r=\"" +
           rel.substr(0, rel.size() - 1) +
           "\"><sheets><sheet name=\"A\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels",
       rels + "<Relationship Id=\"rId1\" Type=\"" + rel + "worksheet\" Target=\"worksheets/sheet1.xml\"/>" +
           "<Relationship Id=\"rId2\" Type=\"" + rel + "styles\" Target=\"styles.xml\"/>" +
           "<Relationship Id=\"rId3\" Type=\"" + rel + "sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>"},
      {"xl/styles.xml",
       "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><numFmts>"
       "<numFmt numFmtId=\"164\" formatCode=\"dd\\.mm\\.yyyy\"/></numFmts><cellXfs><xf numFmtId=\"0\"/>"
       "<xf numFmtId=\"14\"/><xf numFmtId=\"164\"/><xf numFmtId=\"7\"/></cellXfs></styleSheet>"},
      {"xl/sharedStrings.xml",
       "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><si><t>a</t></si>"
       "<si><r><t>b</t></r><rPh><t>c</t></rPh></si><si><t>_x017E_</t></si></sst>"},
      {"xl/worksheets/sheet1.xml", std::move(sheet)},
  });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // libgsf warns on stderr about every damaged member; the fuzzer's own output matters here.
  g_log_set_default_handler(Quiet, nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ratemover::fuzz::ReadPackageOrSheet(data, size, PackageAroundSheet);
  return 0;
}
