#include "spreadsheet/open_failure.h"

namespace ratemover::spreadsheet {

std::string_view OpenFailureText(OpenFailure reason) {
  switch (reason) {
    case OpenFailure::NotReadable: return "not readable";
    case OpenFailure::NotAWorkbook: return "not a workbook";
    case OpenFailure::UnknownFormat: return "unknown format";
    case OpenFailure::Encrypted: return "encrypted";
    case OpenFailure::Damaged: return "damaged";
    case OpenFailure::TooLarge: return "too large";
    case OpenFailure::Changed: return "changed while it was read";
  }
  return "cannot be opened";
}

}  // namespace ratemover::spreadsheet
