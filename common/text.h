#pragma once
// Small helpers on single-byte (Windows-1250) text.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ratemover {

// Text with every byte of code 0 to 32 (blanks and control characters) removed
// from both ends; bytes above 32, the no-break space 0xA0 included, stay.
std::string Trimmed(std::string_view text);

// True when nothing but bytes of code 0 to 32 is in the text.
bool IsBlank(std::string_view text);

// a to z become A to Z; every other byte stays.
char AsciiUpper(char c);
std::string AsciiUpper(std::string_view text);

// A to Z become a to z; every other byte stays.
inline char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The same bytes but for the case of the letters a to z (markup names,
// charsets, encodings).
inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// A whole number as the configuration and the start row field hold it: leading
// blanks, an optional sign, decimal digits (or hexadecimal after "$" or "0x"),
// nothing after them, within the signed 32-bit range. Anything else is no number.
std::optional<std::int32_t> ReadWholeNumber(std::string_view text);

// Plain decimal, a leading "-" when negative, no leading zeros or grouping.
std::string DecimalText(std::int64_t value);

}  // namespace ratemover
