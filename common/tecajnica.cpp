#include "common/tecajnica.h"

#include "common/text.h"

namespace ratemover {

int ColumnNumberOf(std::string_view letterText) {
  if (letterText.empty()) return 0;
  const auto pos = kColumnLetters.find(AsciiUpper(letterText.front()));
  return pos == std::string_view::npos ? 0 : static_cast<int>(pos) + 1;
}

Tecajnica WithStartLetters(Tecajnica profile) {
  for (const ProfileColumn& column : kProfileColumns) profile.*column.letter = column.startLetter;
  return profile;
}

Tecajnica DefaultProfile() {
  Tecajnica profile = WithStartLetters(ProfileAtProgramStart());
  profile.name = "TESTNA TE\xC8" "AJNICA";
  return profile;
}

Tecajnica ProfileAtProgramStart() {
  Tecajnica profile;
  profile.startRow = 2;
  return profile;
}

}  // namespace ratemover
