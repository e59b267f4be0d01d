#include "common/operator_view.h"

#include "common/program_dir.h"

namespace ratemover {

OperatorMessage& OperatorMessage::Text(std::string_view cp1250Text) {
  if (cp1250Text.empty()) return *this;
  if (!pieces_.empty() && !pieces_.back().isName) {
    pieces_.back().bytes.append(cp1250Text);
  } else {
    pieces_.push_back(Piece{std::string(cp1250Text), false});
  }
  return *this;
}

OperatorMessage& OperatorMessage::Name(std::string_view path) {
  pieces_.push_back(Piece{std::string(path), true});
  return *this;
}

std::string OperatorMessage::PlainText() const {
  std::string text;
  for (const Piece& piece : pieces_) text += piece.isName ? TextOfPath(piece.bytes) : piece.bytes;
  return text;
}

}  // namespace ratemover
