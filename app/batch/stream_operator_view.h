#pragma once
// What the operator would see, written to a text stream: each message in UTF-8,
// each line break (a lone CR in the stored text) as a new line.
#include <ostream>

#include "common/operator_view.h"

namespace ratemover::batch {

class StreamOperatorView : public OperatorView {
 public:
  explicit StreamOperatorView(std::ostream& stream) : stream_(stream) {}
  void ShowMessage(const std::string& text) override;
  void SetProgressVisible(bool) override {}
  void ProcessPendingMessages() override {}

 private:
  std::ostream& stream_;
};

}  // namespace ratemover::batch
