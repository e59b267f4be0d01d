// The reader of the oldest binary workbooks: Excel 2.x, 3.0 and 4.0
// worksheets (BIFF2, BIFF3, BIFF4) and Excel 4.0 workbooks, saved as a bare
// record stream without a compound file around it.
//
// A worksheet file is one substream, BOF to EOF. An Excel 4.0 workbook is a
// globals substream (BOF of type workbook) in which each sheet follows its
// SHEETHDR record as an embedded BOF to EOF substream; the active sheet is
// the one whose WINDOW2 says it is shown.
//
// Cell records come in two forms in all three versions: the Excel 2.x form
// with three attribute bytes (the number format in the second) and the later
// form with a two-byte XF index. Every record is checked against the bytes
// that are there, and the cell records against their exact sizes and their
// order: a stream that breaks any of these is damaged, never read in part.
#include <gsf/gsf-input.h>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "spreadsheet/biff_formula.h"
#include "spreadsheet/biff_records.h"
#include "spreadsheet/biff_values.h"
#include "spreadsheet/code_page.h"
#include "spreadsheet/little_endian.h"
#include "spreadsheet/number_format.h"
#include "spreadsheet/open_failure.h"
#include "spreadsheet/sheet_limits.h"
#include "spreadsheet/format_table.h"

namespace ratemover::spreadsheet {

namespace {

// Record types. The Excel 2.x cell records carry attribute bytes; the later
// ones (0x02xx) an XF index.
constexpr std::uint16_t kBof2 = 0x0009;
constexpr std::uint16_t kBof3 = 0x0209;
constexpr std::uint16_t kBof4 = 0x0409;
constexpr std::uint16_t kFormat23 = 0x001E;  // no index: the formats count up from 0
constexpr std::uint16_t kFormat4 = 0x041E;   // an index field that means nothing: they count up too
constexpr std::uint16_t kXf2 = 0x0043;
constexpr std::uint16_t kXf3 = 0x0243;
constexpr std::uint16_t kXf4 = 0x0443;
constexpr std::uint16_t kIxfe = 0x0044;  // the XF of the next Excel 2.x cell whose attributes say 63
constexpr std::uint16_t kWindow2 = 0x023E;
constexpr std::uint16_t kSheetHeader = 0x008F;  // in a workbook: the size and name of the sheet that follows
constexpr std::uint16_t kBlank2 = 0x0001;
constexpr std::uint16_t kInteger2 = 0x0002;
constexpr std::uint16_t kNumber2 = 0x0003;
constexpr std::uint16_t kLabel2 = 0x0004;
constexpr std::uint16_t kBoolErr2 = 0x0005;
constexpr std::uint16_t kFormula2 = 0x0006;
constexpr std::uint16_t kString2 = 0x0007;
constexpr std::uint16_t kArray2 = 0x0021;
constexpr std::uint16_t kTable2 = 0x0036;
constexpr std::uint16_t kTable2b = 0x0037;
constexpr std::uint16_t kFormula3 = 0x0206;
constexpr std::uint16_t kFormula4 = 0x0406;
constexpr std::uint16_t kRow2 = 0x0008;
constexpr std::uint16_t kRow = 0x0208;

// BOF substream types.
constexpr std::uint16_t kWorkbookType = 0x0100;

// WINDOW2 options: the sheet is selected; the sheet is the one shown.
constexpr std::uint16_t kSelected = 0x0200;
constexpr std::uint16_t kShown = 0x0400;


const char* RecordName(std::uint16_t type) {
  switch (type) {
    case kBof2: case kBof3: case kBof4: return "BOF";
    case kEof: return "EOF";
    case kBlank2: case kBlank: return "BLANK";
    case kInteger2: return "INTEGER";
    case kNumber2: case kNumber: return "NUMBER";
    case kLabel2: case kLabel: return "LABEL";
    case kBoolErr2: case kBoolErr: return "BOOLERR";
    case kFormula2: case kFormula3: case kFormula4: return "FORMULA";
    case kString2: case kString: return "STRING";
    case kRk: return "RK";
    case kFormat23: case kFormat4: return "FORMAT";
    case kXf2: case kXf3: case kXf4: return "XF";
    case kIxfe: return "IXFE";
    case kSheetHeader: return "SHEETHDR";
    case kCodepage: return "CODEPAGE";
    case kDatemode: return "DATEMODE";
    default: return "record";
  }
}

[[noreturn]] void Damaged(std::uint16_t type, const char* check) { ThrowDamaged(std::string(RecordName(type)) + ": " + check); }

bool IsBof(std::uint16_t type) { return type == kBof2 || type == kBof3 || type == kBof4; }

bool IsCell(std::uint16_t type) {
  switch (type) {
    case kBlank2: case kInteger2: case kNumber2: case kLabel2: case kBoolErr2: case kFormula2:
    case kBlank: case kNumber: case kRk: case kLabel: case kBoolErr: case kFormula3: case kFormula4:
      return true;
    default:
      return false;
  }
}

struct Record {
  std::uint16_t type = 0;
  std::size_t length = 0;
  std::size_t offset = 0;  // of the record's header
  const std::uint8_t* data = nullptr;
};

// The records of the stream, from an offset on, as the record cursor of
// every BIFF version walks them. A record whose header or data runs past the
// end is damage.
class Records {
 public:
  // The versions before Excel 5 knew no CONTINUE record: a record may be as
  // long as its length field can say.
  Records(biff::Stream& stream, std::size_t offset) : stream_(stream), cursor_(stream, offset, 0xFFFF) {}

  // The next record; false at the end of the stream. Every record of a sheet
  // takes this step: it is inlined where the records are read.
  [[gnu::always_inline]] bool Next(Record& record) {
    biff::Record next;
    const biff::RecordCursor::Step step = cursor_.Next(next);
    if (step != biff::RecordCursor::Step::Record) {
      if (step == biff::RecordCursor::Step::End) return false;
      Broken(next.type);
    }
    record.type = next.type;
    record.length = next.length;
    record.offset = static_cast<std::size_t>(next.offset - 4);
    record.data = cursor_.Data(next);
    return true;
  }

  // The type of the next record, if there is one.
  bool Peek(std::uint16_t& type) { return cursor_.PeekType(type); }

  // Where the next record starts.
  std::size_t Position() const { return static_cast<std::size_t>(cursor_.Position()); }

  // Reads the next record, which must be there.
  [[gnu::always_inline]] Record Expect(std::uint16_t after) {
    Record record;
    if (!Next(record)) EndsBeforeEof(after);
    return record;
  }

 private:
  // Out of line, so that the inlined step stays small.
  [[noreturn, gnu::noinline]] void Broken(std::uint16_t type) const {
    if (stream_.Size() - cursor_.Position() < 4) Damaged(0, "header runs past the end of the stream");
    Damaged(type, "runs past the end of the stream");
  }
  [[noreturn, gnu::noinline]] static void EndsBeforeEof(std::uint16_t after) {
    Damaged(after, "the stream ends before its EOF");
  }

  const biff::Stream& stream_;
  biff::RecordCursor cursor_;
};

// What the records before the cells say about reading them. A workbook's
// globals set the code page and date system for every sheet; each sheet has
// its own formats and XFs.
struct Settings {
  CodePage codePage;
  DateSystem dateSystem = DateSystem::Base1900;
};

class Formats {
 public:
  explicit Formats(int version) : version_(version) {}

  void AddCounted(NumberStyle style) { styles_[nextIndex_++] = style; }
  void AddXf(std::uint16_t format) { xfFormats_.push_back(format); }

  NumberStyle OfFormat(std::uint16_t index) const {
    const auto it = styles_.find(index);
    if (it != styles_.end()) return it->second;
    return version_ <= 3 ? OfBuiltin23(index) : StyleOfBuiltinFormat(index);
  }
  NumberStyle OfXf(std::uint16_t xf) const {
    return xf < xfFormats_.size() ? OfFormat(xfFormats_[xf]) : NumberStyle::General;
  }

 private:
  // The built-in list of Excel 2.x and 3.0, which differs from the later one:
  // 5 to 8 currency, 12 to 20 dates and times.
  static NumberStyle OfBuiltin23(std::uint16_t index) {
    if (index >= 5 && index <= 8) return NumberStyle::Currency;
    if (index >= 12 && index <= 20) return NumberStyle::DateTime;
    return NumberStyle::General;
  }

  int version_;
  std::unordered_map<std::uint16_t, NumberStyle> styles_;
  std::uint16_t nextIndex_ = 0;
  std::vector<std::uint16_t> xfFormats_;
};

// Reads a text of `length` bytes in the code page; the record must hold them.
std::string TextOf(const Settings& settings, const std::uint8_t* p, std::size_t length) {
  std::string text;
  settings.codePage.Append(p, length, text);
  return text;
}

NumberStyle StyleOfCode(const Settings& settings, const std::uint8_t* p, std::size_t length) {
  return StyleOfFormatCode(TextOf(settings, p, length));
}

// One sheet substream, from its BOF to its EOF. With no cells to fill, it is
// only checked and its WINDOW2 options noted.
class SheetReader {
 public:
  SheetReader(Settings& settings, int version, std::int32_t rowLimit, SheetCells* cells)
      : settings_(settings), formats_(version), rowLimit_(rowLimit), cells_(cells) {}

  std::uint16_t WindowOptions() const { return windowOptions_; }

  // Reads from the record after the BOF to the EOF. The cells stand together
  // in one table of rows, cells and the records that belong to them; whatever
  // else a sheet holds comes before or after it. A cell record damaged into
  // another type ends the table early, and the cells after it show it.
  void Read(Records& records) {
    bool inCellTable = false;
    bool cellTableEnded = false;
    std::uint16_t previous = 0;
    for (;;) {
      const Record record = records.Expect(kEof);
      // most records are cells: they take the shortest way
      if (IsCell(record.type)) {
        if (cellTableEnded) Damaged(record.type, "after the end of the sheet's cells");
        inCellTable = true;
        previous = record.type;
        Cell(records, record);
        continue;
      }
      if (record.type == kEof) return;
      if (IsBof(record.type)) Damaged(record.type, "inside the cell records");
      if (record.type == kRow2 || record.type == kRow) {
        if (cellTableEnded) Damaged(record.type, "after the end of the sheet's cells");
        inCellTable = true;
      } else if (inCellTable && !InCellTable(record.type, previous)) {
        cellTableEnded = true;
      }
      previous = record.type;
      Settle(record);
    }
  }

 private:
  // A record other than a cell.
  void Settle(const Record& record) {
    const std::uint8_t* p = record.data;
    const std::size_t n = record.length;
    switch (record.type) {
      case kFilepass:
        throw WorkbookError(OpenFailure::Encrypted, "FILEPASS");
      case kCodepage:
        if (n < 2) Damaged(record.type, "record size");
        settings_.codePage.Set(U16(p));
        return;
      case kDatemode:
        if (n < 2) Damaged(record.type, "record size");
        settings_.dateSystem = U16(p) == 1 ? DateSystem::Base1904 : DateSystem::Base1900;
        return;
      case kFormat23:
        if (n < 1 || n - 1 < p[0]) Damaged(record.type, "record size");
        formats_.AddCounted(StyleOfCode(settings_, p + 1, p[0]));
        return;
      case kFormat4:
        if (n < 3 || n - 3 < p[2]) Damaged(record.type, "record size");
        formats_.AddCounted(StyleOfCode(settings_, p + 3, p[2]));
        return;
      case kXf2:
        if (n < 4) Damaged(record.type, "record size");
        formats_.AddXf(p[2] & 0x3F);
        return;
      case kXf3:
      case kXf4:
        if (n < 2) Damaged(record.type, "record size");
        formats_.AddXf(p[1]);
        return;
      case kIxfe:
        if (n != 2) Damaged(record.type, "record size");
        ixfe_ = U16(p);
        return;
      case kWindow2:
        if (n >= 2) windowOptions_ = U16(p);
        return;
      case kString2:
      case kString:
        // a formula's text result is read with its formula; a STRING that no
        // formula claimed is a cell damaged into it
        Damaged(record.type, "without a formula with a text result before it");
      default:
        return;
    }
  }

  // The records besides rows and cells that stand among the cells: the XF of
  // the next cell, and what belongs to the formula right before it (its
  // array or table, and a CONTINUE of a long formula or array). Anywhere
  // else such a record is a cell damaged into it.
  static bool InCellTable(std::uint16_t type, std::uint16_t previous) {
    const bool afterFormula = previous == kFormula2 || previous == kFormula3 || previous == kFormula4;
    switch (type) {
      case kIxfe:
        return true;
      case kArray2: case kArray: case kTable2: case kTable2b: case kTable:
        return afterFormula;
      case biff::kContinue:
        return afterFormula || previous == kArray2 || previous == kArray || previous == biff::kContinue;
      default:
        return false;
    }
  }

  static bool IsOldForm(std::uint16_t type) { return type < 0x0100; }

  // The exact size of each cell record; the texts and formulas by their
  // own length fields.
  static bool WellFormed(std::uint16_t type, const std::uint8_t* p, std::size_t n) {
    switch (type) {
      case kBlank2: return n == 7;
      case kInteger2: return n == 9;
      case kNumber2: return n == 15;
      case kLabel2: return n >= 8 && n == 8u + p[7];
      case kBoolErr2: return n == 9;
      case kFormula2: return n >= 17 && n == 17u + p[16];
      case kBlank: return n == 6;
      case kNumber: return n == 14;
      case kRk: return n == 10;
      case kLabel: return n >= 8 && n == 8u + U16(p + 6);
      case kBoolErr: return n == 8;
      case kFormula3:
      case kFormula4: return n >= 18 && n == 18u + U16(p + 16);
      default: return true;
    }
  }

  // The number style of a cell: the format in the Excel 2.x attribute bytes
  // (or of the XF that IXFE names when they say 63), or of the XF.
  NumberStyle StyleOf(std::uint16_t type, const std::uint8_t* p) {
    if (!IsOldForm(type)) return formats_.OfXf(U16(p + 4));
    if ((p[4] & 0x3F) == 63) return formats_.OfXf(ixfe_);
    return formats_.OfFormat(p[5] & 0x3F);
  }

  // A record of a cell type.
  void Cell(Records& records, const Record& record) {
    const std::uint8_t* p = record.data;
    if (record.length < 4 || !WellFormed(record.type, p, record.length)) Damaged(record.type, "record size");
    const std::uint16_t row = U16(p);
    const std::uint16_t column = U16(p + 2);
    if (column > 255) Damaged(record.type, "column beyond the sheet");
    const std::uint32_t at = (static_cast<std::uint32_t>(row) << 16) | column;
    if (seenCell_ && at <= lastCell_) Damaged(record.type, "cells out of order");
    seenCell_ = true;
    lastCell_ = at;
    const bool store = cells_ != nullptr && static_cast<std::int32_t>(row) + 1 <= rowLimit_;
    const bool old = IsOldForm(record.type);
    const std::size_t value = old ? 7 : 6;  // where the value starts
    CellValue cell;
    switch (record.type) {
      case kBlank2:
      case kBlank:
        return;
      case kInteger2:
        cell = CellValue::OfNumber(U16(p + value), StyleOf(record.type, p));
        break;
      case kNumber2:
      case kNumber:
        cell = NumberValue(F64(p + value), StyleOf(record.type, p));
        break;
      case kRk:
        cell = NumberValue(RkValue(U32(p + value)), StyleOf(record.type, p));
        break;
      case kLabel2:
        if (store) cell = CellValue::OfText(TextOf(settings_, p + 8, p[7]));
        break;
      case kLabel:
        if (store) cell = CellValue::OfText(TextOf(settings_, p + 8, U16(p + 6)));
        break;
      case kBoolErr2:
      case kBoolErr:
        cell = p[value + 1] != 0 ? CellValue::OfError() : CellValue::OfBoolean(p[value] != 0);
        break;
      default:
        cell = Formula(records, record, p + value, store);
        break;
    }
    if (store) cells_->Put(static_cast<std::int32_t>(row) + 1, static_cast<std::int32_t>(column) + 1, std::move(cell));
  }

  // A formula reads as its cached result; a text result is in the STRING
  // record that follows (after an ARRAY or TABLE record of the formula).
  CellValue Formula(Records& records, const Record& record, const std::uint8_t* result, bool store) {
    std::optional<CellValue> value = biff::CachedResult(result, StyleOf(record.type, record.data), true);
    return value ? std::move(*value) : FormulaText(records, store);
  }

  CellValue FormulaText(Records& records, bool store) {
    std::uint16_t type;
    while (records.Peek(type) && (type == kArray2 || type == kArray || type == kTable2 || type == kTable2b ||
                                  type == kTable)) {
      records.Expect(type);
    }
    if (!records.Peek(type) || (type != kString2 && type != kString)) {
      return CellValue::OfError();  // a text result whose text is missing
    }
    const Record string = records.Expect(type);
    const std::uint8_t* p = string.data;
    const std::size_t n = string.length;
    const std::size_t head = type == kString2 ? 1 : 2;
    if (n < head) Damaged(type, "record size");
    const std::size_t length = head == 1 ? p[0] : U16(p);
    if (n != head + length) Damaged(type, "record size");
    return store ? CellValue::OfText(TextOf(settings_, p + head, length)) : CellValue();
  }

  Settings& settings_;
  Formats formats_;
  const std::int32_t rowLimit_;
  SheetCells* cells_;
  std::uint16_t ixfe_ = 0;
  std::uint16_t windowOptions_ = 0;
  bool seenCell_ = false;
  std::uint32_t lastCell_ = 0;
};

int VersionOf(std::uint16_t bofType) { return bofType == kBof2 ? 2 : bofType == kBof3 ? 3 : 4; }

std::uint16_t SubstreamType(const Record& bof) {
  if (bof.length < 4) Damaged(bof.type, "record size");
  return U16(bof.data + 2);
}

// Reads one sheet substream whose BOF is `bof`; a chart holds no cells.
std::uint16_t ReadSheet(Records& records, const Record& bof, Settings& settings, std::int32_t rowLimit,
                        SheetCells* cells) {
  const std::uint16_t type = SubstreamType(bof);
  if (type != kWorksheetType && type != kMacroSheetType && type != kChartType) Damaged(bof.type, "not a sheet");
  SheetReader reader(settings, VersionOf(bof.type), rowLimit, type == kChartType ? nullptr : cells);
  reader.Read(records);
  return reader.WindowOptions();
}

struct EmbeddedSheet {
  std::size_t bof;  // offset of the sheet's BOF record
  std::uint16_t windowOptions;
};

// An Excel 4.0 workbook: the globals with the sheets inside. Every sheet is
// checked; the active one is read again into cells.
void ReadWorkbook(biff::Stream& stream, Records& records, std::int32_t rowLimit,
                  SheetCells& cells) {
  Settings settings;
  settings.codePage.Set(1252);
  std::vector<EmbeddedSheet> sheets;
  for (;;) {
    const Record record = records.Expect(kEof);
    if (record.type == kEof) break;
    switch (record.type) {
      case kFilepass:
        throw WorkbookError(OpenFailure::Encrypted, "FILEPASS");
      case kCodepage:
        if (record.length < 2) Damaged(record.type, "record size");
        settings.codePage.Set(U16(record.data));
        break;
      case kDatemode:
        if (record.length < 2) Damaged(record.type, "record size");
        settings.dateSystem = U16(record.data) == 1 ? DateSystem::Base1904 : DateSystem::Base1900;
        break;
      case kSheetHeader: {
        const Record bof = records.Expect(record.type);
        if (!IsBof(bof.type)) Damaged(record.type, "no sheet follows");
        Settings checked;  // the sheet's own records must not change the globals
        checked.codePage.Set(1252);
        const std::uint16_t options = ReadSheet(records, bof, checked, 0, nullptr);
        sheets.push_back({bof.offset, options});
        break;
      }
      default:
        if (IsBof(record.type)) Damaged(record.type, "a sheet without its SHEETHDR");
        // cells belong to a sheet: here they follow an EOF that ended their
        // sheet early
        if (IsCell(record.type)) Damaged(record.type, "in the workbook globals");
        break;
    }
  }
  cells.SetDateSystem(settings.dateSystem);
  if (sheets.empty()) return;  // a workbook without sheets reads as an empty sheet
  std::size_t active = 0;
  for (const std::uint16_t flag : {kShown, kSelected}) {
    bool found = false;
    for (std::size_t i = 0; i < sheets.size() && !found; ++i) {
      if ((sheets[i].windowOptions & flag) != 0) {
        active = i;
        found = true;
      }
    }
    if (found) break;
  }
  Records sheet(stream, sheets[active].bof);
  const Record bof = sheet.Expect(kBof4);
  ReadSheet(sheet, bof, settings, rowLimit, &cells);
  cells.SetDateSystem(settings.dateSystem);
  cells.SetActiveIsWorksheet(SubstreamType(bof) == kWorksheetType);
}

std::vector<std::uint8_t> ReadWhole(GsfInput* input) {
  const gsf_off_t size = gsf_input_size(input);
  if (size < 0) ThrowDamaged("stream size");
  CheckReadableSize("worksheet stream", static_cast<std::uint64_t>(size));
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (gsf_input_seek(input, 0, G_SEEK_SET) ||
      (size > 0 && gsf_input_read(input, bytes.size(), bytes.data()) == nullptr)) {
    throw WorkbookError(OpenFailure::NotReadable, "read failed");
  }
  return bytes;
}

// After the EOF that ends the file's substream the file holds at most padding
// of zero bytes: records after it mean that an EOF came early (a damaged
// record), and the rest of the sheet would be lost.
void CheckNothingAfterEof(const biff::Stream& stream, const Records& records) {
  if (!biff::IsPadding(stream, records.Position(), stream.Size())) Damaged(kEof, "records follow it");
}

}  // namespace

namespace {

// Excel 2.x to 4.0 worksheets and Excel 4.0 workbooks: a bare record stream
// starting with a BOF record.
bool IsBiff234Stream(const OpenedPackage& opened) {
  GsfInput* input = opened.input;
  guint8 head[4];
  if (input == nullptr || gsf_input_size(input) < 8 || gsf_input_seek(input, 0, G_SEEK_SET)) return false;
  const bool read = gsf_input_read(input, sizeof head, head) != nullptr;
  gsf_input_seek(input, 0, G_SEEK_SET);
  return read && IsBof(U16(head)) && U16(head + 2) >= 4;
}

WorkbookFormat ReadBiff234ActiveSheet(const OpenedPackage& opened, std::int32_t rowLimit, SheetCells& cells) {
  if (!IsBiff234Stream(opened)) throw WorkbookError(OpenFailure::NotAWorkbook, "no BOF record at the start");
  GsfInput* input = opened.input;
  const std::vector<std::uint8_t> bytes = ReadWhole(input);
  biff::Stream stream(bytes.data(), bytes.size());
  Records records(stream, 0);
  const Record bof = records.Expect(kBof2);
  const std::uint16_t type = SubstreamType(bof);
  const WorkbookFormat format =
      bof.type == kBof2 ? WorkbookFormat::Biff2 : bof.type == kBof3 ? WorkbookFormat::Biff3 : WorkbookFormat::Biff4;
  if (type == kWorkbookType) {
    if (bof.type != kBof4) Damaged(bof.type, "a workbook before Excel 4.0");
    ReadWorkbook(stream, records, rowLimit, cells);
    CheckNothingAfterEof(stream, records);
  } else {
    Settings settings;
    settings.codePage.Set(1252);
    ReadSheet(records, bof, settings, rowLimit, &cells);
    CheckNothingAfterEof(stream, records);
    cells.SetDateSystem(settings.dateSystem);
    // a chart or macro sheet saved alone opens as such: no cells to read
    cells.SetActiveIsWorksheet(type == kWorksheetType);
  }
  return format;
}

constexpr WorkbookFormat kBiff234Formats[] = {WorkbookFormat::Biff2, WorkbookFormat::Biff3, WorkbookFormat::Biff4};

}  // namespace

// An Excel 2.x to 4.0 sheet: 16,384 rows of 256 columns.
extern const FormatRow kBiff234Row{"biff2-4",       kBiff234Formats,        Container::Bare,
                                   IsBiff234Stream, ReadBiff234ActiveSheet, {16384, 256}};

}  // namespace ratemover::spreadsheet
