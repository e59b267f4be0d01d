#pragma once
// What the operator sees of a run. The desktop and the batch front end each
// implement it; the core never talks to a toolkit directly.
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ratemover {

// A message: Windows-1250 text with file names in it. A name stays as the file
// system has it, so that each front end shows the real name, also one that
// Windows-1250 cannot hold.
class OperatorMessage {
 public:
  struct Piece {
    std::string bytes;  // Windows-1250 text, or a path's own bytes
    bool isName = false;
  };

  OperatorMessage() = default;
  OperatorMessage(std::string cp1250Text) { Text(cp1250Text); }  // NOLINT: a plain text is a message
  OperatorMessage(const char* cp1250Text) { Text(cp1250Text); }  // NOLINT

  OperatorMessage& Text(std::string_view cp1250Text);
  OperatorMessage& Name(std::string_view path);

  const std::vector<Piece>& Pieces() const { return pieces_; }

  // The whole message as Windows-1250 text, each name as that text can hold it
  // (a character it lacks as '?').
  std::string PlainText() const;

 private:
  std::vector<Piece> pieces_;
};

// A failure whose report names a file: the report shows the real name.
class NamedFailure : public std::runtime_error {
 public:
  explicit NamedFailure(OperatorMessage message)
      : std::runtime_error(message.PlainText()), message_(std::move(message)) {}
  const OperatorMessage& Message() const { return message_; }

 private:
  OperatorMessage message_;
};

class OperatorView {
 public:
  virtual ~OperatorView() = default;

  // A modal message with one OK button; returns when the operator has closed it.
  // A lone CR (13) in the text stands for a line break.
  virtual void ShowMessage(const OperatorMessage& message) = 0;

  // Shows or hides the progress label "IZVAJA SE PREPIS  ...".
  virtual void SetProgressVisible(bool visible) = 0;

  // Lets the window process its pending messages once.
  virtual void ProcessPendingMessages() = 0;
};

}  // namespace ratemover
