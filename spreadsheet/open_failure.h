#pragma once
// Why a workbook cannot be opened. Every reader says why in the same words, so
// that a test of a damaged file fails when the file is refused for another
// reason, and so that the batch program can tell the operator.
#include <stdexcept>
#include <string>
#include <string_view>

namespace ratemover::spreadsheet {

enum class OpenFailure {
  NotReadable,    // missing, not a regular file, or the system refused to read it
  NotAWorkbook,   // no container or text form that any reader knows
  UnknownFormat,  // a known container (OLE2, ZIP) holding no workbook that is read
  Encrypted,      // protected by a password
  Damaged,        // broken structure or a failed check in what is read
  TooLarge,       // a part or a sheet beyond the readers' bounds
  Changed,        // the file changed while it was read
};

// A few English words for each reason, as the cell listing prints them (its
// first line is read by scripts, so these words stay as they are).
std::string_view OpenFailureText(OpenFailure reason);

// The reason as the operator reads it: Slovene words in Windows-1250 that
// complete "delovnega zvezka ni mogoče odpreti: " (lower case, no full stop).
std::string_view OpenFailureWords(OpenFailure reason);

// The same words as a sentence of their own, for a line in a message box.
std::string OpenFailureSentence(OpenFailure reason);

// Thrown by a reader that finds the workbook cannot be opened; the detail names
// what was hit (a part, a record, a check) in plain ASCII.
class WorkbookError : public std::runtime_error {
 public:
  WorkbookError(OpenFailure reason, std::string detail)
      : std::runtime_error(std::string(OpenFailureText(reason)) + (detail.empty() ? "" : ": " + detail)),
        reason_(reason),
        detail_(std::move(detail)) {}
  OpenFailure Reason() const { return reason_; }
  const std::string& Detail() const { return detail_; }

 private:
  OpenFailure reason_;
  std::string detail_;
};

// [[noreturn]] shorthand for the readers: throw WorkbookError(Damaged, detail).
[[noreturn]] inline void ThrowDamaged(std::string detail) {
  throw WorkbookError(OpenFailure::Damaged, std::move(detail));
}

}  // namespace ratemover::spreadsheet
