// Arbitrary bytes as an .xlsb package: whatever they hold, the read ends,
// without a crash, a hang or unbounded memory, in a reading or a refusal.
//
// Input that starts with "PK" is the whole package. Anything else is taken as
// the records of the active sheet and packed, stored and with a right CRC, into
// a small package with a workbook, styles and shared strings, so that the
// mutations reach the sheet's records instead of breaking a deflate stream.
#include <gsf/gsf.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "fuzz/sheet_checks.h"
#include "spreadsheet/workbook_reader.h"
#include "tests/support/zip_writer.h"

namespace {

void Quiet(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

using ratemover::testsupport::Le16;
using ratemover::testsupport::Le32;
using ratemover::testsupport::StoredZip;

std::string Record(unsigned type, const std::string& body) {
  std::string out;
  out += static_cast<char>(type < 0x80 ? type : (type & 0x7F) | 0x80);
  if (type >= 0x80) out += static_cast<char>(type >> 7);
  for (std::size_t n = body.size();; n >>= 7) {
    out += static_cast<char>((n & 0x7F) | (n > 0x7F ? 0x80 : 0));
    if (n <= 0x7F) break;
  }
  return out + body;
}

std::string Wide(const std::string& ascii) {
  std::string out = Le32(static_cast<std::uint32_t>(ascii.size()));
  for (const char c : ascii) out += Le16(static_cast<unsigned char>(c));
  return out;
}

std::string PackageAroundSheet(std::string sheet) {
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
  const std::string rels = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  const std::string workbook = Record(131, "") + Record(153, Le32(0) + Le32(0) + Wide("")) +
                               Record(143, "") + Record(156, Le32(0) + Le32(1) + Wide("rId1") + Wide("A")) +
                               Record(144, "") + Record(132, "");
  const std::string styles = Record(278, "") + Record(44, Le16(164) + Wide("dd\\.mm\\.yyyy")) + Record(617, Le32(4)) +
                             Record(47, Le16(0) + Le16(0) + std::string(12, '\0')) +
                             Record(47, Le16(0) + Le16(14) + std::string(12, '\0')) +
                             Record(47, Le16(0) + Le16(164) + std::string(12, '\0')) +
                             Record(47, Le16(0) + Le16(7) + std::string(12, '\0')) + Record(618, "") +
                             Record(279, "");
  const std::string strings = Record(159, Le32(2) + Le32(2)) + Record(19, std::string(1, '\0') + Wide("a")) +
                              Record(19, std::string(1, '\1') + Wide("b") + Le32(0)) + Record(160, "");
  return StoredZip({
      {"_rels/.rels", rels + "<Relationship Id=\"rId1\" Type=\"" + rel + "officeDocument\" Target=\"xl/workbook.bin\"/>"
                          "</Relationships>"},
      {"xl/workbook.bin", workbook},
      {"xl/_rels/workbook.bin.rels",
       rels + "<Relationship Id=\"rId1\" Type=\"" + rel + "worksheet\" Target=\"worksheets/sheet1.bin\"/>" +
           "<Relationship Id=\"rId2\" Type=\"" + rel + "styles\" Target=\"styles.bin\"/>" +
           "<Relationship Id=\"rId3\" Type=\"" + rel + "sharedStrings\" Target=\"sharedStrings.bin\"/></Relationships>"},
      {"xl/styles.bin", styles},
      {"xl/sharedStrings.bin", strings},
      {"xl/worksheets/sheet1.bin", std::move(sheet)},
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
