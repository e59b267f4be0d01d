#include "app/batch/stream_operator_view.h"

#include "common/cp1250.h"

namespace ratemover::batch {

void StreamOperatorView::ShowMessage(const std::string& text) {
  std::string shown = Utf8FromCp1250(text);
  for (char& c : shown) {
    if (c == '\r') c = '\n';
  }
  if (shown.empty() || shown.back() != '\n') shown.push_back('\n');
  stream_ << shown << std::flush;
}

}  // namespace ratemover::batch
