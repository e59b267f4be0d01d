// The OpenDocument spreadsheet reader (.ods): the active table of content.xml,
// streamed through the package's XML parts, rows 1 to the row limit.
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/iso_date_time.h"
#include "common/cp1250.h"
#include "spreadsheet/cell_text.h"
#include "spreadsheet/gobject_ref.h"
#include "spreadsheet/ods_values.h"
#include "spreadsheet/sheet_limits.h"
#include "spreadsheet/format_table.h"
#include "spreadsheet/xml_stream.h"
#include "spreadsheet/xml_text.h"
#include "spreadsheet/zip_part.h"

namespace ratemover::spreadsheet {

namespace {

constexpr std::string_view kOfficeNs = "urn:oasis:names:tc:opendocument:xmlns:office:1.0";
constexpr std::string_view kTableNs = "urn:oasis:names:tc:opendocument:xmlns:table:1.0";
constexpr std::string_view kTextNs = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";
constexpr std::string_view kConfigNs = "urn:oasis:names:tc:opendocument:xmlns:config:1.0";
constexpr std::string_view kManifestNs = "urn:oasis:names:tc:opendocument:xmlns:manifest:1.0";
constexpr std::string_view kDrawNs = "urn:oasis:names:tc:opendocument:xmlns:drawing:1.0";
constexpr std::string_view kCalcExtNs = "urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0";

constexpr std::string_view kSpreadsheetMimeType = "application/vnd.oasis.opendocument.spreadsheet";

// Row and column positions and repeat counts saturate here, far beyond any
// sheet, so that no sum of counts from the file can overflow.
constexpr std::int64_t kPositionCeiling = std::int64_t{1} << 40;
// Text longer than a cell holds is cut there, as the spreadsheet application
// cuts it. UTF-8 needs at most four bytes a character.
constexpr std::size_t kMaxCellTextBytes = 4 * kMaxCellText + 4;
// The name of the active table is short; a longer one names no table.
constexpr std::size_t kMaxTableNameBytes = 4096;

// A repeat count attribute: a positive whole number, saturated; anything else
// counts once, as a single row or cell.
std::int64_t RepeatCount(std::string_view text) {
  text = TrimXmlSpace(text);
  if (text.empty()) return 1;
  std::int64_t count = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return 1;
    count = std::min(count * 10 + (c - '0'), kPositionCeiling);
  }
  return count < 1 ? 1 : count;
}

std::string CellTextOfUtf8(std::string_view utf8) {
  std::string text = Cp1250FromUtf8(utf8);
  if (text.size() > kMaxCellText) text.resize(kMaxCellText);
  return text;
}

// The displayed text of a formula whose result is an error, as producers
// without a separate error type write it.
bool IsErrorDisplay(std::string_view text) {
  if (IsErrorName(text)) return true;
  if (text.substr(0, 4) == "Err:" && text.size() > 4) {
    return std::all_of(text.begin() + 4, text.end(), [](char c) { return c >= '0' && c <= '9'; });
  }
  return false;
}

// META-INF/manifest.xml: whether the parts that are read are encrypted.
class ManifestHandler final : public XmlHandler {
 public:
  bool Encrypted() const { return encrypted_; }

  void StartElement(std::string_view ns, std::string_view name, const std::vector<XmlAttribute>& attributes) override {
    ++depth_;
    if (ns != kManifestNs) return;
    if (name == "file-entry") {
      entryDepth_ = depth_;
      path_.clear();
      for (const auto& a : attributes) {
        if (a.ns == kManifestNs && a.name == "full-path") path_ = a.value;
      }
      while (path_.substr(0, 2) == "./") path_.erase(0, 2);
      while (!path_.empty() && path_.front() == '/') path_.erase(0, 1);
    } else if (name == "encryption-data" && entryDepth_ != 0 && (path_ == "content.xml" || path_ == "settings.xml")) {
      encrypted_ = true;
      Stop();
    }
  }
  void EndElement(std::string_view, std::string_view) override {
    if (depth_ == entryDepth_) entryDepth_ = 0;
    --depth_;
  }
  void Text(std::string_view) override {}

 private:
  int depth_ = 0;
  int entryDepth_ = 0;
  std::string path_;
  bool encrypted_ = false;
};

// settings.xml: the view settings' ActiveTable item of the first view.
class SettingsHandler final : public XmlHandler {
 public:
  const std::optional<std::string>& ActiveTable() const { return activeTable_; }

  void StartElement(std::string_view ns, std::string_view name, const std::vector<XmlAttribute>& attributes) override {
    ++depth_;
    if (itemDepth_ != 0 || ns != kConfigNs) return;
    const std::string_view configName = ConfigName(attributes);
    if (setDepth_ == 0) {
      if (name == "config-item-set" && configName == "ooo:view-settings") setDepth_ = depth_;
    } else if (viewsDepth_ == 0) {
      if (depth_ == setDepth_ + 1 && name == "config-item-map-indexed" && configName == "Views") viewsDepth_ = depth_;
    } else if (entryDepth_ == 0) {
      if (depth_ == viewsDepth_ + 1 && name == "config-item-map-entry" && !firstEntrySeen_) {
        firstEntrySeen_ = true;
        entryDepth_ = depth_;
      }
    } else if (depth_ == entryDepth_ + 1 && name == "config-item" && configName == "ActiveTable") {
      itemDepth_ = depth_;
      value_.clear();
    }
  }

  void EndElement(std::string_view, std::string_view) override {
    if (depth_ == itemDepth_) {
      itemDepth_ = 0;
      if (value_.size() <= kMaxTableNameBytes) activeTable_ = value_;
    } else if (depth_ == entryDepth_) {
      entryDepth_ = 0;
    } else if (depth_ == viewsDepth_) {
      Stop();  // the first view is all that counts
    } else if (depth_ == setDepth_) {
      setDepth_ = 0;
    }
    --depth_;
  }

  void Text(std::string_view utf8) override {
    if (itemDepth_ != 0 && value_.size() <= kMaxTableNameBytes) value_.append(utf8);
  }

 private:
  static std::string_view ConfigName(const std::vector<XmlAttribute>& attributes) {
    for (const auto& a : attributes) {
      if (a.ns == kConfigNs && a.name == "name") return a.value;
    }
    return {};
  }

  int depth_ = 0;
  int setDepth_ = 0;
  int viewsDepth_ = 0;
  int entryDepth_ = 0;
  int itemDepth_ = 0;
  bool firstEntrySeen_ = false;
  std::string value_;
  std::optional<std::string> activeTable_;
};

// content.xml: the cells of the active table, rows 1 to the row limit.
//
// The active table is known from settings.xml before content.xml is read. When
// it names a table that is not the first, the first table is stored all the
// same until the named one turns up, since a name that matches no table means
// the first table.
class ContentHandler final : public XmlHandler {
 public:
  ContentHandler(std::optional<std::string> activeName, std::int32_t rowLimit, SheetCells& cells)
      : activeName_(std::move(activeName)), rowLimit_(rowLimit), cells_(cells) {}

  // The active table was read to its end or to a row beyond the limit (or, when
  // no table carries the active name, the whole spreadsheet was read).
  bool Finished() const { return finished_; }

  void StartElement(std::string_view ns, std::string_view name, const std::vector<XmlAttribute>& attributes) override {
    ++depth_;
    if (ignoreDepth_ != 0) return;
    if (cellDepth_ != 0) {
      StartInsideCell(ns, name, attributes);
    } else if (rowDepth_ != 0) {
      if (depth_ == rowDepth_ + 1 && ns == kTableNs && (name == "table-cell" || name == "covered-table-cell")) {
        StartCell(attributes);
      }
    } else if (tableDepth_ != 0) {
      // Rows may sit in header rows, row groups and row lists at any depth.
      if (ns == kTableNs && name == "table-row") StartRow(attributes);
    } else if (spreadsheetDepth_ != 0) {
      if (depth_ == spreadsheetDepth_ + 1 && ns == kTableNs && name == "table") StartTable(attributes);
    } else if (ns == kOfficeNs && name == "spreadsheet" && !spreadsheetSeen_) {
      spreadsheetSeen_ = true;
      spreadsheetDepth_ = depth_;
    }
  }

  void EndElement(std::string_view, std::string_view) override {
    if (ignoreDepth_ != 0) {
      if (depth_ == ignoreDepth_) ignoreDepth_ = 0;
    } else if (cellDepth_ != 0) {
      if (depth_ == cellDepth_) {
        EndCell();
      } else if (depth_ == paragraphDepth_) {
        paragraphDepth_ = 0;
      }
    } else if (depth_ == rowDepth_) {
      EndRow();
    } else if (depth_ == tableDepth_) {
      EndTable();
    } else if (depth_ == spreadsheetDepth_) {
      spreadsheetDepth_ = 0;
      // Every table seen: the first one stands when none had the active name.
      if (firstTableTooBig_) SheetCells::ThrowBeyondBounds();
      Finish();
    }
    --depth_;
  }

  void Text(std::string_view utf8) override {
    if (paragraphDepth_ == 0 || ignoreDepth_ != 0 || !collecting_) return;
    // White space inside a paragraph collapses: a blank, tab or line end
    // counts as one blank, and not at all at the start of the paragraph or
    // after another; <text:s/>, <text:tab/> and <text:line-break/> carry the
    // blanks, tabs and line breaks that are meant.
    for (std::size_t i = 0; i < utf8.size();) {
      if (IsXmlSpace(utf8[i])) {
        if (!afterSpace_) Append(" ");
        afterSpace_ = true;
        ++i;
        continue;
      }
      std::size_t end = i + 1;
      while (end < utf8.size() && !IsXmlSpace(utf8[end])) ++end;
      if (text_.size() < kMaxCellTextBytes) {
        text_.append(utf8.substr(i, std::min(end - i, kMaxCellTextBytes - text_.size())));
      }
      afterSpace_ = false;
      i = end;
    }
  }

 private:
  enum class Role { Skip, Provisional, Active };

  void Finish() {
    finished_ = true;
    Stop();
  }

  void StartTable(const std::vector<XmlAttribute>& attributes) {
    tableDepth_ = depth_;
    ++tableCount_;
    std::string_view name;
    for (const auto& a : attributes) {
      if (a.ns == kTableNs && a.name == "name") name = a.value;
    }
    if (activeName_ && name == *activeName_) {
      cells_.Clear();  // whatever the first table left
      firstTableTooBig_ = false;
      role_ = Role::Active;
    } else if (tableCount_ == 1) {
      role_ = activeName_ ? Role::Provisional : Role::Active;
    } else {
      role_ = Role::Skip;
    }
    nextRow_ = 1;
  }

  void EndTable() {
    tableDepth_ = 0;
    if (role_ == Role::Active) Finish();
    role_ = Role::Skip;
  }

  void StartRow(const std::vector<XmlAttribute>& attributes) {
    if (role_ == Role::Active && nextRow_ > rowLimit_) {
      Finish();
      return;
    }
    rowDepth_ = depth_;
    rowRepeat_ = 1;
    for (const auto& a : attributes) {
      if (a.ns == kTableNs && a.name == "number-rows-repeated") rowRepeat_ = RepeatCount(a.value);
    }
    nextColumn_ = 1;
    rowCells_.clear();
    storingRow_ = role_ != Role::Skip && nextRow_ <= rowLimit_;
  }

  void EndRow() {
    rowDepth_ = 0;
    if (storingRow_ && !rowCells_.empty()) {
      // Repeated cells are stored once per position they cover: a row whose
      // repeats would spread beyond what the cells may hold (a bomb of
      // repeats, not a price list) is refused before it is spread out.
      const std::int64_t lastRow = std::min<std::int64_t>(nextRow_ + rowRepeat_ - 1, rowLimit_);
      std::uint64_t rowCells = 0;  // at most 16384
      std::uint64_t rowText = 0;   // at most 16384 columns of at most 2^18 bytes each
      for (const auto& cell : rowCells_) {
        const std::int64_t lastColumn = std::min(cell.column + cell.repeat - 1, std::int64_t{kMaxColumns});
        const auto columns = static_cast<std::uint64_t>(lastColumn - cell.column + 1);
        rowCells += columns;
        rowText += columns * cell.value.text.size();
      }
      const auto rows = static_cast<std::uint64_t>(lastRow - nextRow_ + 1);  // at most 2^20
      if (!cells_.Fits(rows * rowCells, rows * rowText)) {
        if (role_ == Role::Active) SheetCells::ThrowBeyondBounds();
        // The first table, kept in case no table has the active name, is too
        // big: it cannot be opened either, should it turn out to be the one.
        cells_.Clear();
        firstTableTooBig_ = true;
        role_ = Role::Skip;
        storingRow_ = false;
      }
    }
    if (storingRow_ && !rowCells_.empty()) {
      const std::int64_t lastRow = std::min<std::int64_t>(nextRow_ + rowRepeat_ - 1, rowLimit_);
      for (std::int64_t row = nextRow_; row <= lastRow; ++row) {
        for (const auto& cell : rowCells_) {
          const std::int64_t lastColumn = std::min(cell.column + cell.repeat - 1, std::int64_t{kMaxColumns});
          for (std::int64_t column = cell.column; column <= lastColumn; ++column) {
            cells_.Put(static_cast<std::int32_t>(row), static_cast<std::int32_t>(column), cell.value);
          }
        }
      }
    }
    nextRow_ = std::min(nextRow_ + rowRepeat_, kPositionCeiling);
    if (role_ == Role::Active && nextRow_ > rowLimit_) Finish();
  }

  void StartCell(const std::vector<XmlAttribute>& attributes) {
    cellDepth_ = depth_;
    cellRepeat_ = 1;
    collecting_ = storingRow_ && nextColumn_ <= kMaxColumns;
    if (collecting_) {
      valueType_.clear();
      calcExtValueType_.clear();
      value_.clear();
      dateValue_.clear();
      timeValue_.clear();
      booleanValue_.clear();
      stringValue_.clear();
      hasStringValue_ = false;
      hasFormula_ = false;
      text_.clear();
      paragraphs_ = 0;
    }
    for (const auto& a : attributes) {
      if (a.ns == kTableNs) {
        if (a.name == "number-columns-repeated") {
          cellRepeat_ = RepeatCount(a.value);
        } else if (a.name == "formula") {
          hasFormula_ = true;
        }
      } else if (!collecting_) {
        continue;
      } else if (a.ns == kOfficeNs) {
        if (a.name == "value-type") {
          valueType_ = a.value;
        } else if (a.name == "value") {
          value_ = a.value;
        } else if (a.name == "date-value") {
          dateValue_ = a.value;
        } else if (a.name == "time-value") {
          timeValue_ = a.value;
        } else if (a.name == "boolean-value") {
          booleanValue_ = a.value;
        } else if (a.name == "string-value") {
          stringValue_ = a.value.substr(0, kMaxCellTextBytes);
          hasStringValue_ = true;
        }
      } else if (a.ns == kCalcExtNs && a.name == "value-type") {
        calcExtValueType_ = a.value;
      }
    }
  }

  void EndCell() {
    cellDepth_ = 0;
    paragraphDepth_ = 0;
    if (collecting_) {
      CellValue value = ValueOfCell();
      if (value.kind != CellValue::Kind::Empty) rowCells_.push_back({nextColumn_, cellRepeat_, std::move(value)});
    }
    collecting_ = false;
    nextColumn_ = std::min(nextColumn_ + cellRepeat_, kPositionCeiling);
  }

  void StartInsideCell(std::string_view ns, std::string_view name, const std::vector<XmlAttribute>& attributes) {
    if (!collecting_) return;
    // Comments, drawings and notes anchored in a cell are not its content.
    if ((ns == kOfficeNs && name == "annotation") || ns == kDrawNs || (ns == kTextNs && name == "note")) {
      ignoreDepth_ = depth_;
      return;
    }
    if (ns != kTextNs) return;
    if (paragraphDepth_ == 0) {
      if (name == "p" || name == "h") {
        if (paragraphs_++ > 0) Append("\n");
        paragraphDepth_ = depth_;
        afterSpace_ = true;
      }
      return;
    }
    if (name == "s") {
      std::int64_t count = 1;
      for (const auto& a : attributes) {
        if (a.ns == kTextNs && a.name == "c") count = RepeatCount(a.value);
      }
      const auto room = static_cast<std::int64_t>(kMaxCellTextBytes - std::min(text_.size(), kMaxCellTextBytes));
      text_.append(static_cast<std::size_t>(std::min(count, room)), ' ');
      afterSpace_ = false;
    } else if (name == "tab") {
      Append("\t");
      afterSpace_ = false;
    } else if (name == "line-break") {
      Append("\n");
      afterSpace_ = false;
    }
  }

  void Append(std::string_view piece) {
    if (text_.size() < kMaxCellTextBytes) text_.append(piece);
  }

  // The cell's cached value by its value type; a formula's error result and a
  // value that cannot be read are read failures.
  CellValue ValueOfCell() const {
    if (calcExtValueType_ == "error") return CellValue::OfError();
    // Producers without an error type write a formula's error as an ordinary
    // result (an empty text, or 0) whose paragraph shows the error's name.
    if (hasFormula_ && calcExtValueType_.empty() && !valueType_.empty() && IsErrorDisplay(text_) &&
        !(valueType_ == "string" && !stringValue_.empty())) {
      return CellValue::OfError();
    }
    if (valueType_.empty()) {
      // No value type: text, or empty. A formula without a value type has a
      // cached result only as its paragraph (an empty text result).
      if (paragraphs_ > 0) return CellValue::OfText(CellTextOfUtf8(text_));
      return hasFormula_ ? CellValue::OfError() : CellValue::Empty();
    }
    if (valueType_ == "float" || valueType_ == "percentage" || valueType_ == "currency") {
      const auto number = ParseOdfNumber(value_);
      if (!number) return CellValue::OfError();
      return CellValue::OfNumber(*number, valueType_ == "currency" ? NumberStyle::Currency : NumberStyle::General);
    }
    if (valueType_ == "date") {
      const auto date = ParseIsoDateTime(dateValue_);
      if (!date) return CellValue::OfError();
      return CellValue::OfNumber(
          SerialOfDateTime(date->year, date->month, date->day, date->secondsOfDay, DateSystem::Base1900),
          NumberStyle::DateTime);
    }
    if (valueType_ == "time") {
      const auto days = ParseOdfDuration(timeValue_);
      if (!days) return CellValue::OfError();
      return CellValue::OfNumber(*days, NumberStyle::DateTime);
    }
    if (valueType_ == "boolean") {
      const auto value = ParseOdfBoolean(booleanValue_);
      if (!value) return CellValue::OfError();
      return CellValue::OfBoolean(*value);
    }
    if (valueType_ == "string") {
      return CellValue::OfText(CellTextOfUtf8(hasStringValue_ ? std::string_view(stringValue_) : text_));
    }
    return CellValue::OfError();  // a value type this reader does not know
  }

  struct RowCell {
    std::int64_t column;
    std::int64_t repeat;
    CellValue value;
  };

  const std::optional<std::string> activeName_;
  const std::int64_t rowLimit_;
  SheetCells& cells_;
  bool finished_ = false;

  int depth_ = 0;
  int spreadsheetDepth_ = 0;
  int tableDepth_ = 0;
  int rowDepth_ = 0;
  int cellDepth_ = 0;
  int paragraphDepth_ = 0;
  int ignoreDepth_ = 0;
  bool spreadsheetSeen_ = false;

  int tableCount_ = 0;
  Role role_ = Role::Skip;
  bool firstTableTooBig_ = false;

  std::int64_t nextRow_ = 1;
  std::int64_t rowRepeat_ = 1;
  bool storingRow_ = false;
  std::vector<RowCell> rowCells_;

  std::int64_t nextColumn_ = 1;
  std::int64_t cellRepeat_ = 1;
  bool collecting_ = false;
  std::string valueType_;
  std::string calcExtValueType_;
  std::string value_;
  std::string dateValue_;
  std::string timeValue_;
  std::string booleanValue_;
  std::string stringValue_;
  bool hasStringValue_ = false;
  bool hasFormula_ = false;
  std::string text_;
  int paragraphs_ = 0;
  bool afterSpace_ = true;
};

// The mimetype member, when the package has one, names a spreadsheet.
// Without one, a content.xml must be there.
bool IsSpreadsheetPackage(GsfInfile* zip, const ZipPackage& package) {
  const GObjectRef<GsfInput> member(gsf_infile_child_by_name(zip, "mimetype"));
  if (!member) return package.Has("content.xml");
  bool matches = false;
  const gsf_off_t size = gsf_input_size(member.get());
  if (size == static_cast<gsf_off_t>(kSpreadsheetMimeType.size())) {
    char bytes[kSpreadsheetMimeType.size()];
    if (gsf_input_read(member.get(), sizeof bytes, reinterpret_cast<guint8*>(bytes)) != nullptr) {
      matches = std::string_view(bytes, sizeof bytes) == kSpreadsheetMimeType;
    }
  }
  return matches;
}

WorkbookFormat ReadOdsActiveSheet(const OpenedPackage& opened, std::int32_t rowLimit, SheetCells& cells) {
  cells.Clear();
  cells.SetDateSystem(DateSystem::Base1900);  // dates arrive as calendar dates
  GsfInfile* zip = opened.container;
  if (zip == nullptr || opened.package == nullptr || rowLimit < 0) {
    throw WorkbookError(OpenFailure::NotReadable, "no package");
  }
  const ZipPackage& package = *opened.package;
  if (!IsSpreadsheetPackage(zip, package)) throw WorkbookError(OpenFailure::UnknownFormat, "mimetype");

  ManifestHandler manifest;
  package.Stream("META-INF/manifest.xml", manifest);
  if (manifest.Encrypted()) throw WorkbookError(OpenFailure::Encrypted, "META-INF/manifest.xml");

  SettingsHandler settings;
  package.Stream("settings.xml", settings);

  ContentHandler content(settings.ActiveTable(), rowLimit, cells);
  if (package.Stream("content.xml", content) == XmlPartResult::Missing) ThrowDamaged("content.xml: part missing");
  if (!content.Finished()) ThrowDamaged("content.xml: no sheet");
  return WorkbookFormat::Ods;
}

bool IsOpenDocument(const OpenedPackage& opened) {
  static constexpr std::string_view kSpreadsheet = "application/vnd.oasis.opendocument.spreadsheet";
  const ZipDirectory& zip = opened.package->Directory();
  const std::string mimetype = zip.Head("mimetype", 256);
  if (std::string_view(mimetype).substr(0, kSpreadsheet.size()) == kSpreadsheet) return true;
  return zip.Find("content.xml") != nullptr;
}

constexpr WorkbookFormat kOdsFormats[] = {WorkbookFormat::Ods};

}  // namespace

extern const FormatRow kOdsRow{"ods", kOdsFormats, Container::Zip, IsOpenDocument, ReadOdsActiveSheet, kLargeSheet};

}  // namespace ratemover::spreadsheet
