#pragma once
// Conversion between the program's single-byte text (Windows-1250) and Unicode.
// The program keeps Windows-1250 bytes inside; only text crossing an edge (a
// widget, a file-system path, a library's UTF-8 or UTF-16) is converted.
#include <cstddef>
#include <string>
#include <string_view>

namespace ratemover {

// The Unicode code point of one Windows-1250 byte. The five bytes that the code
// page leaves undefined map to the C1 controls of the same number, so every byte
// survives a round trip.
char32_t CodePointOfCp1250(unsigned char byte);

// The Windows-1250 byte of a code point, or '?' when the code page lacks it.
char Cp1250OfCodePoint(char32_t codePoint);

// Appends the code point (at most U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, char32_t codePoint);

// One step through UTF-8 text: the character at a position and how many bytes
// it takes. A malformed sequence (a stray byte, a cut or overlong sequence, a
// surrogate) is not valid and takes the bytes up to the one that broke it, at
// least one.
struct Utf8Step {
  char32_t codePoint = 0;
  std::size_t length = 1;
  bool valid = false;
};
Utf8Step DecodeUtf8At(std::string_view utf8, std::size_t pos);

// Appends the UTF-8 form of a code point (at most U+10FFFF).
void AppendUtf8(std::string& out, char32_t codePoint);

// UTF-8 to Windows-1250; a malformed sequence and a character the code page
// lacks each become '?'.
std::string Cp1250FromUtf8(std::string_view utf8);

// One step through UTF-16 code units, as DecodeUtf8At steps through UTF-8: a
// surrogate pair is one character (beyond the basic plane, so never in the
// code page); a lone surrogate is not valid and takes its one unit. A high
// surrogate that ends the units is `cut`: its pair may come with more units.
struct Utf16Step {
  char32_t codePoint = 0;
  std::size_t length = 1;
  bool valid = false;
  bool cut = false;
};
Utf16Step DecodeUtf16At(std::u16string_view units, std::size_t pos);

// UTF-16 code units to Windows-1250 a run at a time, for text that comes in
// pieces: a pair that the end of one run cuts is joined with the next run.
// A lone surrogate, like a character the code page lacks, becomes '?'.
class Cp1250FromUtf16Runs {
 public:
  void Append(std::u16string_view units, std::string& out);
  // The same for `count` code units stored little-endian at `bytes`.
  void AppendLittleEndian(const unsigned char* bytes, std::size_t count, std::string& out);
  // After the last run: a high surrogate still waiting for its pair is '?'.
  void Finish(std::string& out) {
    if (waitingHigh_ != 0) out.push_back('?');
    waitingHigh_ = 0;
  }

 private:
  template <typename UnitAt>
  void AppendUnits(UnitAt unitAt, std::size_t count, std::string& out);
  char16_t waitingHigh_ = 0;
};

// UTF-16 code units (little-endian order already resolved) to Windows-1250,
// by the same rule.
std::string Cp1250FromUtf16(std::u16string_view utf16);

// Windows-1250 to UTF-8.
std::string Utf8FromCp1250(std::string_view cp1250);

}  // namespace ratemover
