#pragma once
// What the session must give for each cell of the catalogue sheet "Tipi" that
// LibreOffice, Gnumeric and the BIFF5 writer produced (column B, rows 2 to 45),
// under the regional settings "," and "d.M.yyyy". A missing value is a read
// failure (an error value, constant or from a formula).
#include <optional>
#include <string>
#include <vector>

namespace ratemover::testdata {

struct CatalogueCell {
  int row;
  const char* label;
  std::optional<std::string> text;  // Windows-1250
};

inline std::string Long300() { return "\x8E" + std::string(298, 'x') + "\x8E"; }

// Row 34: LibreOffice typed 15 January 1900 and stored the serial 16 of its own
// calendar. In the 1900 system of .xls and .xlsx, with its phantom 29 February
// 1900, serial 16 is 16 January, and that is what the spreadsheet application
// shows; the 1904 files carry -1446 and the .ods files an ISO date, both
// 15 January.
inline std::string Row34Text(bool serialIn1900System) { return serialIn1900System ? "16.1.1900" : "15.1.1900"; }

inline const std::vector<CatalogueCell>& TipiColumnB() {
  static const std::vector<CatalogueCell> cells = {
      {2, "text_slovene", std::string("\xE8\x9A\x9E\xE6\xF0 \xC8\x8A\x8E\xC6\xD0")},
      {3, "int_42", std::string("42")},
      {4, "int_neg7", std::string("-7")},
      {5, "dec_12.5", std::string("12,5")},
      {6, "dec_-0.1234567", std::string("-0,1234567")},
      {7, "dec_0.0000004", std::string("4E-07")},
      {8, "int_123456789", std::string("123456789")},
      {9, "big_1e20", std::string("1E+20")},
      {10, "f_num", std::string("84")},
      {11, "f_text", std::string("AB")},
      {12, "f_bool", std::string("True")},
      {13, "f_err NA", std::nullopt},
      {14, "f_err DIV0", std::nullopt},
      {15, "date", std::string("5.3.2024")},
      {16, "datetime", std::string("5.3.2024 14:30:15")},
      {17, "datetime_midnight", std::string("6.3.2024")},
      {18, "time_only", std::string("14:30:00")},
      {19, "currency_eur", std::string("1234,56")},
      {20, "percent", std::string("0,125")},
      {21, "bool_const", std::string("True")},
      {22, "empty_next", std::string("")},
      {23, "after_empty", std::string("za praznim")},
      {24, "text_number", std::string("12,5")},
      {25, "f_date", std::string("5.3.2024")},
      {26, "text_spaces", std::string("  ABC  ")},
      {27, "text_long300", Long300()},
      {28, "f_othersheet", std::string("111")},
      {29, "date_iso", std::string("31.12.1999")},
      {30, "fixed2", std::string("3,14159")},
      {31, "int_2147483648", std::string("2147483648")},
      {32, "f_err VALUE", std::nullopt},
      {33, "f_empty_string", std::string("")},
      {34, "date_1900-01-15", std::string("15.1.1900")},  // see Row34Text
      {35, "num_literal_EUR", std::string("7,5")},
      {36, "date_long_sl", std::string("5.3.2024")},
      {37, "date_locale_424", std::string("5.3.2024")},
      {38, "date_MM/DD/YY", std::string("5.3.2024")},
      {39, "f_bool_false", std::string("False")},
      {40, "f_err REF", std::nullopt},
      {41, "int_0", std::string("0")},
      {42, "neg_zero_formula", std::string("0")},
      {43, "dec_0.1+0.2", std::string("0,3")},
      {44, "price_like", std::string("1234,5678")},
      {45, "f_err NAME", std::nullopt},
  };
  return cells;
}

}  // namespace ratemover::testdata
