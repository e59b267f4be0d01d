#pragma once
// One column profile, the workbook columns that it names and the column
// letters that name them.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ratemover {

struct Tecajnica {
  std::string name;            // "TECAJNICA="
  std::int32_t startRow = 0;   // "START_VRSTICA=", first data row, counted from 1
  std::string date;            // column letter of the rate date
  std::string symbol;          // column letter of the security symbol
  std::string price;           // column letter of the price
  std::string index;           // column letter of the index flag, empty for none

  bool operator==(const Tecajnica&) const = default;
};

// The last workbook row that a transfer reads: the session reads rows 1 to it
// when it opens a workbook, and the import run stops there.
inline constexpr std::int32_t kLastRow = 3000;

// The workbook columns a profile names, in the order of the table below.
enum class Column { Date, Symbol, Price, Index };

// One workbook column of a profile: its letter in the profile, its key in the
// configuration file, its letter field in the parameters window with the
// field's check and message, and what the import run reads when the letter
// names no column. Texts are Windows-1250.
struct ProfileColumn {
  Column column;
  std::string Tecajnica::*letter;
  std::string_view key;           // its line in the configuration file, after the indentation
  std::string_view startLetter;   // in the default profile and before the configuration is read
  std::int32_t fallbackNumber;    // the column read when the letter names none; 0: none is read
  // The message when the field's letter is not in the letter list; nullptr when
  // the field may hold anything (an empty one too). A column that may hold
  // anything takes part only in the pair checks of "Zaključi".
  const char* notALetter;
  const char* label;              // above the letter field, '&' before the marked letter
  const char* spokenName;         // what a screen reader calls the field
  const char* fieldName;          // the field's object name
};

// Literals are split after each escape so that a following hex letter is not
// swallowed by it (\xE8 is č, \xC8 is Č).
inline constexpr std::array<ProfileColumn, 4> kProfileColumns = {{
    {Column::Date, &Tecajnica::date, "DATUM=", "A", 1, "Datum ni v pravilni koloni! (A, B, C, ..)", "&DATUM",
     "Kolona datuma", "eDatum"},
    {Column::Symbol, &Tecajnica::symbol, "SIMBOL=", "B", 2, "Simbol ni v pravilni koloni! (A, B, C, ..)", "&VP",
     "Kolona simbola (VP)", "eSimbol"},
    {Column::Price, &Tecajnica::price, "TECAJ=", "D", 4, "Tecaj ni v pravilni koloni! (A, B, C, ..)",
     "TE\xC8" "&AJ", "Kolona te\xE8" "aja", "eTecaj"},
    {Column::Index, &Tecajnica::index, "INDEKS=", "", 0, nullptr, "&INDEKS", "Kolona indeksa", "eIndeks"},
}};

constexpr const ProfileColumn& ProfileColumnOf(Column column) {
  return kProfileColumns[static_cast<std::size_t>(column)];
}

constexpr bool ColumnsInTableOrder() {
  for (std::size_t i = 0; i < kProfileColumns.size(); ++i) {
    if (static_cast<std::size_t>(kProfileColumns[i].column) != i) return false;
  }
  return true;
}
static_assert(ColumnsInTableOrder(), "each column stands at its own place in the table");

// The 25 column letters A to Y; a letter's position (from 1) is its column number.
// There is no Z.
inline constexpr std::string_view kColumnLetters = "ABCDEFGHIJKLMNOPQRSTUVWXY";

// The column number (1 to 25) that the first character of the text names, after
// a to z are upper-cased; 0 when the text is empty or its first character is not
// one of the 25 letters.
int ColumnNumberOf(std::string_view letterText);

// The profile with every column letter set to its start letter.
Tecajnica WithStartLetters(Tecajnica profile);

// The profile that is current when the selection names no entry:
// "TESTNA TEČAJNICA", start row 2, columns A, B, D, no index column.
Tecajnica DefaultProfile();

// The current profile at program start, before the configuration is read:
// start row 2, empty name and letters.
Tecajnica ProfileAtProgramStart();

}  // namespace ratemover
