// The Office Open XML reader (.xlsx, .xlsm): the package relationships lead to
// the workbook part, the workbook names the active sheet, its relationships
// give the sheet's part, the styles say which numbers are dates or currency
// amounts, and the shared strings give the text of the string cells. The sheet
// is streamed row by row and left as soon as a row beyond the limit starts;
// the shared strings are read after it, keeping only those the read rows use.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/civil_calendar.h"
#include "common/cp1250.h"
#include "common/iso_date_time.h"
#include "spreadsheet/cell_text.h"
#include "spreadsheet/number_format.h"
#include "spreadsheet/open_failure.h"
#include "spreadsheet/package_relationships.h"
#include "spreadsheet/sheet_limits.h"
#include "spreadsheet/format_table.h"
#include "spreadsheet/xml_stream.h"
#include "spreadsheet/xml_text.h"
#include "spreadsheet/zip_part.h"

namespace ratemover::spreadsheet {
namespace {

// Elements nested deeper than this make a part damaged.
constexpr std::size_t kMaxDepth = 256;
// Lists read from the small parts (relationships, sheets, formats, styles).
constexpr std::size_t kMaxListEntries = 1u << 20;
// The text of one cell or one value; a cell holds at most 32767 characters.
constexpr std::size_t kMaxValueBytes = 4u << 20;

// A non-negative whole number of at most 10 digits, surrounding XML blanks allowed.
bool ParseIndex(std::string_view text, std::int64_t& value) {
  const std::optional<std::int64_t> digits = ParseXmlDigits(text);
  if (digits) value = *digits;
  return digits.has_value();
}

bool ParseNumber(std::string_view text, double& value) {
  text = TrimXmlSpace(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  // Only the decimal and scientific forms: from_chars also takes "inf" and "nan".
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E')) return false;
  }
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

// A cell reference such as "B12": column letters, then the row.
bool ParseCellReference(std::string_view ref, std::int32_t& row, std::int32_t& column) {
  std::size_t i = 0;
  std::int64_t col = 0;
  while (i < ref.size() && ((ref[i] >= 'A' && ref[i] <= 'Z') || (ref[i] >= 'a' && ref[i] <= 'z'))) {
    const char upper = static_cast<char>(ref[i] & ~0x20);
    col = col * 26 + (upper - 'A' + 1);
    if (col > kMaxColumns) return false;
    ++i;
  }
  if (i == 0 || i == ref.size() || ref.size() - i > 7) return false;
  std::int64_t r = 0;
  for (; i < ref.size(); ++i) {
    if (ref[i] < '0' || ref[i] > '9') return false;
    r = r * 10 + (ref[i] - '0');
  }
  if (r < 1 || r > kMaxRows) return false;
  row = static_cast<std::int32_t>(r);
  column = static_cast<std::int32_t>(col);
  return true;
}

// A date cell (t="d") holds an ISO 8601 date, "2024-03-05" or
// "2024-03-05T14:30:15[.5][Z]", or a time of day alone, "14:30:15", which is a
// time whatever the date system.
bool ParseIsoDate(std::string_view text, DateSystem system, double& serial) {
  text = TrimXmlSpace(text);
  if (text.size() > 2 && text[2] == ':') {
    const auto secondsOfDay = ParseIsoTimeOfDay(text);
    if (!secondsOfDay) return false;
    serial = *secondsOfDay / 86400.0;
    return true;
  }
  const auto date = ParseIsoDateTime(text);
  if (!date) return false;
  serial = SerialOfDateTime(date->year, date->month, date->day, date->secondsOfDay, system);
  return true;
}

// An escape "_xHHHH_" at pos: its UTF-16 code unit, or -1.
int EscapeAt(std::string_view s, std::size_t pos) {
  if (s.size() - pos < 7 || s[pos] != '_' || (s[pos + 1] != 'x' && s[pos + 1] != 'X') || s[pos + 6] != '_') return -1;
  int unit = 0;
  for (std::size_t i = pos + 2; i < pos + 6; ++i) {
    const char c = s[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return -1;
    }
    unit = unit * 16 + digit;
  }
  return unit;
}

// A text value of the file (UTF-8 with "_xHHHH_" escapes for characters XML
// cannot carry) as the program's Windows-1250 text.
std::string TextOfXstring(std::string_view utf8) {
  if (utf8.find('_') == std::string_view::npos) return Cp1250FromUtf8(utf8);
  std::string decoded;
  decoded.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const int unit = EscapeAt(utf8, i);
    if (unit < 0) {
      decoded += utf8[i++];
      continue;
    }
    i += 7;
    // a character beyond the basic plane is a pair of escapes
    const int next = i < utf8.size() ? EscapeAt(utf8, i) : -1;
    const char16_t units[2] = {static_cast<char16_t>(unit), static_cast<char16_t>(next < 0 ? 0 : next)};
    const Utf16Step step = DecodeUtf16At(std::u16string_view(units, next < 0 ? 1 : 2), 0);
    if (step.length == 2) i += 7;
    if (step.valid) {
      AppendUtf8(decoded, step.codePoint);
    } else {
      decoded += '?';
    }
  }
  return Cp1250FromUtf8(decoded);
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Counts nesting and refuses documents nested too deep.
class DepthHandler : public XmlHandler {
 protected:
  bool Enter() {
    if (++depth_ > kMaxDepth) {
      Fail("nested too deep");
      return false;
    }
    return true;
  }
  void Leave() { --depth_; }
  std::size_t depth_ = 0;
};

struct Relationship {
  std::string id;
  std::string type;
  std::string target;
  bool external = false;
};

class RelationshipsHandler : public DepthHandler {
 public:
  void StartElement(std::string_view, std::string_view name, const std::vector<XmlAttribute>& attributes) override {
    if (!Enter()) return;
    if (depth_ != 2 || name != "Relationship") return;
    if (relationships.size() >= kMaxListEntries) {
      Fail("too many relationships");
      return;
    }
    Relationship r;
    if (const auto* a = FindAttribute(attributes, "Id")) r.id = a->value;
    if (const auto* a = FindAttribute(attributes, "Type")) r.type = a->value;
    if (const auto* a = FindAttribute(attributes, "Target")) r.target = a->value;
    if (const auto* a = FindAttribute(attributes, "TargetMode")) r.external = a->value == "External";
    relationships.push_back(std::move(r));
  }
  void EndElement(std::string_view, std::string_view) override { Leave(); }
  void Text(std::string_view) override {}

  const Relationship* ByType(std::string_view typeSuffix) const {
    for (const auto& r : relationships) {
      if (!r.external && EndsWith(r.type, typeSuffix)) return &r;
    }
    return nullptr;
  }
  const Relationship* ById(std::string_view id) const {
    for (const auto& r : relationships) {
      if (!r.external && r.id == id) return &r;
    }
    return nullptr;
  }

  std::vector<Relationship> relationships;
};

class WorkbookHandler : public DepthHandler {
 public:
  void StartElement(std::string_view, std::string_view name, const std::vector<XmlAttribute>& attributes) override {
    if (!Enter()) return;
    if (depth_ == 2 && name == "workbookPr") {
      if (const auto* a = FindAttribute(attributes, "date1904")) {
        const std::string_view v = TrimXmlSpace(a->value);
        date1904 = v == "1" || v == "true";
      }
    } else if (depth_ == 3 && name == "workbookView" && !sawView_) {
      sawView_ = true;
      std::int64_t tab = 0;
      if (const auto* a = FindAttribute(attributes, "activeTab"); a != nullptr && ParseIndex(a->value, tab)) {
        activeTab = tab;
      }
    } else if (depth_ == 3 && name == "sheet") {
      if (sheetIds.size() >= kMaxListEntries) {
        Fail("too many sheets");
        return;
      }
      std::string id;
      for (const auto& a : attributes) {
        if (a.name == "id" && EndsWith(a.ns, "/relationships")) id = a.value;
      }
      sheetIds.push_back(std::move(id));
    }
  }
  void EndElement(std::string_view, std::string_view) override { Leave(); }
  void Text(std::string_view) override {}

  bool date1904 = false;
  std::int64_t activeTab = 0;
  std::vector<std::string> sheetIds;

 private:
  bool sawView_ = false;
};

class StylesHandler : public DepthHandler {
 public:
  void StartElement(std::string_view, std::string_view name, const std::vector<XmlAttribute>& attributes) override {
    if (!Enter()) return;
    if (depth_ == 2) {
      inNumFmts_ = name == "numFmts";
      inCellXfs_ = name == "cellXfs";
      return;
    }
    if (depth_ != 3) return;
    if (inNumFmts_ && name == "numFmt") {
      std::int64_t id = 0;
      const auto* idAttr = FindAttribute(attributes, "numFmtId");
      const auto* code = FindAttribute(attributes, "formatCode");
      if (idAttr == nullptr || code == nullptr || !ParseIndex(idAttr->value, id)) return;
      if (codes_.size() >= kMaxListEntries) {
        Fail("too many number formats");
        return;
      }
      codes_[id] = StyleOfFormatCode(code->value);
    } else if (inCellXfs_ && name == "xf") {
      if (xfFormats_.size() >= kMaxListEntries) {
        Fail("too many cell formats");
        return;
      }
      std::int64_t id = 0;
      if (const auto* a = FindAttribute(attributes, "numFmtId"); a == nullptr || !ParseIndex(a->value, id)) id = 0;
      xfFormats_.push_back(id);
    }
  }
  void EndElement(std::string_view, std::string_view) override {
    if (depth_ == 2) inNumFmts_ = inCellXfs_ = false;
    Leave();
  }
  void Text(std::string_view) override {}

  // The number style of every cell format, by xf index.
  std::vector<NumberStyle> Styles() const {
    std::vector<NumberStyle> styles;
    styles.reserve(xfFormats_.size());
    for (const std::int64_t id : xfFormats_) {
      const auto custom = codes_.find(id);
      if (custom != codes_.end()) {
        styles.push_back(custom->second);
      } else {
        styles.push_back(id <= 0x7FFFFFFF ? StyleOfBuiltinFormat(static_cast<int>(id)) : NumberStyle::General);
      }
    }
    return styles;
  }

 private:
  bool inNumFmts_ = false;
  bool inCellXfs_ = false;
  std::unordered_map<std::int64_t, NumberStyle> codes_;
  std::vector<std::int64_t> xfFormats_;
};

// The type of a cell, its t attribute.
enum class CellType { Number, Shared, FormulaString, Inline, Boolean, Error, Date, Unknown };

CellType CellTypeOf(std::string_view t) {
  t = TrimXmlSpace(t);
  if (t == "n") return CellType::Number;
  if (t == "s") return CellType::Shared;
  if (t == "str") return CellType::FormulaString;
  if (t == "inlineStr") return CellType::Inline;
  if (t == "b") return CellType::Boolean;
  if (t == "e") return CellType::Error;
  if (t == "d") return CellType::Date;
  return CellType::Unknown;
}

// A string cell waiting for its shared string.
struct PendingString {
  std::int32_t row;
  std::int32_t column;
  std::uint32_t index;
};

class SheetHandler : public DepthHandler {
 public:
  SheetHandler(std::int32_t rowLimit, const std::vector<NumberStyle>& styles, SheetCells& cells)
      : rowLimit_(rowLimit), styles_(styles), cells_(cells) {}

  void StartElement(std::string_view, std::string_view name, const std::vector<XmlAttribute>& attributes) override {
    if (!Enter()) return;
    if (depth_ == 2) {
      if (name == "sheetData") {
        if (sawSheetData_) return Fail("sheet data given twice");
        sawSheetData_ = inSheetData_ = true;
      }
      return;
    }
    if (!inSheetData_) return;
    if (depth_ == 3 && name == "row") {
      StartRow(attributes);
    } else if (depth_ == 4 && name == "c") {
      StartCell(attributes);
    } else if (depth_ == 5 && inCell_) {
      if (name == "v") {
        inV_ = hasV_ = true;
        v_.clear();
      } else if (name == "f") {
        hasF_ = true;
      } else if (name == "is") {
        inIs_ = hasIs_ = true;
      }
    } else if (inIs_ && name == "t" && (depth_ == 6 || (depth_ == 7 && inRun_))) {
      inT_ = true;
    } else if (inIs_ && depth_ == 6 && name == "r") {
      inRun_ = true;
    }
  }

  void EndElement(std::string_view, std::string_view name) override {
    if (depth_ == 2 && inSheetData_) {
      inSheetData_ = false;
      sheetDataEnded_ = true;
    } else if (inSheetData_) {
      if (depth_ == 3) {
        previousRow_ = row_;
      } else if (depth_ == 4 && inCell_) {
        FinishCell();
      } else if (depth_ == 5) {
        if (name == "v") inV_ = false;
        if (name == "is") inIs_ = false;
      } else if (depth_ == 6) {
        inRun_ = false;
        inT_ = false;
      } else if (depth_ == 7) {
        inT_ = false;
      }
    }
    Leave();
  }

  void Text(std::string_view utf8) override {
    std::string* target = inV_ ? &v_ : (inT_ ? &is_ : nullptr);
    if (target == nullptr) return;
    if (target->size() + utf8.size() > kMaxValueBytes) return Fail("value too long");
    target->append(utf8);
  }

  // Whether the sheet's data was there and ended.
  bool Whole() const { return sheetDataEnded_; }
  const std::vector<PendingString>& Pending() const { return pending_; }

 private:
  // Rows come in ascending order, each once; so do the cells of a row. Rows
  // past the limit are still read, for that order, but nothing of them is kept.
  void StartRow(const std::vector<XmlAttribute>& attributes) {
    std::int64_t r = 0;
    if (const auto* a = FindAttribute(attributes, "r")) {
      if (!ParseIndex(a->value, r) || r < 1 || r > kMaxRows) return Fail("row number not valid");
      if (r <= previousRow_) return Fail("rows out of order");
    } else {
      r = static_cast<std::int64_t>(previousRow_) + 1;
      if (r > kMaxRows) return Fail("row number not valid");
    }
    row_ = static_cast<std::int32_t>(r);
    previousColumn_ = 0;
    // Past the limit only the order of rows and cells counts, and the end of the sheet's data.
    if (row_ > rowLimit_) Skim(4);
  }

  void StartCell(const std::vector<XmlAttribute>& attributes) {
    std::int32_t row = row_;
    std::int32_t column = previousColumn_ + 1;
    if (const auto* a = FindAttribute(attributes, "r")) {
      if (!ParseCellReference(a->value, row, column)) return Fail("cell reference not valid");
      if (row_ != 0 && row != row_) return Fail("cell outside its row");
      if (column <= previousColumn_) return Fail("cells out of order");
    } else if (row_ == 0 || column > kMaxColumns) {
      return Fail("cell outside a row");  // or past the last column
    }
    previousColumn_ = column;
    if (row > rowLimit_) return;
    // The first attribute of each name counts: t and s, the type and style.
    const XmlAttribute* type = nullptr;
    const XmlAttribute* style = nullptr;
    for (const auto& a : attributes) {
      if (a.name == "t") {
        if (type == nullptr) type = &a;
      } else if (a.name == "s") {
        if (style == nullptr) style = &a;
      }
    }
    inCell_ = true;
    cellRow_ = row;
    cellColumn_ = column;
    type_ = type != nullptr ? CellTypeOf(type->value) : CellType::Number;
    style_ = 0;
    unreadable_ = false;
    // An empty style is the default one; a style that is no index makes the
    // cell unreadable, not the workbook.
    if (const auto* a = style; a != nullptr && !TrimXmlSpace(a->value).empty()) {
      std::int64_t s = 0;
      if (ParseIndex(a->value, s)) {
        style_ = s;
      } else {
        unreadable_ = true;
      }
    }
    hasV_ = hasF_ = hasIs_ = false;
    inV_ = inIs_ = inT_ = inRun_ = false;
    v_.clear();
    is_.clear();
  }

  NumberStyle StyleOf(std::int64_t xf) const {
    return xf >= 0 && static_cast<std::uint64_t>(xf) < styles_.size() ? styles_[static_cast<std::size_t>(xf)]
                                                                      : NumberStyle::General;
  }

  void Put(CellValue value) { cells_.Put(cellRow_, cellColumn_, std::move(value)); }

  void FinishCell() {
    inCell_ = false;
    // A formula without a written result has no cached value to read.
    const CellValue noResult = hasF_ ? CellValue::OfError() : CellValue::Empty();
    if (unreadable_) return Put(CellValue::OfError());
    if (type_ == CellType::Number) {
      if (!hasV_ || TrimXmlSpace(v_).empty()) return Put(noResult);
      double number = 0;
      if (!ParseNumber(v_, number)) return Fail("number not valid");
      return Put(CellValue::OfNumber(number, StyleOf(style_)));
    }
    if (type_ == CellType::Shared) {
      std::int64_t index = 0;
      if (!hasV_ || !ParseIndex(v_, index) || index > 0xFFFFFFFFll) return Fail("shared string index not valid");
      // Holds the cell's place in sheet order until its string is read, so
      // that storing the strings later replaces cells instead of inserting them.
      cells_.Put(cellRow_, cellColumn_, CellValue::OfText({}));
      pending_.push_back({cellRow_, cellColumn_, static_cast<std::uint32_t>(index)});
      return;
    }
    if (type_ == CellType::FormulaString) {
      // A written result, even an empty one (LibreOffice writes ="" as <v></v>).
      if (!hasV_) return Put(noResult);
      return Put(CellValue::OfText(TextOfXstring(v_)));
    }
    if (type_ == CellType::Inline) {
      if (hasIs_) return Put(CellValue::OfText(TextOfXstring(is_)));
      if (hasV_) return Put(CellValue::OfText(TextOfXstring(v_)));
      return Put(noResult);
    }
    if (type_ == CellType::Boolean) {
      if (!hasV_) return Put(noResult);
      const std::string_view v = TrimXmlSpace(v_);
      if (v == "1" || v == "true") return Put(CellValue::OfBoolean(true));
      if (v == "0" || v == "false") return Put(CellValue::OfBoolean(false));
      return Fail("boolean not valid");
    }
    if (type_ == CellType::Error) return Put(CellValue::OfError());
    if (type_ == CellType::Date) {
      if (!hasV_ || TrimXmlSpace(v_).empty()) return Put(noResult);
      double serial = 0;
      if (!ParseIsoDate(v_, cells_.GetDateSystem(), serial)) return Put(CellValue::OfError());
      return Put(CellValue::OfNumber(serial, NumberStyle::DateTime));
    }
    // a cell type the format does not have: that cell cannot be read
    Put(CellValue::OfError());
  }

  std::int32_t rowLimit_;
  const std::vector<NumberStyle>& styles_;
  SheetCells& cells_;

  bool sawSheetData_ = false;
  bool inSheetData_ = false;
  bool sheetDataEnded_ = false;
  std::int32_t row_ = 0;
  std::int32_t previousRow_ = 0;
  std::int32_t previousColumn_ = 0;

  bool inCell_ = false;
  std::int32_t cellRow_ = 0;
  std::int32_t cellColumn_ = 0;
  CellType type_ = CellType::Number;
  std::int64_t style_ = 0;
  bool unreadable_ = false;  // an attribute of the cell has a value that cannot be read
  bool hasV_ = false, hasF_ = false, hasIs_ = false;
  bool inV_ = false, inIs_ = false, inT_ = false, inRun_ = false;
  std::string v_;
  std::string is_;

  std::vector<PendingString> pending_;
};

// Collects the shared strings whose indices are asked for, and stops after the last of them.
class SharedStringsHandler : public DepthHandler {
 public:
  // The strings it keeps count against what the cells may hold.
  SharedStringsHandler(std::vector<std::uint32_t> wanted, SheetCells& cells)
      : wanted_(std::move(wanted)), cells_(cells) {
    std::sort(wanted_.begin(), wanted_.end());
    wanted_.erase(std::unique(wanted_.begin(), wanted_.end()), wanted_.end());
    strings_.resize(wanted_.size());
    found_.assign(wanted_.size(), false);
  }

  void StartElement(std::string_view, std::string_view name, const std::vector<XmlAttribute>&) override {
    if (!Enter()) return;
    if (depth_ == 2 && name == "si") {
      ++index_;
      if (wanted_.empty() || index_ > wanted_.back()) return Stop();
      // The strings come in index order: the next wanted one is the only candidate.
      while (next_ < wanted_.size() && wanted_[next_] < index_) ++next_;
      collecting_ = next_ < wanted_.size() && wanted_[next_] == index_;
      text_.clear();
    } else if (collecting_ && name == "t" && (depth_ == 3 || (depth_ == 4 && inRun_))) {
      inT_ = true;
    } else if (depth_ == 3 && name == "r") {
      inRun_ = true;
    }
  }

  void EndElement(std::string_view, std::string_view) override {
    if (depth_ == 2 && collecting_) {
      collecting_ = false;
      std::string text = TextOfXstring(text_);
      cells_.Hold(0, text.size());
      strings_[next_] = std::move(text);
      found_[next_] = true;
    } else if (depth_ == 3) {
      inRun_ = inT_ = false;
    } else if (depth_ == 4) {
      inT_ = false;
    }
    Leave();
  }

  void Text(std::string_view utf8) override {
    if (!inT_) return;
    if (text_.size() + utf8.size() > kMaxValueBytes) return Fail("string too long");
    text_.append(utf8);
  }

  const std::string* Find(std::uint32_t index) const {
    const auto it = std::lower_bound(wanted_.begin(), wanted_.end(), index);
    if (it == wanted_.end() || *it != index) return nullptr;
    const auto at = static_cast<std::size_t>(it - wanted_.begin());
    return found_[at] ? &strings_[at] : nullptr;
  }

 private:
  std::vector<std::uint32_t> wanted_;
  std::int64_t index_ = -1;
  bool collecting_ = false;
  bool inRun_ = false;
  bool inT_ = false;
  std::string text_;
  SheetCells& cells_;
  std::size_t next_ = 0;              // the first wanted index not passed yet
  std::vector<std::string> strings_;  // by position in wanted_
  std::vector<bool> found_;
};

// Streams a part the workbook cannot do without: a missing one is damage.
void StreamWhole(const ZipPackage& package, const std::string& partName, XmlHandler& handler) {
  if (package.Stream(partName, handler) == XmlPartResult::Missing) ThrowDamaged(partName + ": part missing");
}

WorkbookFormat ReadXlsxActiveSheet(const OpenedPackage& opened, std::int32_t rowLimit, SheetCells& cells) {
  const ZipPackage& package = *opened.package;

  // The workbook part: the package's officeDocument relationship, else the usual name.
  std::string workbookPart = "xl/workbook.xml";
  {
    RelationshipsHandler root;
    if (package.Stream("_rels/.rels", root) != XmlPartResult::Missing) {
      if (const Relationship* r = root.ByType("/officeDocument")) {
        workbookPart = ResolvePartName("", r->target);
        if (workbookPart.empty()) ThrowDamaged("_rels/.rels: workbook target not valid");
      }
    }
  }

  WorkbookHandler workbook;
  StreamWhole(package, workbookPart, workbook);
  if (workbook.sheetIds.empty()) ThrowDamaged(workbookPart + ": no sheet");
  RelationshipsHandler workbookRels;
  StreamWhole(package, RelationshipsPartOf(workbookPart), workbookRels);
  const std::string folder = FolderOf(workbookPart);

  const std::size_t active =
      workbook.activeTab >= 0 && static_cast<std::uint64_t>(workbook.activeTab) < workbook.sheetIds.size()
          ? static_cast<std::size_t>(workbook.activeTab)
          : 0;
  const Relationship* sheetRel = workbookRels.ById(workbook.sheetIds[active]);
  if (sheetRel == nullptr) ThrowDamaged(RelationshipsPartOf(workbookPart) + ": active sheet not related");
  if (IsSheetWithoutCells(sheetRel->type)) {
    cells.SetActiveIsWorksheet(false);
    return WorkbookFormat::Xlsx;
  }
  const std::string sheetPart = ResolvePartName(folder, sheetRel->target);
  if (sheetPart.empty()) ThrowDamaged(RelationshipsPartOf(workbookPart) + ": sheet target not valid");

  std::vector<NumberStyle> styles;
  if (const Relationship* r = workbookRels.ByType("/styles")) {
    const std::string stylesPart = ResolvePartName(folder, r->target);
    if (stylesPart.empty()) ThrowDamaged(RelationshipsPartOf(workbookPart) + ": styles target not valid");
    StylesHandler handler;
    StreamWhole(package, stylesPart, handler);
    styles = handler.Styles();
  }

  cells.SetDateSystem(workbook.date1904 ? DateSystem::Base1904 : DateSystem::Base1900);
  SheetHandler sheet(rowLimit, styles, cells);
  if (package.Stream(sheetPart, sheet) == XmlPartResult::Missing) ThrowDamaged(sheetPart + ": part missing");
  if (!sheet.Whole()) ThrowDamaged(sheetPart + ": sheet data missing");

  if (sheet.Pending().empty()) return WorkbookFormat::Xlsx;
  std::string stringsPart = folder + "sharedStrings.xml";
  if (const Relationship* r = workbookRels.ByType("/sharedStrings")) {
    stringsPart = ResolvePartName(folder, r->target);
  }
  if (stringsPart.empty()) ThrowDamaged(RelationshipsPartOf(workbookPart) + ": shared strings target not valid");
  std::vector<std::uint32_t> wanted;
  wanted.reserve(sheet.Pending().size());
  for (const auto& p : sheet.Pending()) wanted.push_back(p.index);
  SharedStringsHandler strings(std::move(wanted), cells);
  if (package.Stream(stringsPart, strings) == XmlPartResult::Missing) ThrowDamaged(stringsPart + ": part missing");
  for (const auto& p : sheet.Pending()) {
    const std::string* text = strings.Find(p.index);
    if (text == nullptr) ThrowDamaged(stringsPart + ": string index out of range");
    cells.Put(p.row, p.column, CellValue::OfText(*text));
  }
  return WorkbookFormat::Xlsx;
}

bool IsOfficeOpenXml(const OpenedPackage& opened) {
  const ZipDirectory& zip = opened.package->Directory();
  if (zip.Find("xl/workbook.xml") != nullptr) return true;
  return zip.Head("_rels/.rels", 64 * 1024).find("relationships/officeDocument") != std::string::npos;
}

constexpr WorkbookFormat kXlsxFormats[] = {WorkbookFormat::Xlsx};

}  // namespace

extern const FormatRow kXlsxRow{"xlsx", kXlsxFormats, Container::Zip, IsOfficeOpenXml, ReadXlsxActiveSheet, kLargeSheet};

}  // namespace ratemover::spreadsheet
