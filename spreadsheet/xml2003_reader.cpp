// The XML Spreadsheet 2003 reader: one XML document whose root is Workbook
// in the spreadsheet namespace, streamed once from its first byte to its last.
// Worksheets come in document order; ExcelWorkbook/ActiveSheet names the
// active one (0-based), else the first is. The Styles give the number formats
// by style ID, inheriting through ss:Parent; they are resolved once, where
// they end. Where the workbook settings and
// the styles come before the worksheets, as writers put them, the active
// sheet's cells go straight into the table; otherwise the cells of every sheet
// that may be the active one are kept with their style IDs until the end,
// when the active sheet, the date system and the number styles are known.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <queue>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <gsf/gsf-input.h>

#include "common/iso_date_time.h"
#include "common/cp1250.h"
#include "spreadsheet/cell_text.h"
#include "spreadsheet/number_format.h"
#include "spreadsheet/ods_values.h"
#include "spreadsheet/open_failure.h"
#include "spreadsheet/sheet_limits.h"
#include "spreadsheet/workbook_format.h"
#include "spreadsheet/format_table.h"
#include "spreadsheet/xml_stream.h"
#include "spreadsheet/xml_text.h"

namespace ratemover::spreadsheet {
namespace {

constexpr std::string_view kSpreadsheetNs = "urn:schemas-microsoft-com:office:spreadsheet";
constexpr std::string_view kExcelNs = "urn:schemas-microsoft-com:office:excel";

constexpr std::size_t kMaxDepth = 256;
constexpr std::size_t kMaxStyles = 1u << 16;
// Merged areas reaching down into the rows still to come.
constexpr std::size_t kMaxOpenMerges = 1u << 16;
// The text of one value; a cell holds at most 32767 characters.
constexpr std::size_t kMaxValueBytes = 4u << 20;
// How much of a file is looked at to recognise the format.
constexpr std::size_t kHeadBytes = 64 * 1024;

// A whole number from 0 to 2^31-1, surrounding XML blanks allowed.
std::optional<std::int64_t> ParseCount(std::string_view text) {
  const std::optional<std::int64_t> value = ParseXmlDigits(text);
  if (!value || *value > 0x7FFFFFFF) return std::nullopt;
  return value;
}

// The named formats of the format; any other text is a format code.
NumberStyle StyleOfXmlFormat(std::string_view format) {
  static constexpr std::string_view kDates[] = {"General Date", "Short Date",  "Medium Date", "Long Date",
                                                "Long Time",    "Medium Time", "Short Time"};
  static constexpr std::string_view kCurrencies[] = {"Currency", "Euro Currency"};
  static constexpr std::string_view kGeneral[] = {"General", "General Number", "Fixed",      "Standard", "Percent",
                                                  "Scientific", "Yes/No",     "True/False", "On/Off"};
  for (const auto name : kDates) {
    if (format == name) return NumberStyle::DateTime;
  }
  for (const auto name : kCurrencies) {
    if (format == name) return NumberStyle::Currency;
  }
  for (const auto name : kGeneral) {
    if (format == name) return NumberStyle::General;
  }
  return StyleOfFormatCode(format);
}

struct Style {
  std::string parent;
  std::optional<std::string> format;  // the NumberFormat's ss:Format, when the style has one
  NumberStyle resolved = NumberStyle::General;  // by its format or its parents', once the styles end
  std::uint8_t mark = 0;  // how far that is known
};

// A cell of a kept worksheet; numbers wait for their style, dates for the date system.
struct KeptCell {
  std::int32_t row;
  std::int32_t column;
  CellValue value;
  std::uint32_t style = 0;  // for a number: index into the style IDs met, 0 for none
  std::optional<IsoDateTime> date;
};

// The areas merged down from rows above, for the question whether one covers
// a column of the current row: for every column, the last row an area covers
// it to, kept as the greatest over a tree of column ranges, so that an area
// goes in and a column is looked up in steps that grow only with the log of
// the columns. An area covers from the row below its own, and the cells of
// its own row that follow it lie right of it, so an area counts from when it
// is added. How many are still open is counted by when they end.
class MergedAreas {
 public:
  void Clear() {
    for (const std::size_t node : touched_) lastRow_[node] = 0;
    touched_.clear();
    ends_ = {};
  }

  // Areas that end above this row no longer count as open.
  void StartRow(std::int32_t row) {
    while (!ends_.empty() && ends_.top() < row) ends_.pop();
  }

  std::size_t Open() const { return ends_.size(); }

  // An area over columns first..last (from 1) down to lastRow.
  void Add(std::int32_t first, std::int32_t last, std::int32_t lastRow) {
    if (lastRow_.empty()) lastRow_.assign(2 * kLeaves, 0);
    ends_.push(lastRow);
    std::size_t low = static_cast<std::size_t>(first - 1) + kLeaves;
    std::size_t high = static_cast<std::size_t>(last) + kLeaves;
    for (; low < high; low /= 2, high /= 2) {
      if (low % 2 == 1) Raise(low++, lastRow);
      if (high % 2 == 1) Raise(--high, lastRow);
    }
  }

  // Whether an area covers this column (from 1) of this row.
  bool Covers(std::int32_t column, std::int32_t row) const {
    if (lastRow_.empty()) return false;
    for (std::size_t node = static_cast<std::size_t>(column - 1) + kLeaves; node >= 1; node /= 2) {
      if (lastRow_[node] >= row) return true;
    }
    return false;
  }

 private:
  static constexpr std::size_t kLeaves = kMaxColumns;
  static_assert((kLeaves & (kLeaves - 1)) == 0, "the columns fill a whole tree");

  void Raise(std::size_t node, std::int32_t lastRow) {
    if (lastRow_[node] == 0) touched_.push_back(node);
    lastRow_[node] = std::max(lastRow_[node], lastRow);
  }

  std::vector<std::int32_t> lastRow_;  // by node of the tree: 1 the root, kLeaves + c - 1 column c
  std::vector<std::size_t> touched_;   // nodes set since the last Clear
  std::priority_queue<std::int32_t, std::vector<std::int32_t>, std::greater<>> ends_;  // last rows of open areas
};

class WorkbookHandler : public XmlHandler {
 public:
  WorkbookHandler(std::int32_t rowLimit, SheetCells& cells) : rowLimit_(rowLimit), cells_(cells) {
    styleIds_.emplace_back();
  }

  void StartElement(std::string_view ns, std::string_view name, const std::vector<XmlAttribute>& attributes) override {
    if (++depth_ > kMaxDepth) return Fail("nested too deep");
    if (inData_) return;  // formatting inside a rich text value
    const bool ss = ns == kSpreadsheetNs;
    switch (depth_) {
      case 1:
        if (!ss || name != "Workbook") Fail("root is not a spreadsheet workbook");
        return;
      case 2:
        inExcelWorkbook_ = (ns == kExcelNs || ss) && name == "ExcelWorkbook";
        inStyles_ = ss && name == "Styles";
        // Once given, the settings and the styles may already have placed cells.
        if ((inExcelWorkbook_ && settingsEnded_) || (inStyles_ && stylesEnded_)) {
          return Fail("workbook settings or styles given twice");
        }
        if (ss && name == "Worksheet") StartWorksheet();
        return;
      case 3:
        if (inExcelWorkbook_ && name == "ActiveSheet") {
          inActiveSheet_ = true;
          activeText_.clear();
        } else if (inExcelWorkbook_ && name == "Date1904") {
          date1904_ = true;
        } else if (inStyles_ && ss && name == "Style") {
          StartStyle(attributes);
        } else if (inWorksheet_ && ss && name == "Table") {
          if (sawTable_) return Fail("two tables in one worksheet");
          sawTable_ = inTable_ = true;
        }
        return;
      case 4:
        if (inStyle_ && ss && name == "NumberFormat") {
          const auto* format = FindAttribute(attributes, "Format");
          styles_[styleId_].format = format != nullptr ? std::string(format->value) : std::string("General");
        } else if (inTable_ && ss && name == "Row") {
          StartRow(attributes);
        }
        return;
      case 5:
        if (inRow_ && ss && name == "Cell") StartCell(attributes);
        return;
      case 6:
        if (inCell_ && ss && name == "Data") StartData(attributes);
        return;
      default:
        return;
    }
  }

  void EndElement(std::string_view, std::string_view) override {
    if (inData_ && depth_ == 6) {
      FinishData();
    } else if (!inData_) {
      switch (depth_) {
        case 2:
          if (inStyles_) ResolveStyles();
          settingsEnded_ = settingsEnded_ || inExcelWorkbook_;
          stylesEnded_ = stylesEnded_ || inStyles_;
          inExcelWorkbook_ = inStyles_ = inWorksheet_ = false;
          break;
        case 3:
          if (inActiveSheet_) FinishActiveSheet();
          inStyle_ = inTable_ = false;
          break;
        case 4:
          inRow_ = false;
          break;
        case 5:
          if (inCell_) FinishCell();
          break;
        default:
          break;
      }
    }
    --depth_;
  }

  void Text(std::string_view utf8) override {
    if (inData_) {
      if (text_.size() + utf8.size() > kMaxValueBytes) return Fail("value too long");
      text_.append(utf8);
    } else if (inActiveSheet_ && activeText_.size() < 64) {
      activeText_.append(utf8);
    }
  }

  // The active worksheet's cells in the table, once the whole document has been read.
  void Deliver() {
    if (worksheets_ == 0) ThrowDamaged("XML spreadsheet: no worksheet");
    if (direct_) return;
    const std::size_t active = active_ && *active_ < worksheets_ ? *active_ : 0;
    cells_.SetDateSystem(DateSystemOfBook());
    for (auto& cell : kept_[active]) Store(std::move(cell));
  }

 private:
  void StartWorksheet() {
    inWorksheet_ = true;
    sawTable_ = false;
    lastRow_ = 0;
    merges_.Clear();
    const std::size_t index = worksheets_++;
    kept_.emplace_back();
    if (direct_) {
      keep_ = false;  // the active sheet came already
    } else if (settingsEnded_ && stylesEnded_ && index == active_.value_or(0)) {
      // The active sheet, with nothing left to learn about it: the sheets
      // kept in case it did not exist are let go.
      direct_ = keep_ = true;
      kept_ = std::vector<std::vector<KeptCell>>(worksheets_);
      cells_.SetDateSystem(DateSystemOfBook());
    } else {
      keep_ = MayBeActive(index);
    }
  }

  DateSystem DateSystemOfBook() const { return date1904_ ? DateSystem::Base1904 : DateSystem::Base1900; }

  // A cell into the table, its date or number style complete.
  void Store(KeptCell&& cell) {
    if (cell.date) {
      cell.value.number = SerialOfDateTime(cell.date->year, cell.date->month, cell.date->day,
                                           cell.date->secondsOfDay, cells_.GetDateSystem());
    } else if (cell.value.kind == CellValue::Kind::Number) {
      cell.value.style = NumberStyleAt(cell.style);
    }
    cells_.Put(cell.row, cell.column, std::move(cell.value));
  }

  // The number style of the style IDs met, once every style is known.
  NumberStyle NumberStyleAt(std::uint32_t index) {
    while (numberStyles_.size() <= index) numberStyles_.push_back(StyleOfId(styleIds_[numberStyles_.size()]));
    return numberStyles_[index];
  }

  void FinishActiveSheet() {
    inActiveSheet_ = false;
    if (const auto index = ParseCount(activeText_)) {
      active_ = static_cast<std::size_t>(*index);
    } else {
      active_ = 0;
    }
    // Sheets kept before the active one was named and not it are let go.
    for (std::size_t i = 0; i < kept_.size(); ++i) {
      if (!MayBeActive(i)) kept_[i] = {};
    }
    keep_ = inWorksheet_ && MayBeActive(worksheets_ - 1);
  }

  // A worksheet is kept while it may be the active one: every worksheet until
  // the active one is named; then that one, and the first, which is active
  // when the named one turns out not to exist.
  bool MayBeActive(std::size_t index) const { return !active_ || index == *active_ || index == 0; }

  void StartStyle(const std::vector<XmlAttribute>& attributes) {
    const auto* id = FindAttribute(attributes, "ID");
    if (id == nullptr) return Fail("style without an ID");
    if (styles_.size() >= kMaxStyles) return Fail("too many styles");
    styleId_ = std::string(id->value);
    Style style;
    if (const auto* parent = FindAttribute(attributes, "Parent")) style.parent = parent->value;
    if (!styles_.emplace(styleId_, std::move(style)).second) return Fail("style defined twice");
    inStyle_ = true;
  }

  // Every style's number style, by its own format or its nearest parent's, once
  // all styles are known: each chain of parents is walked once. A style that
  // is its own parent, through any number of others, is damage.
  void ResolveStyles() {
    enum : std::uint8_t { kUnseen, kOnPath, kResolved };
    std::vector<Style*> path;
    for (auto& entry : styles_) {
      Style* style = &entry.second;
      NumberStyle found = NumberStyle::General;
      while (style->mark == kUnseen) {
        style->mark = kOnPath;
        path.push_back(style);
        if (style->format) {
          found = StyleOfXmlFormat(*style->format);
          style = nullptr;
          break;
        }
        const auto parent = style->parent.empty() ? styles_.end() : styles_.find(style->parent);
        if (parent == styles_.end()) {
          style = nullptr;
          break;
        }
        style = &parent->second;
      }
      if (style != nullptr) {
        if (style->mark == kOnPath) return Fail("styles are their own parents");
        found = style->resolved;
      }
      for (Style* walked : path) {
        walked->resolved = found;
        walked->mark = kResolved;
      }
      path.clear();
    }
  }

  NumberStyle StyleOfId(const std::string& id) const {
    const auto found = styles_.find(id);
    return found == styles_.end() ? NumberStyle::General : found->second.resolved;
  }

  // Rows come in ascending order, each once (ss:Index counts from 1; a row
  // with ss:Span stands for that many more after it). Rows past the limit are
  // still read, for that order, but nothing of them is kept.
  void StartRow(const std::vector<XmlAttribute>& attributes) {
    std::int64_t row = static_cast<std::int64_t>(lastRow_) + 1;
    if (const auto* a = FindAttribute(attributes, "Index")) {
      const auto index = ParseCount(a->value);
      if (!index || *index < 1) return Fail("row index not valid");
      if (*index <= lastRow_) return Fail("rows out of order");
      row = *index;
    }
    std::int64_t span = 0;
    if (const auto* a = FindAttribute(attributes, "Span")) {
      const auto value = ParseCount(a->value);
      if (!value) return Fail("row span not valid");
      span = *value;
    }
    if (row + span > kMaxRows) return Fail("row index not valid");
    row_ = static_cast<std::int32_t>(row);
    lastRow_ = static_cast<std::int32_t>(row + span);
    inRow_ = true;
    lastColumn_ = 0;
    rowStyle_.clear();
    if (const auto* a = FindAttribute(attributes, "StyleID")) rowStyle_ = a->value;
    merges_.StartRow(row_);
  }

  // Cells of a row come in ascending order too; a cell without ss:Index
  // follows the previous one and the cells its ss:MergeAcross covers.
  // ss:MergeDown covers cells of the rows below, which stay empty: a value on
  // one is damage. (LibreOffice writes the cells right of such a covered cell
  // as if it were not there; read by the index rule they would land one
  // column too far left, so such a document is refused, not read shifted.)
  void StartCell(const std::vector<XmlAttribute>& attributes) {
    std::int64_t column = static_cast<std::int64_t>(lastColumn_) + 1;
    if (const auto* a = FindAttribute(attributes, "Index")) {
      const auto index = ParseCount(a->value);
      if (!index || *index < 1) return Fail("cell index not valid");
      if (*index <= lastColumn_) return Fail("cells out of order");
      column = *index;
    }
    std::int64_t across = 0, down = 0;
    if (const auto* a = FindAttribute(attributes, "MergeAcross")) {
      const auto value = ParseCount(a->value);
      if (!value) return Fail("merge not valid");
      across = *value;
    }
    if (const auto* a = FindAttribute(attributes, "MergeDown")) {
      const auto value = ParseCount(a->value);
      if (!value) return Fail("merge not valid");
      down = *value;
    }
    if (column + across > kMaxColumns) return Fail("cell index not valid");
    if (row_ + down > kMaxRows) return Fail("merge not valid");
    const auto col = static_cast<std::int32_t>(column);
    lastColumn_ = static_cast<std::int32_t>(column + across);
    const bool covered = merges_.Covers(col, row_);
    if (down > 0) {
      if (merges_.Open() >= kMaxOpenMerges) return Fail("too many merged areas");
      merges_.Add(col, lastColumn_, static_cast<std::int32_t>(row_ + down));
    }
    if (!keep_ || row_ > rowLimit_) return;

    inCell_ = true;
    column_ = col;
    covered_ = covered;
    formula_ = FindAttribute(attributes, "Formula") != nullptr;
    sawData_ = false;
    style_ = rowStyle_;
    if (const auto* a = FindAttribute(attributes, "StyleID")) style_ = a->value;
  }

  void StartData(const std::vector<XmlAttribute>& attributes) {
    if (sawData_) return Fail("two values in one cell");
    sawData_ = inData_ = true;
    text_.clear();
    type_.clear();
    if (const auto* a = FindAttribute(attributes, "Type")) type_ = TrimXmlSpace(a->value);
  }

  void FinishData() {
    inData_ = false;
    KeptCell cell{row_, column_, {}, 0, std::nullopt};
    if (type_ == "String") {
      // LibreOffice writes a formula's error result as a String holding the
      // error's name; the spreadsheet application recalculates it to that error.
      cell.value = formula_ && IsErrorName(text_) ? CellValue::OfError() : CellValue::OfText(Cp1250FromUtf8(text_));
    } else if (type_ == "Number") {
      const auto number = ParseOdfNumber(text_);
      if (!number) return Fail("number not valid");
      cell.value = CellValue::OfNumber(*number);
      cell.style = StyleIndex(style_);
    } else if (type_ == "DateTime") {
      cell.date = ParseIsoDateTime(text_);
      if (!cell.date) return Fail("date not valid");
      cell.value = CellValue::OfNumber(0, NumberStyle::DateTime);
    } else if (type_ == "Boolean") {
      const std::string_view v = TrimXmlSpace(text_);
      if (v != "1" && v != "0") return Fail("boolean not valid");
      cell.value = CellValue::OfBoolean(v == "1");
    } else if (type_ == "Error") {
      cell.value = CellValue::OfError();
    } else {
      return Fail("data type unknown");
    }
    Keep(std::move(cell));
  }

  void FinishCell() {
    inCell_ = false;
    // A formula without a written result has no cached value to read.
    if (!sawData_ && formula_) Keep(KeptCell{row_, column_, CellValue::OfError(), 0, std::nullopt});
  }

  void Keep(KeptCell cell) {
    if (covered_) return Fail("value in a merged area");
    if (direct_) {
      Store(std::move(cell));
    } else {
      cells_.Hold(1, cell.value.text.size());
      kept_.back().push_back(std::move(cell));
    }
  }

  std::uint32_t StyleIndex(const std::string& id) {
    if (id.empty()) return 0;
    const auto [it, added] = styleIndex_.emplace(id, static_cast<std::uint32_t>(styleIds_.size()));
    if (added) styleIds_.push_back(id);
    return it->second;
  }

  std::int32_t rowLimit_;
  SheetCells& cells_;
  std::size_t depth_ = 0;

  bool inExcelWorkbook_ = false, inActiveSheet_ = false, date1904_ = false;
  bool settingsEnded_ = false, stylesEnded_ = false;
  std::string activeText_;
  std::optional<std::size_t> active_;

  bool inStyles_ = false, inStyle_ = false;
  std::string styleId_;
  std::unordered_map<std::string, Style> styles_;
  std::vector<std::string> styleIds_;  // the style IDs numbers use; the first is none
  std::unordered_map<std::string, std::uint32_t> styleIndex_;
  std::vector<NumberStyle> numberStyles_;  // of styleIds_, as far as asked for

  std::size_t worksheets_ = 0;
  bool inWorksheet_ = false, keep_ = false, sawTable_ = false, inTable_ = false, inRow_ = false;
  std::int32_t row_ = 0, lastRow_ = 0, lastColumn_ = 0;
  std::string rowStyle_;
  MergedAreas merges_;

  bool inCell_ = false, covered_ = false, formula_ = false, sawData_ = false, inData_ = false;
  std::int32_t column_ = 0;
  std::string style_, type_, text_;

  bool direct_ = false;  // the active sheet's cells go straight into the table
  std::vector<std::vector<KeptCell>> kept_;  // by worksheet; empty for those not kept
};

// XML Spreadsheet 2003: an XML document whose root is Workbook in the
// spreadsheet namespace, whatever the file's name.
bool IsXmlSpreadsheet2003(const OpenedPackage& opened) {
  GsfInput* input = opened.input;
  const gsf_off_t size = gsf_input_size(input);
  if (size <= 0 || gsf_input_seek(input, 0, G_SEEK_SET)) return false;
  std::string head(static_cast<std::size_t>(std::min<gsf_off_t>(size, kHeadBytes)), '\0');
  const bool read = gsf_input_read(input, head.size(), reinterpret_cast<guint8*>(head.data())) != nullptr;
  gsf_input_seek(input, 0, G_SEEK_SET);
  if (!read) return false;
  const auto root = XmlRootElement(head);
  return root && root->ns == kSpreadsheetNs && root->name == "Workbook";
}

WorkbookFormat ReadXml2003ActiveSheet(const OpenedPackage& opened, std::int32_t rowLimit, SheetCells& cells) {
  PlainFileSource source(opened.input, "XML spreadsheet");
  WorkbookHandler workbook(rowLimit, cells);
  StreamXml(source, workbook);
  workbook.Deliver();
  return WorkbookFormat::Xml2003;
}

constexpr WorkbookFormat kXml2003Formats[] = {WorkbookFormat::Xml2003};

}  // namespace

extern const FormatRow kXml2003Row{"xml2003",         kXml2003Formats,        Container::Bare,
                                   IsXmlSpreadsheet2003, ReadXml2003ActiveSheet, kLargeSheet};

}  // namespace ratemover::spreadsheet
