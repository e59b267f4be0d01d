#include "app/batch/stream_operator_view.h"

#include <algorithm>

#include "common/cp1250.h"

namespace ratemover::batch {

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool HasControl(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return IsControl(static_cast<unsigned char>(c)); });
}

void AppendEscaped(std::string& out, char c) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  switch (c) {
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    case '\\':
      out += "\\\\";
      return;
    default:
      break;
  }
  const auto byte = static_cast<unsigned char>(c);
  if (!IsControl(byte)) {
    out += c;
    return;
  }
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 0xF];
}

}  // namespace

std::string EscapedName(std::string_view name) {
  if (!HasControl(name)) return std::string(name);
  std::string out;
  for (const char c : name) AppendEscaped(out, c);
  return out;
}

void StreamOperatorView::SetNames(std::vector<std::string> names) {
  names_.clear();
  for (auto& name : names) {
    if (HasControl(name)) names_.push_back(std::move(name));
  }
  // where one name begins with another, the longer one is the name quoted
  std::sort(names_.begin(), names_.end(), [](const auto& a, const auto& b) { return a.size() > b.size(); });
}

void StreamOperatorView::ShowMessage(const std::string& text) {
  std::string shown;
  std::string_view rest = text;
  while (!rest.empty()) {
    const auto name = std::find_if(names_.begin(), names_.end(), [&](const auto& n) { return rest.starts_with(n); });
    if (name != names_.end()) {
      shown += EscapedName(*name);
      rest.remove_prefix(name->size());
      continue;
    }
    const char c = rest.front();
    rest.remove_prefix(1);
    shown += c == '\r' ? '\n' : c;
  }
  shown = Utf8FromCp1250(shown);
  if (shown.empty() || shown.back() != '\n') shown.push_back('\n');
  stream_ << shown << std::flush;
}

}  // namespace ratemover::batch
