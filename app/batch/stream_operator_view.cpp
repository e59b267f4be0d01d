#include "app/batch/stream_operator_view.h"

#include "common/cp1250.h"

namespace ratemover::batch {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// C0 controls, DEL and the C1 controls, which a terminal may act upon.
bool IsControl(char32_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

void AppendHexBytes(std::string& out, std::string_view bytes) {
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0xF];
  }
}

bool NeedsEscaping(std::string_view name) {
  for (std::size_t i = 0; i < name.size();) {
    const Utf8Step step = DecodeUtf8At(name, i);
    if (!step.valid || IsControl(step.codePoint)) return true;
    i += step.length;
  }
  return false;
}

}  // namespace

std::string EscapedName(std::string_view name) {
  if (!NeedsEscaping(name)) return std::string(name);
  std::string out;
  for (std::size_t i = 0; i < name.size();) {
    const Utf8Step step = DecodeUtf8At(name, i);
    const std::string_view bytes = name.substr(i, step.length);
    i += step.length;
    if (!step.valid) {
      AppendHexBytes(out, bytes);
      continue;
    }
    switch (step.codePoint) {
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\t':
        out += "\\t";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      default:
        break;
    }
    if (IsControl(step.codePoint)) {
      AppendHexBytes(out, bytes);
    } else {
      out.append(bytes);
    }
  }
  return out;
}

void StreamOperatorView::ShowMessage(const OperatorMessage& message) {
  std::string shown;
  for (const auto& piece : message.Pieces()) {
    if (piece.isName) {
      shown += EscapedName(piece.bytes);
      continue;
    }
    // a lone CR in the stored text is the message's own line break
    std::string text = Utf8FromCp1250(piece.bytes);
    for (char& c : text) {
      if (c == '\r') c = '\n';
    }
    shown += text;
  }
  if (shown.empty() || shown.back() != '\n') shown.push_back('\n');
  stream_ << shown << std::flush;
}

}  // namespace ratemover::batch
