#include "common/tecajnica.h"

#include "common/text.h"

namespace ratemover {

int ColumnNumberOf(std::string_view letterText) {
  if (letterText.empty()) return 0;
  const auto pos = kColumnLetters.find(AsciiUpper(letterText.front()));
  return pos == std::string_view::npos ? 0 : static_cast<int>(pos) + 1;
}

Tecajnica DefaultProfile() {
  Tecajnica profile;
  profile.name = "TESTNA TE\xC8" "AJNICA";
  profile.startRow = 2;
  profile.datum = "A";
  profile.simbol = "B";
  profile.tecaj = "D";
  return profile;
}

Tecajnica ProfileAtProgramStart() {
  Tecajnica profile;
  profile.startRow = 2;
  return profile;
}

}  // namespace ratemover
