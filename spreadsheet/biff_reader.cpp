// The .xls reader: Excel 97-2003 (BIFF8) and Excel 5.0/95 (BIFF5/BIFF7)
// workbooks in an OLE2 compound file.
//
// The workbook stream is a sequence of records (type, length, data). The
// globals substream comes first: code page, date system, the active sheet,
// the sheet directory, number formats, cell formats and the shared strings.
// Each sheet is a substream of its own that the directory locates by offset.
// Only the active sheet is read, and of it only the rows up to the limit.
//
// Every length, count and offset comes from the file and is checked against
// the bytes that are really there; nothing is allocated by a number that the
// file merely claims.
//
// BIFF carries no checksum, so its structure is all that tells a whole
// workbook from a damaged one, and all of it is checked: the records chain
// from the globals' BOF to their EOF and on into the first sheet without a
// gap; the shared-string table parses whole, to its last byte, and holds
// no more strings than it declares; the active sheet is read to its own EOF
// record (rows beyond the limit are checked, not stored), its cells come in
// ascending order (row, then column: every writer stores them so), and its
// EOF ends exactly where the next sheet begins or where the stream ends
// (after it only padding). A formula record is exactly as long as its
// expression, parsed token by token, with the data that its array constants
// and reference subexpressions keep after it, unless a token of a size not
// known here ends the walk; a ROW record is exactly 16 bytes. A damaged
// length that made either swallow the records after it would otherwise
// still chain.
// A sheet never ends where a row number says. Writers do store wrong
// DIMENSIONS and leave out INDEX and DBCELL records, so those are not read.
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "spreadsheet/biff_formula.h"
#include "spreadsheet/biff_records.h"
#include "spreadsheet/biff_values.h"
#include "spreadsheet/code_page.h"
#include "spreadsheet/gobject_ref.h"
#include "spreadsheet/little_endian.h"
#include "spreadsheet/number_format.h"
#include "spreadsheet/open_failure.h"
#include "spreadsheet/format_table.h"

namespace ratemover::spreadsheet {

namespace {

using namespace biff;

// Record types.
constexpr std::uint16_t kBof = 0x0809;
constexpr std::uint16_t kWindow1 = 0x003D;
constexpr std::uint16_t kBoundsheet = 0x0085;
constexpr std::uint16_t kFormat = 0x041E;
constexpr std::uint16_t kXf = 0x00E0;
constexpr std::uint16_t kSst = 0x00FC;
constexpr std::uint16_t kRecalcId = 0x01C1;
constexpr std::uint16_t kMulRk = 0x00BD;
constexpr std::uint16_t kLabelSst = 0x00FD;
constexpr std::uint16_t kRString = 0x00D6;
constexpr std::uint16_t kFormula = 0x0006;
constexpr std::uint16_t kMulBlank = 0x00BE;
constexpr std::uint16_t kRow = 0x0208;
constexpr std::uint16_t kDbCell = 0x00D7;
constexpr std::uint16_t kShrFmla = 0x04BC;
constexpr std::uint16_t kShrFmlaBiff5 = 0x00BC;  // the shared formula as Excel 5 for the Mac stores it
constexpr std::uint16_t kUncalced = 0x005E;
constexpr std::uint16_t kWsBool = 0x0081;
constexpr std::uint16_t kWsBoolDialog = 0x0010;  // the sheet is a dialog sheet

// BOF versions and substream types.
constexpr std::uint16_t kBiff8 = 0x0600;
constexpr std::uint16_t kBiff5 = 0x0500;
constexpr std::uint16_t kGlobalsType = 0x0005;
constexpr std::uint16_t kModuleType = 0x0006;

struct Sheet {
  std::uint32_t offset;
  std::uint8_t type;  // 0 worksheet, 1 macro sheet, 2 chart, 6 module
};

struct Globals {
  explicit Globals(const Stream& stream) : sst(stream) {}
  std::uint16_t version = kBiff8;
  bool hasRecalcId = false;
  DateSystem dateSystem = DateSystem::Base1900;
  std::int64_t activeTab = -1;
  std::vector<Sheet> sheets;
  std::unordered_map<std::uint16_t, NumberStyle> formatStyles;  // of each FORMAT record's code; the last counts
  std::vector<std::uint16_t> xfFormats;                         // format id of each XF
  std::vector<NumberStyle> xfStyles;
  Pieces sst;
  std::vector<Pieces::Position> strings;  // where each shared string starts
  CodePage codePage;
  std::uint64_t end = 0;  // just after the EOF record
};

// How a number in a cell of an XF reads. The built-in date, time and
// currency formats keep their meaning whatever code a writer stored for them.
NumberStyle StyleOfFormat(const Globals& globals, std::uint16_t id) {
  if (id < 50) {
    const NumberStyle builtin = StyleOfBuiltinFormat(id);
    if (builtin != NumberStyle::General) return builtin;
  }
  const auto it = globals.formatStyles.find(id);
  return it != globals.formatStyles.end() ? it->second : StyleOfBuiltinFormat(id);
}

// Where each shared string starts, so that a LABELSST can decode its string
// when it is read. The table must parse whole: exactly the number of strings
// that it declares, ending exactly where its last CONTINUE ends. A string
// length or option byte that damage changed shifts every string after it, so
// the walk stops short, runs over, or meets bytes that cannot start a string.
void IndexSharedStrings(Globals& globals) {
  if (globals.sst.Empty()) return;
  Pieces::Reader reader(globals.sst, {});
  std::uint32_t total;
  std::uint32_t count;
  if (!reader.U32(total) || !reader.U32(count)) ThrowDamaged("the shared-string table is shorter than its header");
  while (globals.strings.size() < count) {
    // Writers do store a count larger than the strings they write (the total
    // of the cells' references in its place): a table that ends cleanly
    // between two strings holds what it holds, and a cell that names a string
    // past them is still refused.
    if (reader.AtEnd()) break;
    const Pieces::Position start = reader.At();
    if (!Pieces::ReadUnicodeString(reader, nullptr)) {
      ThrowDamaged("shared string " + std::to_string(globals.strings.size()) + " of the " + std::to_string(count) +
                   " that the table declares does not parse");
    }
    globals.strings.push_back(start);
  }
  if (!reader.AtEnd()) {
    ThrowDamaged("the shared-string table goes on after the " + std::to_string(count) + " strings that it declares");
  }
}

// The workbook globals, from the stream's first record to their EOF.
void ReadGlobals(RecordCursor& cursor, Globals& globals) {
  Record record;
  if (cursor.Next(record) != RecordCursor::Step::Record) ThrowDamaged("the workbook stream holds no record");
  if (record.type == 0x0009 || record.type == 0x0209 || record.type == 0x0409) {
    throw WorkbookError(OpenFailure::UnknownFormat, "a BIFF2 to BIFF4 worksheet inside a compound file");
  }
  if (record.type != kBof || record.length < 4) ThrowDamaged("the workbook stream does not begin with a BOF record");
  const std::uint8_t* bof = cursor.Data(record);
  globals.version = U16(bof);
  if (globals.version != kBiff8 && globals.version != kBiff5) {
    throw WorkbookError(OpenFailure::UnknownFormat, "a workbook stream of BIFF version " + Hex16(globals.version));
  }
  if (U16(bof + 2) != kGlobalsType) ThrowDamaged("the workbook stream does not begin with the workbook globals");
  const bool biff8 = globals.version == kBiff8;
  globals.codePage.Set(biff8 ? 1200 : 1252);
  bool inSst = false;
  for (;;) {
    record = cursor.Expect("the workbook globals");
    const std::uint8_t* p = cursor.Data(record);
    const std::size_t n = record.length;
    if (record.type == kContinue) {
      if (inSst) globals.sst.Add(record);
      continue;
    }
    inSst = false;
    switch (record.type) {
      case kEof:
        globals.end = cursor.Position();
        globals.xfStyles.reserve(globals.xfFormats.size());
        for (const std::uint16_t id : globals.xfFormats) globals.xfStyles.push_back(StyleOfFormat(globals, id));
        IndexSharedStrings(globals);
        return;
      case kBof:
        ThrowDamaged("a BOF record at offset " + std::to_string(record.offset - 4) + " inside the workbook globals");
      case kFilepass:
        throw WorkbookError(OpenFailure::Encrypted, "the workbook globals hold a FILEPASS record");
      case kCodepage:
        if (n >= 2 && !biff8) globals.codePage.Set(U16(p));
        break;
      case kDatemode:
        if (n >= 2) globals.dateSystem = U16(p) == 1 ? DateSystem::Base1904 : DateSystem::Base1900;
        break;
      case kWindow1:
        if (n >= 12 && globals.activeTab < 0) globals.activeTab = U16(p + 10);
        break;
      case kRecalcId:
        globals.hasRecalcId = true;
        break;
      case kBoundsheet:
        if (n < 6) ThrowDamaged("a BOUNDSHEET record of " + std::to_string(n) + " bytes");
        globals.sheets.push_back({U32(p), p[5]});
        break;
      case kFormat: {
        if (n < 3) break;
        std::string code;
        if (biff8) {
          if (!ReadRecordUnicodeString(p + 2, n - 2, false, code)) break;
        } else {
          const std::size_t length = std::min<std::size_t>(p[2], n - 3);
          globals.codePage.Append(p + 3, length, code);
        }
        globals.formatStyles[U16(p)] = StyleOfFormatCode(code);
        break;
      }
      case kXf:
        if (n < 4) ThrowDamaged("an XF record of " + std::to_string(n) + " bytes");
        globals.xfFormats.push_back(U16(p + 2));
        break;
      case kSst:
        if (!biff8) break;
        if (!globals.sst.Empty()) ThrowDamaged("a second shared-string table in the workbook globals");
        globals.sst.Add(record);
        inSst = true;
        break;
      default:
        break;
    }
  }
}

class SheetReader {
 public:
  SheetReader(const Stream& stream, Globals& globals, std::int32_t rowLimit, SheetCells& cells)
      : globals_(globals), rowLimit_(rowLimit), cells_(cells), biff8_(globals.version == kBiff8), pieces_(stream) {}

  // Reads the sheet substream from its BOF to its EOF; the rows beyond the
  // limit are checked like the others but not stored. False for a chart or
  // module, which holds no cells and is not walked. Throws WorkbookError when
  // the workbook cannot be opened.
  bool Read(RecordCursor& cursor) {
    Record record = cursor.Expect("the active sheet");
    if (record.type != kBof || record.length < 4) ThrowDamaged("the active sheet does not begin with a BOF record");
    const std::uint16_t type = U16(cursor.Data(record) + 2);
    if (type == kChartType || type == kModuleType) return false;
    if (type != kWorksheetType && type != kMacroSheetType) {
      ThrowDamaged("the active sheet's BOF names substream type " + Hex16(type));
    }
    worksheet_ = type == kWorksheetType;
    int depth = 0;  // inside an embedded chart
    // The cells stand together in one table of rows, cells and the records
    // that belong to them; whatever else a sheet holds comes before or after
    // it. A cell record damaged into another type ends the table early, and
    // the cells after it show it.
    bool inCellTable = false;
    bool cellTableEnded = false;
    std::uint16_t previous = kBof;
    for (;;) {
      record = cursor.Expect("the active sheet");
      // most records are the sheet's own cells: they take the shortest way
      if (depth == 0 && IsCell(record.type)) {
        if (cellTableEnded) ThrowAfterCellTable(record);
        inCellTable = true;
        previous = record.type;
        Cell(cursor, record);
        continue;
      }
      if (record.type == kBof) {
        // only a chart is embedded in a sheet; any other BOF here is a
        // damaged record
        if (record.length < 4 || U16(cursor.Data(record) + 2) != kChartType) {
          ThrowDamaged("a BOF record at offset " + std::to_string(record.offset - 4) + " inside the active sheet");
        }
        ++depth;
        cellTableEnded = inCellTable;
        continue;
      }
      if (record.type == kEof) {
        if (depth == 0) return true;
        --depth;
        continue;
      }
      if (depth > 0) continue;
      const bool ofCellTable = record.type == kRow;  // cells took the way above
      if (ofCellTable && cellTableEnded) ThrowAfterCellTable(record);
      // a formula's text result is read with its formula; a STRING that no
      // formula claimed is a cell damaged into it
      if (record.type == kString) {
        ThrowDamaged("STRING: the record at offset " + std::to_string(record.offset - 4) +
                     " does not follow a formula with a text result");
      }
      if (ofCellTable) inCellTable = true;
      if (inCellTable && !ofCellTable && !InCellTable(record.type, previous)) cellTableEnded = true;
      previous = record.type;
      // a ROW record is 16 bytes in every version that is read here; a
      // longer one has swallowed the cells after it
      if (record.type == kRow && record.length != 16) {
        ThrowDamaged("ROW: the record at offset " + std::to_string(record.offset - 4) + " is " +
                     std::to_string(record.length) + " bytes long, not 16");
      }
      // a dialog sheet is stored as a worksheet that says it is a dialog
      if (record.type == kWsBool && record.length >= 2 && (U16(cursor.Data(record)) & kWsBoolDialog) != 0) {
        worksheet_ = false;
      }
    }
  }

  // After Read: whether the sheet is a worksheet (not a macro or dialog sheet).
  bool IsWorksheet() const { return worksheet_; }

 private:
  [[noreturn]] static void ThrowAfterCellTable(const Record& record) {
    ThrowDamaged("a record of type " + Hex16(record.type) + " at offset " + std::to_string(record.offset - 4) +
                 " after the end of the sheet's cells");
  }

  [[noreturn]] static void ThrowCellDamaged(const Record& record, std::string_view what) {
    ThrowDamaged("the cell record of type " + Hex16(record.type) + " at offset " + std::to_string(record.offset - 4) +
                 " " + std::string(what));
  }

  NumberStyle StyleOf(std::uint16_t xf) const {
    return xf < globals_.xfStyles.size() ? globals_.xfStyles[xf] : NumberStyle::General;
  }

  // Keeps a cell of a row within the limit; the rest are only checked.
  void Store(std::int32_t row, std::int32_t column, CellValue value) {
    if (row <= rowLimit_) cells_.Put(row, column, std::move(value));
  }

  void Put(const std::uint8_t* p, CellValue value) {
    Store(static_cast<std::int32_t>(U16(p)) + 1, static_cast<std::int32_t>(U16(p + 2)) + 1, std::move(value));
  }

  // Cells come row by row and, within a row, column by column; a cell that
  // goes back, or repeats one, has a damaged address.
  void CheckOrder(const Record& record, const std::uint8_t* p, std::size_t n) {
    const std::uint16_t row = U16(p);
    const std::uint16_t first = U16(p + 2);
    const std::uint16_t last = record.type == kMulRk || record.type == kMulBlank ? U16(p + n - 2) : first;
    if (haveCell_ && (row < lastRow_ || (row == lastRow_ && first <= lastColumn_))) {
      ThrowCellDamaged(record, "for row " + std::to_string(row + 1) + ", column " + std::to_string(first + 1) +
                                   " comes after row " + std::to_string(lastRow_ + 1) + ", column " +
                                   std::to_string(lastColumn_ + 1));
    }
    haveCell_ = true;
    lastRow_ = row;
    lastColumn_ = last;
  }

  // Whether a cell record has the shape of its type: the exact size of the
  // fixed records, a column inside the sheet's 256, a list whose last column
  // matches its length. Damage in the middle of a sheet shows here first.
  bool WellFormed(const std::uint8_t* p, std::uint16_t type, std::size_t n) const {
    if (n < 6) return false;
    const std::uint16_t column = U16(p + 2);
    if (column > 255) return false;
    switch (type) {
      case kNumber:
        return n == 14;
      case kRk:
      case kLabelSst:
        return n == 10;
      case kBoolErr:
        return n == 8;
      case kBlank:
        return n == 6;
      case kMulRk:
      case kMulBlank: {
        const std::size_t item = type == kMulRk ? 6 : 2;
        if (n < 6 + item || (n - 6) % item != 0) return false;
        const std::size_t count = (n - 6) / item;
        return U16(p + n - 2) == column + count - 1 && column + count - 1 <= 255;
      }
      case kFormula:
        return n >= 22 && n - 22 >= U16(p + 20);
      case kLabel:
      case kRString:
        return n >= 8;
      default:
        return true;
    }
  }

  // The records that stand between the cells besides the cells and rows: an
  // index block's DBCELL, and what goes with a formula (the shared formula of
  // Excel 5 for the Mac only right after the formula that it belongs to).
  bool InCellTable(std::uint16_t type, std::uint16_t previous) const {
    if (type == kShrFmlaBiff5) return !biff8_ && previous == kFormula;
    switch (type) {
      // what belongs to the formula right before it; anywhere else it is a
      // cell damaged into it
      case kShrFmla:
      case kArray:
      case kTable:
        return previous == kFormula;
      case kDbCell:
      case kString:
      case kUncalced:
        return true;
      default:
        return false;
    }
  }

  static bool IsCell(std::uint16_t type) {
    switch (type) {
      case kNumber:
      case kRk:
      case kMulRk:
      case kLabelSst:
      case kLabel:
      case kRString:
      case kBoolErr:
      case kFormula:
      case kBlank:
      case kMulBlank:
        return true;
      default:
        return false;
    }
  }

  void Cell(RecordCursor& cursor, const Record& record) {
    const std::uint8_t* p = cursor.Data(record);
    const std::size_t n = record.length;
    if (!WellFormed(p, record.type, n)) ThrowCellDamaged(record, "does not have the shape of its type");
    CheckOrder(record, p, n);
    switch (record.type) {
      case kNumber:
        Put(p, NumberValue(F64(p + 6), StyleOf(U16(p + 4))));
        return;
      case kRk:
        Put(p, NumberValue(RkValue(U32(p + 6)), StyleOf(U16(p + 4))));
        return;
      case kMulRk: {
        const std::int32_t row = static_cast<std::int32_t>(U16(p)) + 1;
        const std::int32_t first = static_cast<std::int32_t>(U16(p + 2)) + 1;
        const std::size_t count = (n - 6) / 6;
        for (std::size_t i = 0; i < count; ++i) {
          const std::uint8_t* item = p + 4 + 6 * i;
          Store(row, first + static_cast<std::int32_t>(i), NumberValue(RkValue(U32(item + 2)), StyleOf(U16(item))));
        }
        return;
      }
      case kLabelSst: {
        const std::uint32_t index = U32(p + 6);
        // a cell whose shared string does not exist has lost its text: the
        // workbook is damaged, not the cell empty
        if (index >= globals_.strings.size()) {
          ThrowCellDamaged(record, "names shared string " + std::to_string(index) + " of " +
                                       std::to_string(globals_.strings.size()));
        }
        Pieces::Reader reader(globals_.sst, globals_.strings[index]);
        std::string text;
        Pieces::ReadUnicodeString(reader, &text);  // it parsed when the table was indexed
        Put(p, CellValue::OfText(std::move(text)));
        return;
      }
      case kLabel:
      case kRString: {
        std::string text;
        if (!ByteOrUnicodeString(p + 6, n - 6, text)) ThrowCellDamaged(record, "holds a string longer than itself");
        // a BIFF5 LABEL is its string and nothing else: a length that does
        // not fill it is damaged
        if (record.type == kLabel && !biff8_ && !FillsLabel(p + 8, n - 8, U16(p + 6))) {
          ThrowCellDamaged(record, "holds a string shorter than itself");
        }
        Put(p, CellValue::OfText(std::move(text)));
        return;
      }
      case kBoolErr:
        Put(p, p[7] != 0 ? CellValue::OfError() : CellValue::OfBoolean(p[6] != 0));
        return;
      case kFormula:
        CheckExpression(record, p, n);
        Formula(cursor, p);
        return;
      default:  // BLANK, MULBLANK: formatted but empty
        return;
    }
  }

  // Whether a BIFF5 LABEL's count of characters accounts for all the bytes
  // after it. Excel for the Macintosh on a double-byte system counts each
  // double-byte character once but stores both its bytes, under a Mac code
  // page: there the count is read as bytes (the text is then the first bytes
  // read in the code page, as other programs show it) when the bytes, read as
  // double-byte text, hold exactly that many characters.
  bool FillsLabel(const std::uint8_t* bytes, std::size_t size, std::size_t count) const {
    if (size == count * (globals_.codePage.IsUtf16() ? 2 : 1)) return true;
    if (!globals_.codePage.IsMac()) return false;
    const auto characters = [&](bool (*lead)(std::uint8_t)) {
      std::size_t found = 0;
      for (std::size_t at = 0; at < size; ++found) at += lead(bytes[at]) && at + 1 < size ? 2 : 1;
      return found;
    };
    // Japanese (Shift-JIS), and the lead bytes of the Chinese and Korean
    // double-byte code pages
    const auto shiftJisLead = [](std::uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); };
    const auto otherLead = [](std::uint8_t b) { return b >= 0x81 && b <= 0xFE; };
    return characters(shiftJisLead) == count || characters(otherLead) == count;
  }

  // A LABEL or RSTRING string: BIFF8 Unicode string, BIFF5 bytes in the
  // workbook's code page.
  bool ByteOrUnicodeString(const std::uint8_t* p, std::size_t size, std::string& text) const {
    if (biff8_) return ReadRecordUnicodeString(p, size, false, text);
    if (size < 2) return false;
    const std::size_t length = U16(p);
    if (globals_.codePage.IsUtf16()) {
      if (size - 2 < 2 * length) return false;
      AppendUtf16(text, p + 2, length);
      return true;
    }
    if (size - 2 < length) return false;
    globals_.codePage.Append(p + 2, length, text);
    return true;
  }

  // A formula record ends where its expression and the expression's extra
  // data end: row, column, XF, result, options and a reserved 32-bit field
  // (20 bytes), the tokens' length, the tokens, the extra data.
  void CheckExpression(const Record& record, const std::uint8_t* p, std::size_t n) const {
    std::string fault;
    bool complete;
    const std::optional<std::size_t> size = ExpressionSize(p + 22, n - 22, biff8_, U16(p + 20), fault, complete);
    if (!size) ThrowDamaged("FORMULA: the record at offset " + std::to_string(record.offset - 4) + " " + fault);
    if (complete && 22 + *size != n) {
      ThrowDamaged("FORMULA: the record at offset " + std::to_string(record.offset - 4) + " is " + std::to_string(n) +
                   " bytes long, its expression takes " + std::to_string(22 + *size));
    }
  }

  // A formula cell reads as its cached result. A text result is in the
  // STRING record that follows (after any shared or array formula record).
  void Formula(RecordCursor& cursor, const std::uint8_t* p) {
    // a workbook that no calculation engine has saved (a BIFF8 file without
    // the engine's record, such as a generator writes) carries an empty text
    // as a mere placeholder for every formula
    std::optional<CellValue> value = CachedResult(p + 6, StyleOf(U16(p + 4)), !biff8_ || globals_.hasRecalcId);
    if (value) {
      Put(p, std::move(*value));
    } else {
      FormulaString(cursor, p);
    }
  }

  void FormulaString(RecordCursor& cursor, const std::uint8_t* formula) {
    const std::uint16_t row = U16(formula);
    const std::uint16_t column = U16(formula + 2);
    const auto put = [&](CellValue value) {
      Store(static_cast<std::int32_t>(row) + 1, static_cast<std::int32_t>(column) + 1, std::move(value));
    };
    Record record;
    for (;;) {
      std::uint16_t type;
      if (!cursor.PeekType(type)) ThrowDamaged("the active sheet breaks off after a formula cell");
      if (type == kShrFmla || type == kArray || type == kTable || (type == kShrFmlaBiff5 && !biff8_)) {
        cursor.Expect("the active sheet");
        continue;
      }
      if (type != kString) {
        put(CellValue::OfError());  // a text result whose text is missing
        return;
      }
      break;
    }
    record = cursor.Expect("the active sheet");
    std::string text;
    if (biff8_) {
      pieces_.Clear();
      pieces_.Add(record);
      std::uint16_t type;
      while (cursor.PeekType(type) && type == kContinue) {
        record = cursor.Expect("the active sheet");
        pieces_.Add(record);
      }
      Pieces::Reader reader(pieces_, {});
      if (!Pieces::ReadUnicodeString(reader, &text)) ThrowCellDamaged(record, "does not hold a string");
    } else if (!ByteOrUnicodeString(cursor.Data(record), record.length, text)) {
      ThrowCellDamaged(record, "holds a string longer than itself");
    }
    put(CellValue::OfText(std::move(text)));
    return;
  }

  Globals& globals_;
  const std::int32_t rowLimit_;
  SheetCells& cells_;
  bool worksheet_ = false;
  const bool biff8_;
  Pieces pieces_;
  bool haveCell_ = false;
  std::uint16_t lastRow_ = 0;
  std::uint16_t lastColumn_ = 0;
};

// The workbook stream: "Workbook" for BIFF8, "Book" for BIFF5 (the name's
// case varies between writers).
GsfInput* WorkbookStream(GsfInfile* ole) {
  const int count = gsf_infile_num_children(ole);
  for (const char* wanted : {"Workbook", "Book"}) {
    for (int i = 0; i < count; ++i) {
      const char* name = gsf_infile_name_by_index(ole, i);
      if (name != nullptr && g_ascii_strcasecmp(name, wanted) == 0) {
        GsfInput* child = gsf_infile_child_by_index(ole, i);
        if (child != nullptr) return child;
      }
    }
  }
  return nullptr;
}

// The sheets follow the globals: the first begins where the globals' EOF
// ends, and none begins inside the globals or past the stream. A record of
// the globals damaged into an EOF, or a damaged directory offset, shows here.
void CheckSheetOffsets(const Globals& globals, std::uint64_t streamSize) {
  std::uint64_t first = streamSize;
  for (const Sheet& sheet : globals.sheets) {
    if (sheet.offset < globals.end || sheet.offset >= streamSize) {
      ThrowDamaged("a sheet at offset " + std::to_string(sheet.offset) + ", outside the sheets' part of the stream (" +
                   std::to_string(globals.end) + " to " + std::to_string(streamSize) + ")");
    }
    first = std::min<std::uint64_t>(first, sheet.offset);
  }
  if (first != globals.end) {
    ThrowDamaged("the workbook globals end at offset " + std::to_string(globals.end) + ", the first sheet begins at " +
                 std::to_string(first));
  }
}

// The active sheet's EOF ends where the next sheet begins; after the last
// sheet the stream holds at most padding of zero bytes.
void CheckSheetEnd(const Globals& globals, const Sheet& sheet, Stream& stream, std::uint64_t end) {
  std::uint64_t next = stream.Size();
  for (const Sheet& other : globals.sheets) {
    if (other.offset > sheet.offset) next = std::min<std::uint64_t>(next, other.offset);
  }
  if (next < stream.Size()) {
    if (end != next) {
      ThrowDamaged("the active sheet ends at offset " + std::to_string(end) + ", the next sheet begins at " +
                   std::to_string(next));
    }
    return;
  }
  if (end == next) return;
  if (!stream.Ensure(next)) ThrowDamaged("the workbook stream cannot be read to its end");
  if (!IsPadding(stream, end, next)) {
    ThrowDamaged("the workbook stream goes on after the last sheet's EOF record, at offset " + std::to_string(end));
  }
}

}  // namespace

namespace {

WorkbookFormat ReadBiffActiveSheet(const OpenedPackage& opened, std::int32_t rowLimit, SheetCells& cells) {
  GsfInfile* ole = opened.container;
  if (ole == nullptr) throw WorkbookError(OpenFailure::NotAWorkbook, "no compound file");
  const GObjectRef<GsfInput> workbook(WorkbookStream(ole));
  // no workbook stream: an encrypted .xlsx, another OLE2 document
  if (!workbook) throw WorkbookError(OpenFailure::UnknownFormat, "a compound file without a workbook stream");
  GsfInput* input = workbook.get();

  Stream stream(input, 0);
  Globals globals(stream);
  RecordCursor globalsCursor(stream, 0);
  ReadGlobals(globalsCursor, globals);
  if (globals.sheets.empty()) ThrowDamaged("the workbook globals list no sheet");
  CheckSheetOffsets(globals, stream.Size());

  std::size_t active = 0;
  if (globals.activeTab >= 0 && static_cast<std::size_t>(globals.activeTab) < globals.sheets.size()) {
    active = static_cast<std::size_t>(globals.activeTab);
  }
  const WorkbookFormat format = globals.version == kBiff8 ? WorkbookFormat::Biff8 : WorkbookFormat::Biff5;
  cells.SetDateSystem(globals.dateSystem);
  const Sheet& sheet = globals.sheets[active];
  // Only a worksheet has cells to read: a macro sheet, chart or module that
  // is active makes every read fail.
  if (sheet.type != 0) {
    cells.SetActiveIsWorksheet(false);
    return format;
  }
  Stream sheetStream(input, sheet.offset);
  RecordCursor sheetCursor(sheetStream, sheet.offset);
  SheetReader reader(sheetStream, globals, rowLimit, cells);
  const bool walked = reader.Read(sheetCursor);
  if (walked) CheckSheetEnd(globals, sheet, sheetStream, sheetCursor.Position());
  cells.SetActiveIsWorksheet(walked && reader.IsWorksheet());
  return format;
}

bool IsBiffWorkbook(const OpenedPackage& opened) {
  return HasOleStream(opened.container, "Workbook") || HasOleStream(opened.container, "Book");
}

constexpr WorkbookFormat kBiffFormats[] = {WorkbookFormat::Biff5, WorkbookFormat::Biff8};

}  // namespace

// An .xls sheet: 65,536 rows of 256 columns.
extern const FormatRow kBiffRow{"xls", kBiffFormats, Container::Ole2, IsBiffWorkbook, ReadBiffActiveSheet, {65536, 256}};

}  // namespace ratemover::spreadsheet
