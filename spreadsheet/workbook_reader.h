#pragma once
// Reading the active sheet of a workbook file, whatever its format.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "spreadsheet/gobject_ref.h"
#include "spreadsheet/open_failure.h"
#include "spreadsheet/sheet_cells.h"
#include "spreadsheet/workbook_format.h"

struct stat;

typedef struct _GsfInput GsfInput;
typedef struct _GsfInfile GsfInfile;

namespace ratemover::spreadsheet {

// Whether the sheet was read and, when it was not, why.
struct SheetRead {
  std::optional<WorkbookError> failure;  // none: the sheet was read
  std::optional<WorkbookFormat> format;  // as the reader that read it recognised it
  bool activeIsWorksheet = true;         // false: a chart, macro or dialog sheet, whose every read fails
  explicit operator bool() const { return !failure.has_value(); }
};

// Reads rows 1 to rowLimit of the active sheet into cells, and says which
// format the workbook is in; the cells stay empty when the workbook cannot be opened: not a workbook, encrypted, or
// damaged in what is read (every part or stream that is read is checked
// whole, not only the rows up to the limit).
SheetRead ReadActiveSheet(GsfInput* input, std::int32_t rowLimit, SheetCells& cells);

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

  GsfInput* Input() const { return input_.get(); }

  // Throws WorkbookError(Changed) when the file is no longer as it was opened,
  // or its name now leads to another file (or none).
  void CheckUnchanged() const;
  // Throws WorkbookError(Changed) when the bytes of the opened file may have
  // changed: its size or modification time, or its change time while it kept
  // its links. A file that a newer one replaced under its name (which changes
  // the old one's link count and change time only) still reads as it was.
  void CheckContentUnchanged() const;

 private:
  std::string path_;
  GObjectRef<GsfInput> input_;  // owns the descriptor
  int descriptor_ = -1;
  struct Identity {
    unsigned long long device, inode, links;
    long long size, modifiedSeconds, modifiedNanoseconds, changedSeconds, changedNanoseconds;
    bool operator==(const Identity&) const = default;
  } opened_{};
  static Identity IdentityOf(const struct stat& info);
};

// Reads the sheet from the file, then checks that the file did not change
// meanwhile: the whole check, or with contentOnly only its content's.
SheetRead ReadActiveSheet(const WorkbookFile& file, std::int32_t rowLimit, SheetCells& cells, bool contentOnly = false);
SheetRead ReadActiveSheetFromFile(const std::string& nativePath, std::int32_t rowLimit, SheetCells& cells);

// The readers of the formats, on an opened container.
bool ReadBiffActiveSheet(GsfInfile* ole, std::int32_t rowLimit, SheetCells& cells);
// Each throws WorkbookError, with its reason, when the workbook cannot be
// opened. The .xls reader says false for a workbook it cannot open.
void ReadXlsxActiveSheet(GsfInfile* zip, std::int32_t rowLimit, SheetCells& cells);
void ReadOdsActiveSheet(GsfInfile* zip, std::int32_t rowLimit, SheetCells& cells);

// Excel 2.x to 4.0 worksheets and Excel 4.0 workbooks: a bare record stream
// starting with a BOF record. False when the input does not start so; a
// damaged stream throws WorkbookError.
bool IsBiff234Stream(GsfInput* input);
bool ReadBiff234ActiveSheet(GsfInput* input, std::int32_t rowLimit, SheetCells& cells);
bool ReadXlsbActiveSheet(GsfInfile* zip, std::int32_t rowLimit, SheetCells& cells);

// XML Spreadsheet 2003: an XML document whose root is Workbook in the
// spreadsheet namespace, whatever the file's name. The reader throws
// WorkbookError when the document cannot be opened.
bool IsXmlSpreadsheet2003(GsfInput* input);
void ReadXml2003ActiveSheet(GsfInput* input, std::int32_t rowLimit, SheetCells& cells);

// Web pages: false when the input does not start as a page does. A page is
// read `pieceSize` bytes at a time, never whole; it reads the same in pieces
// of any size.
bool IsWebPage(GsfInput* input);
void ReadHtmlActiveSheet(GsfInput* input, std::int32_t rowLimit, SheetCells& cells,
                         std::size_t pieceSize = 64 * 1024);
// Delimited text: false when the input is not text (the claim of last resort).
bool ReadCsvActiveSheet(GsfInput* input, std::int32_t rowLimit, SheetCells& cells);

}  // namespace ratemover::spreadsheet
