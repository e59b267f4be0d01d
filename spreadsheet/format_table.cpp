#include "spreadsheet/format_table.h"

#include <gsf/gsf.h>

#include <string>

#include "spreadsheet/open_failure.h"
#include "spreadsheet/workbook_reader.h"
#include "spreadsheet/zip_part.h"

namespace ratemover::spreadsheet {

namespace {

// An .xls sheet: 65,536 rows of 256 columns; an Excel 2.x to 4.0 sheet:
// 16,384 rows of 256 columns.
constexpr SheetSize kBiffSheet{65536, 256};
constexpr SheetSize kBiff234Sheet{16384, 256};

// --- inside an OLE2 file

bool IsBiffWorkbook(const OpenedInput& opened) {
  return HasOleStream(opened.container, "Workbook") || HasOleStream(opened.container, "Book");
}

void ReadBiff(const OpenedInput& opened, std::int32_t rowLimit, SheetCells& cells) {
  if (!ReadBiffActiveSheet(opened.container, rowLimit, cells)) ThrowDamaged("workbook stream");
}

// --- inside a ZIP package

// The beginning of a small archive member (at most `limit` bytes), for
// recognising the package; empty when the member is missing or unreadable
// (the reader that opens the package checks it whole).
std::string MemberHead(const ZipDirectory& zip, const char* name, std::size_t limit) {
  if (zip.Find(name) == nullptr) return std::string();
  try {
    ZipPartReader member(zip, name);
    std::string bytes(limit, '\0');
    std::size_t length = 0;
    while (length < limit) {
      const std::size_t n = member.Read(reinterpret_cast<std::uint8_t*>(bytes.data()) + length, limit - length);
      if (n == 0) break;
      length += n;
    }
    bytes.resize(length);
    return bytes;
  } catch (const WorkbookError&) {
    return std::string();
  }
}

bool HasMember(const ZipDirectory& zip, const char* name) { return zip.Find(name) != nullptr; }

// A binary workbook: the package's main part is the binary xl/workbook.bin.
bool IsBinaryWorkbook(const OpenedInput& opened) {
  const ZipDirectory& zip = *opened.members;
  const std::string rels = MemberHead(zip, "_rels/.rels", 64 * 1024);
  if (!rels.empty()) return rels.find("workbook.bin\"") != std::string::npos;
  return HasMember(zip, "xl/workbook.bin") && !HasMember(zip, "xl/workbook.xml");
}

void ReadXlsb(const OpenedInput& opened, std::int32_t rowLimit, SheetCells& cells) {
  if (!ReadXlsbActiveSheet(opened.container, rowLimit, cells)) ThrowDamaged("binary workbook");
}

bool IsOfficeOpenXml(const OpenedInput& opened) {
  const ZipDirectory& zip = *opened.members;
  if (HasMember(zip, "xl/workbook.xml")) return true;
  const std::string rels = MemberHead(zip, "_rels/.rels", 64 * 1024);
  return rels.find("relationships/officeDocument") != std::string::npos;
}

void ReadXlsx(const OpenedInput& opened, std::int32_t rowLimit, SheetCells& cells) {
  ReadXlsxActiveSheet(opened.container, rowLimit, cells);
}

bool IsOpenDocument(const OpenedInput& opened) {
  static constexpr std::string_view kSpreadsheet = "application/vnd.oasis.opendocument.spreadsheet";
  const std::string mimetype = MemberHead(*opened.members, "mimetype", 256);
  if (std::string_view(mimetype).substr(0, kSpreadsheet.size()) == kSpreadsheet) return true;
  return HasMember(*opened.members, "content.xml");
}

void ReadOds(const OpenedInput& opened, std::int32_t rowLimit, SheetCells& cells) {
  ReadOdsActiveSheet(opened.container, rowLimit, cells);
}

// --- the bare file

bool IsBiff234(const OpenedInput& opened) { return IsBiff234Stream(opened.input); }

void ReadBiff234(const OpenedInput& opened, std::int32_t rowLimit, SheetCells& cells) {
  if (!ReadBiff234ActiveSheet(opened.input, rowLimit, cells)) ThrowDamaged("worksheet stream");
}

bool IsXml2003(const OpenedInput& opened) { return IsXmlSpreadsheet2003(opened.input); }

void ReadXml2003(const OpenedInput& opened, std::int32_t rowLimit, SheetCells& cells) {
  ReadXml2003ActiveSheet(opened.input, rowLimit, cells);
}

bool IsPage(const OpenedInput& opened) { return IsWebPage(opened.input); }

void ReadHtml(const OpenedInput& opened, std::int32_t rowLimit, SheetCells& cells) {
  ReadHtmlActiveSheet(opened.input, rowLimit, cells);
}

// Delimited text is the claim of last resort: whatever is left that is text.
// Whether it is text shows only in reading it.
bool AnyInput(const OpenedInput&) { return true; }

void ReadCsv(const OpenedInput& opened, std::int32_t rowLimit, SheetCells& cells) {
  if (!ReadCsvActiveSheet(opened.input, rowLimit, cells)) throw WorkbookError(OpenFailure::NotAWorkbook, "");
}

constexpr WorkbookFormat kBiffFormats[] = {WorkbookFormat::Biff5, WorkbookFormat::Biff8};
constexpr WorkbookFormat kXlsbFormats[] = {WorkbookFormat::Xlsb};
constexpr WorkbookFormat kXlsxFormats[] = {WorkbookFormat::Xlsx};
constexpr WorkbookFormat kOdsFormats[] = {WorkbookFormat::Ods};
constexpr WorkbookFormat kBiff234Formats[] = {WorkbookFormat::Biff2, WorkbookFormat::Biff3, WorkbookFormat::Biff4};
constexpr WorkbookFormat kXml2003Formats[] = {WorkbookFormat::Xml2003};
constexpr WorkbookFormat kHtmlFormats[] = {WorkbookFormat::Html};
constexpr WorkbookFormat kCsvFormats[] = {WorkbookFormat::Csv};

// A binary workbook's package may hold an xl/workbook.xml as well, so its
// row comes before the .xlsx one. Text forms come last, delimited text the
// very last.
constexpr FormatRow kFormats[] = {
    {"xls", kBiffFormats, Container::Ole2, IsBiffWorkbook, ReadBiff, kBiffSheet},
    {"xlsb", kXlsbFormats, Container::Zip, IsBinaryWorkbook, ReadXlsb, kLargeSheet},
    {"xlsx", kXlsxFormats, Container::Zip, IsOfficeOpenXml, ReadXlsx, kLargeSheet},
    {"ods", kOdsFormats, Container::Zip, IsOpenDocument, ReadOds, kLargeSheet},
    {"biff2-4", kBiff234Formats, Container::Bare, IsBiff234, ReadBiff234, kBiff234Sheet},
    {"xml2003", kXml2003Formats, Container::Bare, IsXml2003, ReadXml2003, kLargeSheet},
    {"html", kHtmlFormats, Container::Bare, IsPage, ReadHtml, kLargeSheet},
    {"csv", kCsvFormats, Container::Bare, AnyInput, ReadCsv, kLargeSheet},
};

}  // namespace

bool HasOleStream(GsfInfile* ole, const char* name) {
  const int n = gsf_infile_num_children(ole);
  for (int i = 0; i < n; ++i) {
    const char* childName = gsf_infile_name_by_index(ole, i);
    if (childName != nullptr && g_ascii_strcasecmp(childName, name) == 0) return true;
  }
  return false;
}

std::span<const FormatRow> FormatTable() { return kFormats; }

SheetSize SheetSizeOf(std::optional<WorkbookFormat> format) {
  if (!format) return kLargeSheet;
  for (const FormatRow& row : kFormats) {
    for (const WorkbookFormat reported : row.formats) {
      if (reported == *format) return row.size;
    }
  }
  return kLargeSheet;
}

}  // namespace ratemover::spreadsheet
