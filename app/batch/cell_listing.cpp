#include "app/batch/cell_listing.h"

#include <stdexcept>

#include "app/batch/batch_job.h"
#include "common/cp1250.h"
#include "common/tecajnica.h"

namespace ratemover::batch {

std::string EscapedCellText(std::string_view cp1250) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  // every byte of a character beyond ASCII is 0x80 or above: bytes below 0x20
  // are whole characters in UTF-8 as in Windows-1250
  const std::string utf8 = Utf8FromCp1250(cp1250);
  std::string out;
  out.reserve(utf8.size());
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\\': out += "\\\\"; continue;
      case '\t': out += "\\t"; continue;
      case '\r': out += "\\r"; continue;
      case '\n': out += "\\n"; continue;
      default: break;
    }
    if (byte < 0x20) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

int ListCells(spreadsheet::Session& session, const std::string& workbookPath, std::int32_t rows, std::ostream& out) {
  if (!session.OdpriExcel()) throw std::runtime_error("Verjetno ni instaliran EXCEL");
  session.OdpriZvezek(workbookPath, false);
  const auto failure = session.OpenFailureOf();
  const auto format = session.FormatOf();
  if (failure || !format) {
    out << "# cannot be opened: "
        << (failure ? spreadsheet::OpenFailureText(failure->Reason()) : std::string_view("unknown format")) << "\n";
    session.ZapriExcel();
    return kExitNotTransferred;
  }
  out << "# " << spreadsheet::ShortNameOf(*format) << "\n";
  const auto columns = static_cast<std::int32_t>(kColumnLetters.size());
  for (std::int32_t row = 1; row <= rows; ++row) {
    for (std::int32_t column = 1; column <= columns; ++column) {
      const spreadsheet::CellText text = session.BeriCelico(row, column);
      if (text && text->empty()) continue;
      out << kColumnLetters[static_cast<std::size_t>(column - 1)] << row << '\t';
      if (text) {
        out << '=' << EscapedCellText(*text) << '\n';
      } else {
        out << "!\n";
      }
    }
  }
  session.ZapriExcel();
  return kExitWritten;
}

}  // namespace ratemover::batch
