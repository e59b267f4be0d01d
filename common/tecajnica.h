#pragma once
// One column profile and the column letters that it names.
#include <cstdint>
#include <string>
#include <string_view>

namespace ratemover {

struct Tecajnica {
  std::string name;            // "TECAJNICA="
  std::int32_t startRow = 0;   // "START_VRSTICA=", first data row, counted from 1
  std::string datum;           // "DATUM=": column letter of the rate date
  std::string simbol;          // "SIMBOL=": column letter of the security symbol
  std::string tecaj;           // "TECAJ=": column letter of the price
  std::string indeks;          // "INDEKS=": column letter of the index flag, empty for none

  bool operator==(const Tecajnica&) const = default;
};

// The 25 column letters A to Y; a letter's position (from 1) is its column number.
// There is no Z.
inline constexpr std::string_view kColumnLetters = "ABCDEFGHIJKLMNOPQRSTUVWXY";

// The column number (1 to 25) that the first character of the text names, after
// a to z are upper-cased; 0 when the text is empty or its first character is not
// one of the 25 letters.
int ColumnNumberOf(std::string_view letterText);

// The profile that is current when the selection names no entry:
// "TESTNA TEČAJNICA", start row 2, columns A, B, D, no index column.
Tecajnica DefaultProfile();

// The current profile at program start, before the configuration is read:
// start row 2, empty name and letters.
Tecajnica ProfileAtProgramStart();

}  // namespace ratemover
