#pragma once
// Reading the active sheet of a workbook file, whatever its format.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "spreadsheet/open_failure.h"
#include "spreadsheet/sheet_cells.h"
#include "spreadsheet/sheet_limits.h"
#include "spreadsheet/workbook_format.h"

struct stat;

namespace ratemover::spreadsheet {

// Whether the sheet was read and, when it was not, why; when it was, the
// format the reader recognised the workbook as and the size of its sheets.
struct SheetRead {
  std::optional<WorkbookError> failure;  // none: the sheet was read
  std::optional<WorkbookFormat> format;  // as the reader that read it recognised it
  SheetSize size = kLargeSheet;          // cells beyond it are outside the sheet
  bool activeIsWorksheet = true;         // false: a chart, macro or dialog sheet, whose every read fails
  explicit operator bool() const { return !failure.has_value(); }
};

// The workbook file opened for reading, with what it was when opened: its
// size, modification and change times, and the file behind its name.
class WorkbookFile {
 public:
  // Throws WorkbookError(NotReadable) when the file is missing or not a
  // regular file (a device or a pipe would never end).
  explicit WorkbookFile(const std::string& nativePath);
  ~WorkbookFile();
  WorkbookFile(const WorkbookFile&) = delete;
  WorkbookFile& operator=(const WorkbookFile&) = delete;

  // Throws WorkbookError(Changed) when the file is no longer as it was opened,
  // or its name now leads to another file (or none).
  void CheckUnchanged() const;
  // Throws WorkbookError(Changed) when the bytes of the opened file may have
  // changed: its size or modification time, or its change time while it kept
  // its links. A file that a newer one replaced under its name (which changes
  // the old one's link count and change time only) still reads as it was.
  void CheckContentUnchanged() const;

 private:
  friend SheetRead ReadActiveSheet(const WorkbookFile& file, std::int32_t rowLimit, SheetCells& cells,
                                   bool contentOnly);
  struct Input;  // the library's stream over the file; it owns the descriptor
  std::string path_;
  std::unique_ptr<Input> input_;
  int descriptor_ = -1;
  struct Identity {
    unsigned long long device, inode, links;
    long long size, modifiedSeconds, modifiedNanoseconds, changedSeconds, changedNanoseconds;
    bool operator==(const Identity&) const = default;
  } opened_{};
  static Identity IdentityOf(const struct stat& info);
};

// Reads rows 1 to rowLimit of the active sheet into cells, whatever the
// format, told by the content alone; the cells stay empty when the workbook
// cannot be opened: not a workbook, encrypted, or damaged in what is read
// (every part or stream that is read is checked whole, not only the rows up
// to the limit). Then checks that the file did not change meanwhile: the
// whole check, or with contentOnly only its content's.
SheetRead ReadActiveSheet(const WorkbookFile& file, std::int32_t rowLimit, SheetCells& cells, bool contentOnly = false);
SheetRead ReadActiveSheetFromFile(const std::string& nativePath, std::int32_t rowLimit, SheetCells& cells);

}  // namespace ratemover::spreadsheet
