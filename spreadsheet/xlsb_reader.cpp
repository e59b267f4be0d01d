// The binary workbook reader (.xlsb): an Office Open XML package whose parts
// are chains of binary records instead of XML. The package relationships lead
// to the workbook part, which names the sheets and the active tab; the styles
// part says which numbers are dates or currency amounts; the shared strings
// part holds the text of the shared-string cells.
//
// Every binary part is read whole, in chunks, so that the package's checks of
// the part's size and CRC-32 cover it: a sheet's rows past the limit are read
// on to the end of the part, checked, and not stored. Records must chain
// exactly to the end of their part; rows, and cells within a row, ascend.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/cp1250.h"
#include "spreadsheet/biff_values.h"
#include "spreadsheet/little_endian.h"
#include "spreadsheet/number_format.h"
#include "spreadsheet/open_failure.h"
#include "spreadsheet/package_relationships.h"
#include "spreadsheet/sheet_limits.h"
#include "spreadsheet/format_table.h"
#include "spreadsheet/xml_stream.h"
#include "spreadsheet/zip_part.h"

namespace ratemover::spreadsheet {
namespace {

// Lists read from the workbook and styles parts.
constexpr std::size_t kMaxListEntries = 1u << 20;
// Parts are read in pieces of this size.
constexpr std::size_t kChunk = 64 * 1024;
// A record longer than this is passed over without being held; none that the
// reader looks into is ever that long (a cell's text is at most 32767 characters).
constexpr std::uint32_t kMaxHeldRecord = 1u << 20;

// Record types.
constexpr std::uint16_t kRowHeader = 0;
constexpr std::uint16_t kCellBlank = 1;
constexpr std::uint16_t kCellRk = 2;
constexpr std::uint16_t kCellError = 3;
constexpr std::uint16_t kCellBool = 4;
constexpr std::uint16_t kCellReal = 5;
constexpr std::uint16_t kCellSt = 6;
constexpr std::uint16_t kCellIsst = 7;
constexpr std::uint16_t kFormulaString = 8;
constexpr std::uint16_t kFormulaNumber = 9;
constexpr std::uint16_t kFormulaBool = 10;
constexpr std::uint16_t kFormulaError = 11;
// The short forms of kCellBlank to kCellIsst: no column, the cell follows the
// previous one of its row.
constexpr std::uint16_t kShortBlank = 12;
constexpr std::uint16_t kShortIsst = 18;
constexpr std::uint16_t kSharedStringItem = 19;
// A block of records that a later version of the application added: what
// sits inside is no cell, whatever its record type.
constexpr std::uint16_t kBeginFutureRecords = 35;
constexpr std::uint16_t kEndFutureRecords = 36;
constexpr std::uint16_t kFormat = 44;
constexpr std::uint16_t kCellFormat = 47;
constexpr std::uint16_t kCellRichString = 62;
constexpr std::uint16_t kBeginSheetData = 145;
constexpr std::uint16_t kEndSheetData = 146;
constexpr std::uint16_t kWorkbookProperties = 153;
constexpr std::uint16_t kBundleSheet = 156;
constexpr std::uint16_t kBookView = 158;
constexpr std::uint16_t kBeginCellFormats = 617;
constexpr std::uint16_t kEndCellFormats = 618;

// The records of one part, one after the other, read in chunks. A record's
// data stays valid until the next call of Next().
class RecordStream {
 public:
  RecordStream(const ZipDirectory& zip, const std::string& partName) : part_(zip, partName), name_(partName) {
    buffer_.resize(kChunk);
  }

  // The next record; false at the end of the part, which must fall between
  // two records.
  bool Next() {
    if (!Fill(1)) return false;
    recordOffset_ = offset_;
    const std::uint8_t* p = buffer_.data() + begin_;
    std::size_t n = 1;
    type_ = p[0] & 0x7F;
    if ((p[0] & 0x80) != 0) {
      if (!Fill(2)) Damaged("record header breaks off at the end of the part");
      p = buffer_.data() + begin_;
      if ((p[1] & 0x80) != 0) Damaged("record type longer than 2 bytes at offset " + std::to_string(recordOffset_));
      type_ |= static_cast<std::uint16_t>(p[1] << 7);
      n = 2;
    }
    std::uint32_t length = 0;
    for (int i = 0;; ++i) {
      if (i == 4) Damaged("record length longer than 4 bytes at offset " + std::to_string(recordOffset_));
      if (!Fill(n + 1)) Damaged("record header breaks off at the end of the part");
      const std::uint8_t c = buffer_[begin_ + n];
      ++n;
      length |= static_cast<std::uint32_t>(c & 0x7F) << (7 * i);
      if ((c & 0x80) == 0) break;
    }
    Consume(n);
    size_ = length;
    held_ = length <= kMaxHeldRecord;
    if (held_) {
      if (!Fill(length)) Damaged(RecordName() + " runs past the end of the part");
      data_ = buffer_.data() + begin_;
      Consume(length);
    } else {
      Skip(length);
      data_ = nullptr;
    }
    return true;
  }

  std::uint16_t Type() const { return type_; }
  std::uint32_t Size() const { return size_; }
  // Whether the data is held (false for a record too long to look into).
  bool Held() const { return held_; }
  const std::uint8_t* Data() const { return data_; }

  // The rest of the part, with its checks, after the last record.
  void Finish() { part_.Finish(); }

  std::string RecordName() const {
    return "record " + std::to_string(type_) + " at offset " + std::to_string(recordOffset_);
  }
  [[noreturn]] void Damaged(const std::string& what) const { ThrowDamaged(name_ + ": " + what); }
  const std::string& PartName() const { return name_; }
  // Room for a string's UTF-16 units, reused from string to string.
  std::u16string& Units() const { return units_; }

 private:
  // Makes at least n bytes available from begin_; false when the part ends first.
  bool Fill(std::size_t n) {
    if (end_ - begin_ >= n) return true;
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    if (buffer_.size() < n) buffer_.resize(std::max(n, kChunk));
    while (end_ < n) {
      const std::size_t got = part_.Read(buffer_.data() + end_, buffer_.size() - end_);
      if (got == 0) return false;
      end_ += got;
    }
    return true;
  }

  void Consume(std::size_t n) {
    begin_ += n;
    offset_ += n;
  }

  void Skip(std::uint64_t n) {
    while (n > 0) {
      if (begin_ == end_ && !Fill(1)) Damaged(RecordName() + " runs past the end of the part");
      const std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(n, end_ - begin_));
      Consume(step);
      n -= step;
    }
  }

  ZipPartReader part_;
  std::string name_;
  std::vector<std::uint8_t> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::uint64_t offset_ = 0;        // of begin_ in the part
  std::uint64_t recordOffset_ = 0;  // of the current record
  std::uint16_t type_ = 0;
  std::uint32_t size_ = 0;
  bool held_ = false;
  const std::uint8_t* data_ = nullptr;
  mutable std::u16string units_;
};

// A record's data, read field by field; a field past the end makes the part damaged.
class Fields {
 public:
  explicit Fields(const RecordStream& records) : records_(records), data_(records.Data()), size_(records.Size()) {
    if (!records.Held()) records.Damaged(records.RecordName() + " is too long");
  }

  std::uint8_t Byte() { return *Take(1); }
  std::uint16_t U16() { return spreadsheet::U16(Take(2)); }
  std::uint32_t U32() { return spreadsheet::U32(Take(4)); }
  double F64() { return spreadsheet::F64(Take(8)); }
  void SkipBytes(std::size_t n) { Take(n); }

  // A string of UTF-16 units after their count (4 bytes); a count of
  // 0xFFFFFFFF, where the format allows it, is no string.
  std::string WideString(bool nullable = false) {
    const std::uint32_t count = U32();
    if (nullable && count == 0xFFFFFFFFu) return std::string();
    if (count > (size_ - at_) / 2) records_.Damaged(records_.RecordName() + ": string runs past its record");
    const std::uint8_t* p = Take(static_cast<std::size_t>(count) * 2);
    std::u16string& units = records_.Units();
    units.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) units[i] = static_cast<char16_t>(spreadsheet::U16(p + 2 * i));
    return Cp1250FromUtf16(units);
  }

 private:
  const std::uint8_t* Take(std::size_t n) {
    if (n > size_ - at_) records_.Damaged(records_.RecordName() + " is shorter than its fields");
    const std::uint8_t* p = data_ + at_;
    at_ += n;
    return p;
  }

  const RecordStream& records_;
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// Where the relationship id begins in a sheet's entry of the workbook part:
// after the visibility and the tab id, or, as Excel 2007 writes the entry,
// after 4 more bytes. Of the two, the one whose relationship id and sheet
// name end the record exactly; when neither does, the first.
std::size_t SheetRelationshipIdOffset(const std::uint8_t* data, std::size_t size) {
  const auto stringsEndRecordFrom = [&](std::size_t at) {
    for (int string = 0; string < 2; ++string) {
      if (size - at < 4) return false;
      const std::uint32_t count = U32(data + at);
      at += 4;
      if (string == 0 && count == 0xFFFFFFFFu) continue;  // no relationship id
      if (count > (size - at) / 2) return false;
      at += std::size_t{count} * 2;
    }
    return at == size;
  };
  for (const std::size_t offset : {std::size_t{8}, std::size_t{12}}) {
    if (size >= offset && stringsEndRecordFrom(offset)) return offset;
  }
  return 8;
}

struct WorkbookInfo {
  bool date1904 = false;
  std::uint32_t activeTab = 0;
  std::vector<std::string> sheetRelationshipIds;
};

WorkbookInfo ReadWorkbook(const ZipDirectory& zip, const std::string& partName) {
  WorkbookInfo info;
  bool sawView = false;
  RecordStream records(zip, partName);
  while (records.Next()) {
    switch (records.Type()) {
      case kWorkbookProperties: {
        Fields f(records);
        info.date1904 = (f.U32() & 0x01) != 0;
        break;
      }
      case kBookView: {
        if (sawView) break;  // the first window is the one the workbook opens in
        sawView = true;
        Fields f(records);
        f.SkipBytes(24);  // window position and size, tab ratio, first tab shown
        info.activeTab = f.U32();
        break;
      }
      case kBundleSheet: {
        if (info.sheetRelationshipIds.size() >= kMaxListEntries) records.Damaged("too many sheets");
        Fields f(records);
        f.SkipBytes(SheetRelationshipIdOffset(records.Data(), records.Size()));
        info.sheetRelationshipIds.push_back(f.WideString(true));
        break;
      }
      default: break;
    }
  }
  records.Finish();
  return info;
}

// The number style of every cell format, by format index.
std::vector<NumberStyle> ReadStyles(const ZipDirectory& zip, const std::string& partName) {
  std::unordered_map<std::uint16_t, NumberStyle> codes;
  std::vector<std::uint16_t> formatIds;
  bool inCellFormats = false;
  RecordStream records(zip, partName);
  while (records.Next()) {
    switch (records.Type()) {
      case kFormat: {
        if (codes.size() >= kMaxListEntries) records.Damaged("too many number formats");
        Fields f(records);
        const std::uint16_t id = f.U16();
        codes[id] = StyleOfFormatCode(f.WideString());
        break;
      }
      case kBeginCellFormats: inCellFormats = true; break;
      case kEndCellFormats: inCellFormats = false; break;
      case kCellFormat: {
        // Cell style formats come in their own list and are not counted here.
        if (!inCellFormats) break;
        if (formatIds.size() >= kMaxListEntries) records.Damaged("too many cell formats");
        Fields f(records);
        f.SkipBytes(2);  // parent style
        formatIds.push_back(f.U16());
        break;
      }
      default: break;
    }
  }
  records.Finish();
  std::vector<NumberStyle> styles;
  styles.reserve(formatIds.size());
  for (const std::uint16_t id : formatIds) {
    const auto custom = codes.find(id);
    styles.push_back(custom != codes.end() ? custom->second : StyleOfBuiltinFormat(id));
  }
  return styles;
}

// A shared-string cell waiting for its string.
struct PendingString {
  std::int32_t row;
  std::int32_t column;
  std::uint32_t index;
};

bool IsCellRecord(std::uint16_t type) {
  return (type >= kCellBlank && type <= kShortIsst) || type == kCellRichString;
}

class SheetReader {
 public:
  SheetReader(const ZipDirectory& zip, const std::string& partName, std::int32_t rowLimit,
              const std::vector<NumberStyle>& styles, SheetCells& cells)
      : records_(zip, partName), rowLimit_(rowLimit), styles_(styles), cells_(cells) {}

  void Read() {
    while (records_.Next()) {
      const std::uint16_t type = records_.Type();
      if (PassedOverAsFutureRecord(type)) continue;
      if (type == kBeginSheetData) {
        if (sawSheetData_) records_.Damaged("sheet data begins twice");
        sawSheetData_ = inSheetData_ = true;
      } else if (type == kEndSheetData) {
        if (!inSheetData_) records_.Damaged("sheet data ends where none began");
        inSheetData_ = false;
      } else if (type == kRowHeader) {
        StartRow();
      } else if (IsCellRecord(type)) {
        ReadCell(type);
      }
    }
    if (futureDepth_ > 0) records_.Damaged("a block of future records does not end");
    if (!sawSheetData_) records_.Damaged("no sheet data");
    if (inSheetData_) records_.Damaged("sheet data does not end");
    records_.Finish();
  }

  const std::vector<PendingString>& Pending() const { return pending_; }
  // One more than the highest shared-string index of any cell, stored or not.
  std::uint64_t SharedStringsUsed() const { return sharedStringsUsed_; }
  [[noreturn]] void Damaged(const std::string& what) const { records_.Damaged(what); }

 private:
  // Outside the sheet data, a block of future records (Excel for Mac writes
  // one after it) is passed over whole. Inside the sheet data its records are
  // read as any others, so that no cell can hide in one.
  bool PassedOverAsFutureRecord(std::uint16_t type) {
    if (inSheetData_) return false;
    if (type == kBeginFutureRecords) {
      ++futureDepth_;
      return true;
    }
    if (futureDepth_ == 0) return false;
    if (type == kEndFutureRecords) --futureDepth_;
    if (type == kBeginSheetData || type == kEndSheetData) {
      records_.Damaged("sheet data inside a block of future records");
    }
    return true;
  }

  void StartRow() {
    if (!inSheetData_) records_.Damaged("row outside the sheet data");
    Fields f(records_);
    const std::uint32_t row = f.U32();
    if (row >= static_cast<std::uint32_t>(kMaxRows)) {
      records_.Damaged("row " + std::to_string(std::uint64_t{row} + 1) + " past the last row");
    }
    if (haveRow_ && row <= row_) {
      records_.Damaged("rows out of order: row " + std::to_string(row + 1) + " after row " + std::to_string(row_ + 1));
    }
    haveRow_ = true;
    row_ = row;
    previousColumn_ = -1;
  }

  void ReadCell(std::uint16_t type) {
    if (!inSheetData_) records_.Damaged("cell outside the sheet data");
    if (!haveRow_) records_.Damaged("cell before the first row");
    Fields f(records_);
    const bool shortForm = type >= kShortBlank && type <= kShortIsst;
    const std::int64_t column = shortForm ? previousColumn_ + 1 : f.U32();
    const std::uint32_t format = f.U32() & 0xFFFFFF;  // the high byte holds flags
    if (column >= kMaxColumns) records_.Damaged("cell past the last column in row " + std::to_string(row_ + 1));
    if (column <= previousColumn_) records_.Damaged("cells out of order in row " + std::to_string(row_ + 1));
    previousColumn_ = column;

    const std::uint16_t kind = shortForm ? static_cast<std::uint16_t>(type - kShortBlank + kCellBlank) : type;
    const NumberStyle style = format < styles_.size() ? styles_[format] : NumberStyle::General;
    CellValue value;
    switch (kind) {
      case kCellBlank: break;
      case kCellRk: value = CellValue::OfNumber(RkValue(f.U32()), style); break;
      case kCellError:
      case kFormulaError: value = CellValue::OfError(); break;
      case kCellBool:
      case kFormulaBool: value = Boolean(f.Byte()); break;
      case kCellReal:
      case kFormulaNumber: value = Number(f.F64(), style); break;
      case kCellSt:
      case kFormulaString: value = CellValue::OfText(f.WideString()); break;
      case kCellRichString:
        f.SkipBytes(1);  // whether runs and phonetic text follow the string
        value = CellValue::OfText(f.WideString());
        break;
      case kCellIsst: {
        const std::uint32_t index = f.U32();
        sharedStringsUsed_ = std::max<std::uint64_t>(sharedStringsUsed_, std::uint64_t{index} + 1);
        if (Stored()) {
          pending_.push_back({Row(), Column(), index});
          // Holds the cell's place in sheet order until its string is read.
          value = CellValue::OfText({});
        }
        break;
      }
      default: break;
    }
    // A formula record carries its flags after the result, then the formula.
    if (kind >= kFormulaString && kind <= kFormulaError) f.SkipBytes(2);
    if (Stored()) Put(std::move(value));
  }

  CellValue Boolean(std::uint8_t b) const {
    if (b > 1) records_.Damaged("boolean cell neither true nor false in row " + std::to_string(row_ + 1));
    return CellValue::OfBoolean(b == 1);
  }

  // A value that is no number (which no writer stores) reads as a read failure.
  static CellValue Number(double number, NumberStyle style) {
    return std::isfinite(number) ? CellValue::OfNumber(number, style) : CellValue::OfError();
  }

  bool Stored() const { return row_ < static_cast<std::uint32_t>(rowLimit_); }
  std::int32_t Row() const { return static_cast<std::int32_t>(row_ + 1); }
  std::int32_t Column() const { return static_cast<std::int32_t>(previousColumn_ + 1); }

  void Put(CellValue value) { cells_.Put(Row(), Column(), std::move(value)); }

  RecordStream records_;
  std::int32_t rowLimit_;
  const std::vector<NumberStyle>& styles_;
  SheetCells& cells_;

  std::uint64_t futureDepth_ = 0;  // blocks of future records open outside the sheet data
  bool sawSheetData_ = false;
  bool inSheetData_ = false;
  bool haveRow_ = false;
  std::uint32_t row_ = 0;            // from 0
  std::int64_t previousColumn_ = -1;  // from 0; -1 before the row's first cell
  std::uint64_t sharedStringsUsed_ = 0;
  std::vector<PendingString> pending_;
};

// The strings of a shared strings part that cells use.
struct WantedStrings {
  std::vector<std::uint32_t> indices;  // ascending, each once
  std::vector<std::string> texts;      // of indices[i]

  const std::string& Of(std::uint32_t index) const {
    return texts[static_cast<std::size_t>(std::lower_bound(indices.begin(), indices.end(), index) - indices.begin())];
  }
};

// Reads the whole shared strings part, keeping the strings at the wanted
// indices (they count against what the cells may hold); gives the number of
// strings in the part.
std::uint64_t ReadSharedStrings(const ZipDirectory& zip, const std::string& partName, WantedStrings& wanted,
                                SheetCells& cells) {
  std::sort(wanted.indices.begin(), wanted.indices.end());
  wanted.indices.erase(std::unique(wanted.indices.begin(), wanted.indices.end()), wanted.indices.end());
  wanted.texts.resize(wanted.indices.size());
  std::uint64_t count = 0;
  std::size_t next = 0;  // the first wanted index not read yet
  RecordStream records(zip, partName);
  while (records.Next()) {
    if (records.Type() != kSharedStringItem) continue;
    const std::uint64_t index = count++;
    if (next == wanted.indices.size() || wanted.indices[next] != index) continue;
    Fields f(records);
    f.SkipBytes(1);  // whether runs and phonetic text follow the string
    std::string text = f.WideString();
    cells.Hold(0, text.size());
    wanted.texts[next++] = std::move(text);
  }
  records.Finish();
  return count;
}

WorkbookFormat ReadXlsbActiveSheet(const OpenedPackage& opened, std::int32_t rowLimit, SheetCells& cells) {
  const ZipPackage& package = *opened.package;
  const ZipDirectory& zip = package.Directory();

  // The workbook part: the package's officeDocument relationship, else the usual name.
  std::string workbookPart = "xl/workbook.bin";
  const PackageRelationships root(package, "");
  if (const PackageRelationship* r = root.ByType("/officeDocument")) {
    workbookPart = root.PartOf(*r);
    if (workbookPart.empty()) ThrowDamaged("_rels/.rels: workbook target outside the package");
  }
  const WorkbookInfo workbook = ReadWorkbook(zip, workbookPart);
  if (workbook.sheetRelationshipIds.empty()) ThrowDamaged(workbookPart + ": no sheets");

  const PackageRelationships relationships(package, workbookPart);
  if (relationships.Missing()) ThrowDamaged(RelationshipsPartOf(workbookPart) + ": part missing");
  // An active tab past the last sheet falls back to the first, as in .xlsx.
  const std::size_t active =
      workbook.activeTab < workbook.sheetRelationshipIds.size() ? workbook.activeTab : 0;
  const PackageRelationship* sheetRelationship = relationships.ById(workbook.sheetRelationshipIds[active]);
  if (sheetRelationship == nullptr) ThrowDamaged(workbookPart + ": the active sheet has no part");
  if (IsSheetWithoutCells(sheetRelationship->type)) {
    cells.SetActiveIsWorksheet(false);
    return WorkbookFormat::Xlsb;
  }
  const std::string sheetPart = relationships.PartOf(*sheetRelationship);
  if (sheetPart.empty()) ThrowDamaged(workbookPart + ": sheet target outside the package");

  std::vector<NumberStyle> styles;
  if (const PackageRelationship* r = relationships.ByType("/styles")) {
    const std::string stylesPart = relationships.PartOf(*r);
    if (stylesPart.empty()) ThrowDamaged(workbookPart + ": styles target outside the package");
    styles = ReadStyles(zip, stylesPart);
  }

  cells.SetDateSystem(workbook.date1904 ? DateSystem::Base1904 : DateSystem::Base1900);
  SheetReader sheet(zip, sheetPart, rowLimit, styles, cells);
  sheet.Read();
  if (sheet.SharedStringsUsed() == 0) return WorkbookFormat::Xlsb;

  std::string stringsPart = FolderOf(workbookPart) + "sharedStrings.bin";
  if (const PackageRelationship* r = relationships.ByType("/sharedStrings")) stringsPart = relationships.PartOf(*r);
  if (stringsPart.empty()) ThrowDamaged(workbookPart + ": shared strings target outside the package");
  WantedStrings strings;
  strings.indices.reserve(sheet.Pending().size());
  for (const auto& p : sheet.Pending()) strings.indices.push_back(p.index);
  const std::uint64_t count = ReadSharedStrings(zip, stringsPart, strings, cells);
  if (sheet.SharedStringsUsed() > count) {
    sheet.Damaged("shared string " + std::to_string(sheet.SharedStringsUsed() - 1) + " past the " +
                  std::to_string(count) + " strings of the workbook");
  }
  for (const auto& p : sheet.Pending()) cells.Put(p.row, p.column, CellValue::OfText(strings.Of(p.index)));
  return WorkbookFormat::Xlsb;
}

// A binary workbook: the package's main part is the binary xl/workbook.bin.
bool IsBinaryWorkbook(const OpenedPackage& opened) {
  const ZipDirectory& zip = opened.package->Directory();
  const std::string rels = zip.Head("_rels/.rels", 64 * 1024);
  if (!rels.empty()) return rels.find("workbook.bin\"") != std::string::npos;
  return zip.Find("xl/workbook.bin") != nullptr && zip.Find("xl/workbook.xml") == nullptr;
}

constexpr WorkbookFormat kXlsbFormats[] = {WorkbookFormat::Xlsb};

}  // namespace

extern const FormatRow kXlsbRow{"xlsb", kXlsbFormats, Container::Zip, IsBinaryWorkbook, ReadXlsbActiveSheet, kLargeSheet};

}  // namespace ratemover::spreadsheet
