#pragma once
// A cell as a workbook file stores it, before it becomes the cell's text.
#include <cstdint>
#include <string>
#include <string_view>

namespace ratemover::spreadsheet {

// How a number's format makes it read.
enum class NumberStyle : std::uint8_t {
  General,   // the general decimal form
  DateTime,  // a date or time format: the regional short date, and the time when not midnight
  Currency,  // a currency format: the value rounded to four decimals
};

enum class DateSystem { Base1900, Base1904 };

// Whether the text is the name of an error value as a spreadsheet shows it;
// pages and files without an error type of their own write a formula's error
// result so.
inline bool IsErrorName(std::string_view text) {
  for (const std::string_view name : {"#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A"}) {
    if (text == name) return true;
  }
  return false;
}

struct CellValue {
  enum class Kind : std::uint8_t {
    Empty,
    Text,     // text holds Windows-1250 bytes
    Number,   // number and style
    Boolean,  // boolean
    Error,    // an error value, constant or from a formula, or a formula without a cached result
  };
  Kind kind = Kind::Empty;
  std::string text;
  double number = 0.0;
  NumberStyle style = NumberStyle::General;
  bool boolean = false;

  static CellValue Empty() { return {}; }
  static CellValue OfText(std::string cp1250) {
    CellValue v;
    v.kind = Kind::Text;
    v.text = std::move(cp1250);
    return v;
  }
  static CellValue OfNumber(double number, NumberStyle style = NumberStyle::General) {
    CellValue v;
    v.kind = Kind::Number;
    v.number = number;
    v.style = style;
    return v;
  }
  static CellValue OfBoolean(bool value) {
    CellValue v;
    v.kind = Kind::Boolean;
    v.boolean = value;
    return v;
  }
  static CellValue OfError() {
    CellValue v;
    v.kind = Kind::Error;
    return v;
  }
};

}  // namespace ratemover::spreadsheet
