#pragma once
// How a number format makes a number read: as a date or time, as a currency
// amount, or in the general form.
#include <string_view>

#include "spreadsheet/cell_value.h"

namespace ratemover::spreadsheet {

// A built-in format id of the .xls and .xlsx formats (0 to 49 and the
// locale-dependent ids above).
NumberStyle StyleOfBuiltinFormat(int id);

// A format code (UTF-8 or Windows-1250; only ASCII matters): a date or time
// code holds d, m, y, h or s outside quotes, escapes and [..] brackets; a
// currency code names a currency symbol.
NumberStyle StyleOfFormatCode(std::string_view code);

}  // namespace ratemover::spreadsheet
