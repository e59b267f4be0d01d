#include "config/name_folding.h"

#include "common/text.h"

namespace ratemover {

namespace {

// The plain letter of č, ć, š, ž, đ and their capitals; 0 for every other byte.
char PlainLetterOf(unsigned char c) {
  switch (c) {
    case 0xE8:  // č
    case 0xE6:  // ć
      return 'c';
    case 0xC8:  // Č
    case 0xC6:  // Ć
      return 'C';
    case 0x9A:  // š
      return 's';
    case 0x8A:  // Š
      return 'S';
    case 0x9E:  // ž
      return 'z';
    case 0x8E:  // Ž
      return 'Z';
    case 0xF0:  // đ
      return 'd';
    case 0xD0:  // Đ
      return 'D';
    default:
      return 0;
  }
}

char UpperOf(char c) {
  switch (static_cast<unsigned char>(c)) {
    case 0xE8:  // č -> Č
      return '\xC8';
    case 0xE6:  // ć -> Ć
      return '\xC6';
    case 0x9A:  // š -> Š
      return '\x8A';
    case 0x9E:  // ž -> Ž
      return '\x8E';
    case 0xF0:  // đ -> Đ
      return '\xD0';
    default:
      return AsciiUpper(c);
  }
}

}  // namespace

std::string BrezSumnikov(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (const char plain = PlainLetterOf(static_cast<unsigned char>(c))) c = plain;
  }
  return result;
}

std::string VelikaCrka(std::string_view oneCharacter) {
  std::string result(oneCharacter);
  for (char& c : result) c = UpperOf(c);
  return result;
}

bool EnakaImena(std::string_view first, std::string_view second) {
  const std::string a = Trimmed(first);
  const std::string b = Trimmed(second);
  if (a.empty() && b.empty()) return true;
  if (a.empty() || a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperOf(a[i]) != UpperOf(b[i])) return false;
  }
  return true;
}

}  // namespace ratemover
