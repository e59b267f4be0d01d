#pragma once
// What the operator would see, written to a text stream: each message in UTF-8,
// each line break (a lone CR in the stored text) as a new line.
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "common/operator_view.h"

namespace ratemover::batch {

// A name with control characters, printed so that it stays on its line: a line
// feed as \n, a carriage return as \r, a tab as \t, a backslash as \\, any
// other control character as \xHH. A name without control characters is
// printed as it is.
std::string EscapedName(std::string_view name);

class StreamOperatorView : public OperatorView {
 public:
  explicit StreamOperatorView(std::ostream& stream) : stream_(stream) {}

  // Names (Windows-1250 paths) that messages may quote. Where one stands in a
  // message it is printed escaped, so that a CR inside a name is not taken for
  // the message's own line break.
  void SetNames(std::vector<std::string> names);

  void ShowMessage(const std::string& text) override;
  void SetProgressVisible(bool) override {}
  void ProcessPendingMessages() override {}

 private:
  std::ostream& stream_;
  std::vector<std::string> names_;  // only those with control characters, longest first
};

}  // namespace ratemover::batch
