#pragma once
// The formats the session reads, a row each: where its content is recognised
// (inside an OLE2 file, inside a ZIP package, or in the bare file), how it is
// recognised, how its active sheet is read, and the size of its sheets. The
// rows are tried in the table's order; a new format is a new reader and a new
// row here.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "spreadsheet/sheet_cells.h"
#include "spreadsheet/sheet_limits.h"
#include "spreadsheet/workbook_format.h"

typedef struct _GsfInput GsfInput;
typedef struct _GsfInfile GsfInfile;

namespace ratemover::spreadsheet {

class ZipDirectory;

// What a row recognises its content in.
enum class Container { Ole2, Zip, Bare };

// The file as far as it has been opened: the container and, for a ZIP
// package, the members its central directory lists.
struct OpenedInput {
  GsfInput* input = nullptr;
  GsfInfile* container = nullptr;       // none for a bare file
  const ZipDirectory* members = nullptr;  // a ZIP package only
};

struct FormatRow {
  std::string_view name;
  std::span<const WorkbookFormat> formats;  // as the reader reports them after reading
  Container container;
  bool (*recognise)(const OpenedInput& opened);
  // Reads rows 1 to rowLimit of the active sheet; throws WorkbookError when
  // the workbook cannot be opened.
  void (*read)(const OpenedInput& opened, std::int32_t rowLimit, SheetCells& cells);
  SheetSize size;
};

// Whether the OLE2 file holds a stream of this name at its root, without
// regard to letter case.
bool HasOleStream(GsfInfile* ole, const char* name);

// Every row, in the order they are tried.
std::span<const FormatRow> FormatTable();

// The size of the sheets of a workbook read in the format; kLargeSheet when
// no format is known.
SheetSize SheetSizeOf(std::optional<WorkbookFormat> format);

}  // namespace ratemover::spreadsheet
