#pragma once
// What the operator would see, written to a text stream: each message in UTF-8,
// each line break (a lone CR in the stored text) as a new line.
#include <ostream>
#include <string>
#include <string_view>

#include "common/operator_view.h"

namespace ratemover::batch {

// A file name printed so that it stays on its line and can be read: a line
// feed as \n, a carriage return as \r, a tab as \t, a backslash as \\, any
// other control character and each byte of a name that is not valid UTF-8 as
// \xHH. Any other name is printed as it is (UTF-8).
std::string EscapedName(std::string_view name);

class StreamOperatorView : public OperatorView {
 public:
  explicit StreamOperatorView(std::ostream& stream) : stream_(stream) {}

  // Names in the message are printed escaped, so that a CR inside a name is not
  // taken for the message's own line break.
  void ShowMessage(const OperatorMessage& message) override;
  void SetProgressVisible(bool) override {}
  void ProcessPendingMessages() override {}

 private:
  std::ostream& stream_;
};

}  // namespace ratemover::batch
