#pragma once
// The formats of workbook that the readers know, and the short name of each,
// as the batch program prints it.
#include <string_view>

namespace ratemover::spreadsheet {

enum class WorkbookFormat { Biff2, Biff3, Biff4, Biff5, Biff8, Xlsx, Xlsb, Ods, Xml2003, Html, Csv };

constexpr std::string_view ShortNameOf(WorkbookFormat format) {
  switch (format) {
    case WorkbookFormat::Biff2: return "biff2";
    case WorkbookFormat::Biff3: return "biff3";
    case WorkbookFormat::Biff4: return "biff4";
    case WorkbookFormat::Biff5: return "biff5";
    case WorkbookFormat::Biff8: return "biff8";
    case WorkbookFormat::Xlsx: return "xlsx";
    case WorkbookFormat::Xlsb: return "xlsb";
    case WorkbookFormat::Ods: return "ods";
    case WorkbookFormat::Xml2003: return "xml2003";
    case WorkbookFormat::Html: return "html";
    case WorkbookFormat::Csv: return "csv";
  }
  return "?";
}

}  // namespace ratemover::spreadsheet
