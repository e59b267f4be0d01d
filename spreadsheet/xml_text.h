#pragma once
// The text rules that every XML reader shares: XML's white space, a value
// trimmed of it, and a whole number as the formats write one.
#include <cstdint>
#include <optional>
#include <string_view>

namespace ratemover::spreadsheet {

inline bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

inline std::string_view TrimXmlSpace(std::string_view text) {
  while (!text.empty() && IsXmlSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsXmlSpace(text.back())) text.remove_suffix(1);
  return text;
}

// A non-negative whole number of at most 10 digits, surrounding white space
// allowed; none for anything else.
inline std::optional<std::int64_t> ParseXmlDigits(std::string_view text) {
  text = TrimXmlSpace(text);
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace ratemover::spreadsheet
