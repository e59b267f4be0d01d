// The reader of web pages (.htm, .html, and pages saved under an .xls name):
// the sheet is the page laid out as a spreadsheet lays out a page it opens.
//
// Every tr of every table, in document order, is one row; every td and th one
// cell, placed past the cells that a colspan or rowspan covers (those stay
// empty). Text outside tables (a heading, a paragraph, a caption) takes a row
// of its own in column A, and a br there starts another. A table inside a cell
// gives that cell its text. Pages are read as browsers read them: unclosed
// tags are normal, and nothing in a page is damage but a cell or a row beyond
// a worksheet's bounds, and a page cut short.
//
// Writers close what they open: a page that ends inside a tag or a comment,
// or that opened its table (or its html element) and never closed it, was cut
// short (a copy broken off, a download that stopped); read as it stands it
// would be a shorter price list, perhaps with its last price cut, and it is
// refused instead.
//
// Pages that a spreadsheet saved (its namespace urn:schemas-microsoft-com:
// office:excel) carry types: x:num, x:str and x:bool on a cell, and the
// mso-number-format of its class or style for a number.
#include <gsf/gsf-input.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/cp1250.h"
#include "common/text.h"
#include "spreadsheet/html_tokenizer.h"
#include "spreadsheet/workbook_format.h"
#include "spreadsheet/number_format.h"
#include "spreadsheet/open_failure.h"
#include "spreadsheet/sheet_limits.h"
#include "spreadsheet/text_form.h"
#include "spreadsheet/format_table.h"

namespace ratemover::spreadsheet {

using html::AsciiHead;
using html::Decoding;
using html::DecodingsOf;
using html::Element;
using html::IsBlank;
using html::IsSpace;
using html::kHeadLength;
using html::NotInDecoding;
using html::PageText;
using html::StartsWithNoCase;
using html::Tag;

namespace {

constexpr long kMaxColspan = 1000;
constexpr long kMaxRowspan = 65534;

// ---------------------------------------------------------------- number formats

// A CSS string or value with its escapes undone: "\0022" is '"', "\." is '.'.
std::string CssUnescaped(std::string_view value) {
  std::string out;
  for (std::size_t at = 0; at < value.size();) {
    if (value[at] != '\\' || at + 1 >= value.size()) {
      out.push_back(value[at++]);
      continue;
    }
    ++at;
    std::size_t digits = 0;
    while (digits < 6 && at + digits < value.size() && g_ascii_isxdigit(value[at + digits])) ++digits;
    if (digits == 0) {
      out.push_back(value[at++]);
      continue;
    }
    const unsigned long codePoint = std::stoul(std::string(value.substr(at, digits)), nullptr, 16);
    at += digits;
    if (at < value.size() && value[at] == ' ') ++at;
    out.push_back(codePoint < 0x80 ? static_cast<char>(codePoint) : Cp1250OfCodePoint(static_cast<char32_t>(codePoint)));
  }
  return out;
}

// The mso-number-format of a declaration block, if it has one.
std::optional<std::string> NumberFormatOfDeclarations(std::string_view declarations) {
  const std::size_t at = declarations.find("mso-number-format");
  if (at == std::string_view::npos) return std::nullopt;
  std::size_t start = declarations.find(':', at);
  if (start == std::string_view::npos) return std::nullopt;
  ++start;
  while (start < declarations.size() && IsSpace(declarations[start])) ++start;
  if (start < declarations.size() && (declarations[start] == '"' || declarations[start] == '\'')) {
    const char quote = declarations[start++];
    std::size_t stop = start;
    while (stop < declarations.size() && declarations[stop] != quote) stop += declarations[stop] == '\\' ? 2 : 1;
    return CssUnescaped(declarations.substr(start, std::min(stop, declarations.size()) - start));
  }
  const std::size_t stop = declarations.find(';', start);
  return CssUnescaped(declarations.substr(start, stop == std::string_view::npos ? stop : stop - start));
}

NumberStyle StyleOfMsoFormat(const std::string& format) {
  static const std::map<std::string, NumberStyle> kNamed = {
      {"short date", NumberStyle::DateTime}, {"medium date", NumberStyle::DateTime},
      {"long date", NumberStyle::DateTime},  {"short time", NumberStyle::DateTime},
      {"medium time", NumberStyle::DateTime}, {"long time", NumberStyle::DateTime},
      {"currency", NumberStyle::Currency},   {"general", NumberStyle::General},
      {"general number", NumberStyle::General}, {"standard", NumberStyle::General},
      {"fixed", NumberStyle::General},       {"percent", NumberStyle::General},
      {"scientific", NumberStyle::General},
  };
  std::string lower = format;
  for (char& c : lower) c = AsciiLower(c);
  if (const auto named = kNamed.find(lower); named != kNamed.end()) return named->second;
  return StyleOfFormatCode(format);
}

// The number formats that the style sheets give to classes (".xl65", "td.xl65").
void ReadClassFormats(std::string_view css, std::map<std::string, std::string>& formats) {
  for (std::size_t at = 0; at < css.size();) {
    const std::size_t open = css.find('{', at);
    if (open == std::string_view::npos) return;
    const std::size_t close = css.find('}', open);
    const std::string_view selectors = css.substr(at, open - at);
    const std::string_view block = css.substr(open + 1, (close == std::string_view::npos ? css.size() : close) - open - 1);
    at = close == std::string_view::npos ? css.size() : close + 1;
    const auto format = NumberFormatOfDeclarations(block);
    if (!format) continue;
    std::size_t start = 0;
    while (start <= selectors.size()) {
      std::size_t comma = selectors.find(',', start);
      if (comma == std::string_view::npos) comma = selectors.size();
      const std::string_view selector = selectors.substr(start, comma - start);
      const std::size_t dot = selector.rfind('.');
      if (dot != std::string_view::npos) {
        std::size_t stop = dot + 1;
        while (stop < selector.size() && !IsSpace(selector[stop]) && selector[stop] != ':') ++stop;
        formats[std::string(selector.substr(dot + 1, stop - dot - 1))] = *format;
      }
      start = comma + 1;
    }
  }
}

// ---------------------------------------------------------------- layout

// Text as the page shows it: runs of white space (a no-break space included)
// one blank, a line break from br an LF without the blanks around it.
class ShownText {
 public:
  void Add(char c) {
    if (IsBlank(c)) {
      if (!text_.empty() && text_.back() != ' ' && text_.back() != '\n') Push(' ');
    } else {
      Push(c);
    }
  }
  void Add(std::string_view run) {
    for (std::size_t at = 0; at < run.size();) {
      if (IsBlank(run[at])) {
        // a run of blanks shows as one
        Add(' ');
        while (at < run.size() && IsBlank(run[at])) ++at;
        continue;
      }
      std::size_t stop = at + 1;
      while (stop < run.size() && !IsBlank(run[stop])) ++stop;
      // as many pushes one by one would: refused once one starts past the bound
      if (text_.size() + (stop - at) - 1 > kMaxCellText + 1) {
        throw WorkbookError(OpenFailure::TooLarge, "cell longer than 32767 characters");
      }
      text_.append(run.substr(at, stop - at));
      at = stop;
    }
  }
  void AddLineBreak() {
    if (!text_.empty() && text_.back() == ' ') text_.pop_back();
    Push('\n');
  }
  bool Empty() const { return text_.empty(); }
  // The text, trimmed of blanks and line breaks at both ends; the buffer is emptied.
  std::string Take() {
    std::size_t start = 0;
    while (start < text_.size() && text_[start] == '\n') ++start;
    std::size_t stop = text_.size();
    while (stop > start && (text_[stop - 1] == ' ' || text_[stop - 1] == '\n')) --stop;
    std::string text = text_.substr(start, stop - start);
    text_.clear();
    if (text.size() > kMaxCellText) throw WorkbookError(OpenFailure::TooLarge, "cell longer than 32767 characters");
    return text;
  }

 private:
  void Push(char c) {
    // A blank or a line break past the bound may still be trimmed away.
    if (text_.size() > kMaxCellText + 1) throw WorkbookError(OpenFailure::TooLarge, "cell longer than 32767 characters");
    text_.push_back(c);
  }
  std::string text_;
};

class PageLayout final : public html::TokenSink {
 public:
  PageLayout(std::int32_t rowLimit, SheetCells& cells, bool spreadsheetPage)
      : rowLimit_(rowLimit), cells_(cells), spreadsheetPage_(spreadsheetPage) {}

  void StyleSheet(std::string_view css) override { ReadClassFormats(css, classFormats_); }

  // The page turned out to be one a spreadsheet saved. Cells already read as
  // another page's must be read again: throws SpreadsheetPageFound then.
  struct SpreadsheetPageFound {};
  void SpreadsheetMarkSeen() override {
    if (spreadsheetPage_) return;
    if (openedCell_) throw SpreadsheetPageFound();
    spreadsheetPage_ = true;
  }

  void Text(char c) override {
    if (inCell_) {
      cell_.Add(c);
    } else {
      loose_.Add(c);
    }
  }

  void Text(std::string_view run) override {
    if (inCell_) {
      cell_.Add(run);
    } else {
      loose_.Add(run);
    }
  }

  void StartTag(const Tag& tag) override {
    const Element element = tag.element;
    if (element == Element::Html) {
      htmlOpen_ = true;
    } else if (element == Element::Br) {
      if (inCell_) {
        cell_.AddLineBreak();
      } else {
        FlushLoose();
      }
    } else if (element == Element::Table) {
      if (inCell_) {
        ++depth_;
        cell_.Add(' ');
      } else if (depth_ == 0) {
        FlushLoose();
        depth_ = 1;
        coveredUntil_.clear();
      } else {
        ++depth_;
      }
    } else if ((element == Element::Row || element == Element::Cell) && depth_ > 1) {
      if (inCell_) cell_.Add(' ');
    } else if (element == Element::Row && depth_ == 1) {
      CloseCell();
      CloseRow();
      OpenRow();
    } else if (element == Element::Cell && depth_ == 1) {
      CloseCell();
      if (!inRow_) OpenRow();
      OpenCell(tag);
    } else if (element == Element::Block && !inCell_) {
      FlushLoose();
    }
  }

  void EndTag(const Tag& tag) override {
    const Element element = tag.element;
    if (element == Element::Html) {
      htmlOpen_ = false;
    } else if (element == Element::Table) {
      if (depth_ > 1) {
        --depth_;
        if (inCell_) cell_.Add(' ');
      } else if (depth_ == 1) {
        CloseCell();
        CloseRow();
        FlushLoose();
        depth_ = 0;
      }
    } else if (element == Element::Cell && depth_ == 1) {
      CloseCell();
    } else if (element == Element::Row && depth_ == 1) {
      CloseCell();
      CloseRow();
    } else if (element == Element::Block && !inCell_) {
      FlushLoose();
    }
  }

  // At the end of the page; throws Damaged for a page cut short.
  void Finish() {
    const bool tableOpen = depth_ > 0;
    CloseCell();
    CloseRow();
    FlushLoose();
    if (tableOpen) ThrowDamaged("cut short: a table is not closed by the end of the page");
    if (htmlOpen_) ThrowDamaged("cut short: the html element is not closed by the end of the page");
  }

 private:
  struct OpenCellAttributes {
    std::optional<std::optional<std::string>> number, text, boolean;
    bool error = false;
    std::optional<std::string> format;
  };

  void Store(std::int64_t row, std::int64_t column, CellValue value) {
    if (value.kind == CellValue::Kind::Empty || row > rowLimit_) return;
    cells_.Put(static_cast<std::int32_t>(row), static_cast<std::int32_t>(column), std::move(value));
  }

  void FlushLoose() {
    if (loose_.Empty()) return;
    std::string text = loose_.Take();
    if (text.empty()) return;
    Store(nextRow_++, 1, ValueOfUntypedText(std::move(text)));
  }

  void OpenRow() {
    FlushLoose();
    row_ = nextRow_++;
    column_ = 1;
    inRow_ = true;
  }

  void CloseRow() { inRow_ = false; }

  static long SpanOf(const Tag& tag, const char* name, long most) {
    const auto value = tag.Value(name);
    if (!value || !value->has_value()) return 1;
    long span = 0;
    const std::string& text = **value;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), span);
    (void)end;
    if (ec != std::errc() || span < 1) return 1;
    return span > most ? most : span;
  }

  void OpenCell(const Tag& tag) {
    FlushLoose();
    inCell_ = true;
    openedCell_ = true;
    colspan_ = SpanOf(tag, "colspan", kMaxColspan);
    rowspan_ = SpanOf(tag, "rowspan", kMaxRowspan);
    attributes_ = OpenCellAttributes();
    if (!spreadsheetPage_) return;
    attributes_.number = tag.Value("x:num");
    attributes_.text = tag.Value("x:str");
    attributes_.boolean = tag.Value("x:bool");
    attributes_.error = tag.Find("x:err") != nullptr;
    if (const auto style = tag.Value("style"); style && style->has_value()) {
      attributes_.format = NumberFormatOfDeclarations(**style);
    }
    if (const auto classes = tag.Value("class"); !attributes_.format && classes && classes->has_value()) {
      std::string_view list = **classes;
      while (!list.empty()) {
        std::size_t stop = 0;
        while (stop < list.size() && !IsSpace(list[stop])) ++stop;
        if (const auto found = classFormats_.find(std::string(list.substr(0, stop))); found != classFormats_.end()) {
          attributes_.format = found->second;
        }
        list.remove_prefix(stop < list.size() ? stop + 1 : stop);
      }
    }
  }

  CellValue ValueOfCell(std::string text) const {
    if (!spreadsheetPage_) return ValueOfUntypedText(std::move(text));
    if (attributes_.error || IsErrorName(text)) return CellValue::OfError();
    if (attributes_.number) {
      const std::string& source = attributes_.number->has_value() ? **attributes_.number : text;
      double number = 0.0;
      const auto [end, ec] = std::from_chars(source.data(), source.data() + source.size(), number);
      if (ec == std::errc() && end == source.data() + source.size() && std::isfinite(number)) {
        return CellValue::OfNumber(number, attributes_.format ? StyleOfMsoFormat(*attributes_.format) : NumberStyle::General);
      }
    }
    if (attributes_.boolean) {
      std::string value = attributes_.boolean->has_value() ? **attributes_.boolean : text;
      for (char& c : value) c = AsciiLower(c);
      if (value == "true" || value == "1") return CellValue::OfBoolean(true);
      if (value == "false" || value == "0") return CellValue::OfBoolean(false);
    }
    if (attributes_.text) {
      std::string value = attributes_.text->has_value() ? **attributes_.text : std::move(text);
      return value.empty() ? CellValue::Empty() : CellValue::OfText(std::move(value));
    }
    return ValueOfUntypedText(std::move(text));
  }

  void CloseCell() {
    if (!inCell_) return;
    inCell_ = false;
    depth_ = 1;  // a nested table left open ends with its cell
    // Past the columns that cells of the rows above cover.
    while (column_ <= static_cast<std::int64_t>(coveredUntil_.size()) && coveredUntil_[column_ - 1] >= row_) ++column_;
    const std::int64_t last = column_ + colspan_ - 1;
    if (last > kMaxColumns) throw WorkbookError(OpenFailure::TooLarge, "table row wider than 16384 columns");
    if (static_cast<std::int64_t>(coveredUntil_.size()) < last) coveredUntil_.resize(static_cast<std::size_t>(last), 0);
    for (std::int64_t c = column_; c <= last; ++c) coveredUntil_[c - 1] = row_ + rowspan_ - 1;
    Store(row_, column_, ValueOfCell(cell_.Take()));
    column_ = last + 1;
  }

  std::int32_t rowLimit_;
  SheetCells& cells_;
  bool spreadsheetPage_;
  std::map<std::string, std::string> classFormats_;
  std::int64_t nextRow_ = 1;
  int depth_ = 0;  // of tables; 1 is a table whose rows are sheet rows
  bool htmlOpen_ = false;
  bool inRow_ = false;
  bool inCell_ = false;
  bool openedCell_ = false;
  std::int64_t row_ = 0;
  std::int64_t column_ = 1;
  long colspan_ = 1;
  long rowspan_ = 1;
  OpenCellAttributes attributes_;
  std::vector<std::int64_t> coveredUntil_;  // per column, the last row a span covers
  ShownText cell_;
  ShownText loose_;
};


// Lays out the page, token by token.
void LayOut(PageText& page, PageLayout& layout) {
  html::Tokenize(page, layout);
  layout.Finish();
}

// A web page: false when the input does not start as a page does.
bool IsWebPage(const OpenedPackage& opened) {
  const std::string head = AsciiHead(ReadInputHead(opened.input, kHeadLength));
  std::string_view text(head);
  while (true) {
    while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
    if (text.substr(0, 4) != "<!--") break;
    const std::size_t close = text.find("-->", 4);
    if (close == std::string_view::npos) return false;
    text.remove_prefix(close + 3);
  }
  if (StartsWithNoCase(text, "<!doctype html")) {
    return text.size() == 14 || IsSpace(text[14]) || text[14] == '>';
  }
  for (const char* start : {"<html", "<head", "<body", "<meta", "<table", "<p", "<div", "<h1", "<h2", "<h3", "<h4",
                            "<h5", "<h6"}) {
    const std::string_view prefix(start);
    if (StartsWithNoCase(text, prefix)) {
      if (text.size() == prefix.size()) return true;
      const char after = text[prefix.size()];
      if (IsSpace(after) || after == '>' || after == '/') return true;
    }
  }
  return false;
}

}  // namespace

WorkbookFormat ReadHtmlInPieces(GsfInput* input, std::int32_t rowLimit, SheetCells& cells, std::size_t pieceSize) {
  const gsf_off_t size = gsf_input_size(input);
  if (size < 0) throw WorkbookError(OpenFailure::NotReadable, "text file cannot be read");
  CheckReadableSize("text file", static_cast<std::uint64_t>(size));
  std::size_t skip = 0;
  const std::vector<Decoding> decodings = DecodingsOf(ReadInputHead(input, kHeadLength), skip);
  // The page is read again from its start when its bytes turn out not to be
  // in the decoding tried, or when a mark of a spreadsheet's page comes after
  // cells were read as another page's.
  bool spreadsheetPage = false;
  for (std::size_t tried = 0; tried < decodings.size();) {
    cells.Clear();
    try {
      PageText page(input, size, skip, decodings[tried], pieceSize);
      PageLayout layout(rowLimit, cells, spreadsheetPage);
      try {
        LayOut(page, layout);
      } catch (const WorkbookError&) {
        // refused in a decoding that the rest of the page may yet rule out
        if (decodings[tried].MayFail() && !page.RestIsInDecoding()) throw NotInDecoding();
        throw;
      }
      break;
    } catch (const NotInDecoding&) {
      ++tried;
      spreadsheetPage = false;  // the mark was in text the next decoding reads anew
    } catch (const PageLayout::SpreadsheetPageFound&) {
      spreadsheetPage = true;
    }
  }
  return WorkbookFormat::Html;
}

namespace {

WorkbookFormat ReadHtmlActiveSheet(const OpenedPackage& opened, std::int32_t rowLimit, SheetCells& cells) {
  return ReadHtmlInPieces(opened.input, rowLimit, cells, 64 * 1024);
}

constexpr WorkbookFormat kHtmlFormats[] = {WorkbookFormat::Html};

}  // namespace

extern const FormatRow kHtmlRow{"html", kHtmlFormats, Container::Bare, IsWebPage, ReadHtmlActiveSheet, kLargeSheet};

}  // namespace ratemover::spreadsheet
