#pragma once
// The lines of the rate file "format 111" and the conversions that feed them.
#include <optional>
#include <string>
#include <string_view>

namespace ratemover {

// The price text as a number: every "." becomes the regional decimal separator
// first; blank text is 0; a text that is not a number has no value.
std::optional<double> DveDecimalki(std::string_view priceText);

// The trimmed text up to its first blank.
std::string PrvaBeseda(std::string_view text);

// DD.MM.YYYY; a year below 2000 has 2000 added first.
std::string FormattedDate(int day, int month, int year);

// " 0002 " and the formatted date: 16 characters.
std::string VrsticaDatuma(std::string_view formattedDate);

// The values of one price line.
struct PriceLine {
  std::string_view symbol;
  std::string_view indexMarker;  // "INDEKS" or empty
  double price = 0;
  std::string_view formattedDate;
};

// One price line: 194 characters, more when the price needs a wider field. The
// symbol is trimmed, a control character inside it becomes a blank, and it is
// cut to 30 characters.
std::string VrsticaTecaja(std::string_view symbol, std::string_view indexMarker, double price,
                          std::string_view formattedDate);

// Appends the same price line to out, without a line end.
void AppendVrsticaTecaja(std::string& out, const PriceLine& values);

// The price field: rounded half away from zero to six decimals, at least 15 wide.
std::string PriceField(double price);

// The rate file's path: the workbook path up to its last "." followed by "ztr".
std::string OutputFileName(std::string_view workbookPath);

}  // namespace ratemover
