#pragma once
// What the readers share with the session that hands them a workbook: the
// package as opened once, and each reader's row of the table of formats.
// A row says where its content is recognised (inside an OLE2 file, inside a
// ZIP package, or in the bare file), how it is recognised, how its active
// sheet is read, and the size of its sheets; each reader defines its own row
// beside its reading. The rows are tried in the table's order; a new format
// is a new reader file and its row in the list.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "spreadsheet/sheet_cells.h"
#include "spreadsheet/sheet_limits.h"
#include "spreadsheet/workbook_format.h"
#include "spreadsheet/workbook_reader.h"

typedef struct _GsfInput GsfInput;
typedef struct _GsfInfile GsfInfile;

namespace ratemover::spreadsheet {

class ZipPackage;

// What a row recognises its content in.
enum class Container { Ole2, Zip, Bare };

// The file as far as it has been opened, once, before any row sees it: the
// container and, for a ZIP package, its members as the central directory
// lists them.
struct OpenedPackage {
  GsfInput* input = nullptr;
  GsfInfile* container = nullptr;        // none for a bare file
  const ZipPackage* package = nullptr;   // a ZIP package only
};

// Every reader reads the same way: rows 1 to rowLimit of the active sheet go
// into cells, and the format the reader recognised the workbook as comes
// back; a workbook that cannot be opened throws WorkbookError with the reason.
using ReadSheet = WorkbookFormat (*)(const OpenedPackage& opened, std::int32_t rowLimit, SheetCells& cells);

struct FormatRow {
  std::string_view name;
  std::span<const WorkbookFormat> formats;  // as the reader reports them after reading
  Container container;
  bool (*recognise)(const OpenedPackage& opened);
  ReadSheet read;
  SheetSize size;
};

// Every row, in the order they are tried.
std::span<const FormatRow* const> FormatTable();

// The row of that name ("xls", "csv", ...); throws std::out_of_range for none.
const FormatRow& FormatRowNamed(std::string_view name);

// ReadActiveSheet on an input the caller opened (bytes in memory), without
// the checks that the file stayed as it was.
SheetRead ReadActiveSheet(GsfInput* input, std::int32_t rowLimit, SheetCells& cells);

// Whether the OLE2 file holds a stream of this name at its root, without
// regard to letter case.
bool HasOleStream(GsfInfile* ole, const char* name);

// A web page read `pieceSize` bytes at a time, never whole; it reads the same
// in pieces of any size. The row reads it in pieces of 64 KiB.
WorkbookFormat ReadHtmlInPieces(GsfInput* input, std::int32_t rowLimit, SheetCells& cells, std::size_t pieceSize);

}  // namespace ratemover::spreadsheet
