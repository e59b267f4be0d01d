#pragma once
// What the operator sees of a run. The desktop and the batch front end each
// implement it; the core never talks to a toolkit directly.
#include <string>

namespace ratemover {

class OperatorView {
 public:
  virtual ~OperatorView() = default;

  // A modal message with one OK button; returns when the operator has closed it.
  // The text is Windows-1250; a lone CR (13) stands for a line break.
  virtual void ShowMessage(const std::string& text) = 0;

  // Shows or hides the progress label "IZVAJA SE PREPIS  ...".
  virtual void SetProgressVisible(bool visible) = 0;

  // Lets the window process its pending messages once.
  virtual void ProcessPendingMessages() = 0;
};

}  // namespace ratemover
