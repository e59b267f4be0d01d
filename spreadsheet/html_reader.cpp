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
#include <glib.h>
#include <gsf/gsf-input.h>
#include <libxml/HTMLparser.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "common/cp1250.h"
#include "common/text.h"
#include "spreadsheet/workbook_format.h"
#include "spreadsheet/number_format.h"
#include "spreadsheet/open_failure.h"
#include "spreadsheet/sheet_limits.h"
#include "spreadsheet/text_form.h"
#include "spreadsheet/workbook_reader.h"

namespace ratemover::spreadsheet {

namespace {

constexpr std::size_t kHeadLength = 4096;
constexpr long kMaxColspan = 1000;
constexpr long kMaxRowspan = 65534;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Classes of characters for the loops that run over many of them.
enum CharClass : std::uint8_t { kSpace = 1, kTagEnd = 2, kEquals = 4, kSlash = 8, kMarkup = 16, kBlank = 32 };

constexpr std::array<std::uint8_t, 256> kCharClasses = [] {
  std::array<std::uint8_t, 256> classes{};
  for (const char c : {' ', '\t', '\n', '\r', '\f'}) classes[static_cast<unsigned char>(c)] = kSpace | kBlank;
  classes[0xA0] = kBlank;  // a no-break space shows as a blank
  classes['>'] = kTagEnd;
  classes['='] = kEquals;
  classes['/'] = kSlash;
  classes['<'] = kMarkup;
  classes['&'] = kMarkup;
  return classes;
}();

bool Is(char c, std::uint8_t classes) { return (kCharClasses[static_cast<unsigned char>(c)] & classes) != 0; }

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// ---------------------------------------------------------------- encoding

// The first bytes as ASCII text whatever their encoding: enough to see tags.
std::string AsciiHead(std::string_view bytes) {
  const auto mark = ByteOrderMarkOf(bytes);
  if (!mark || mark->encoding == TextEncoding::Utf8) return std::string(bytes.substr(mark ? mark->length : 0));
  std::string text;
  const bool little = mark->encoding == TextEncoding::Utf16LE;
  for (std::size_t i = mark->length; i + 1 < bytes.size(); i += 2) {
    const auto low = static_cast<unsigned char>(bytes[little ? i : i + 1]);
    const auto high = static_cast<unsigned char>(bytes[little ? i + 1 : i]);
    text.push_back(high == 0 && low < 0x80 ? static_cast<char>(low) : '?');
  }
  return text;
}

// The charset that a meta element among the first bytes names, lower-cased.
std::string MetaCharset(std::string_view head) {
  std::string lower(head);
  for (char& c : lower) c = AsciiLower(c);
  for (std::size_t meta = lower.find("<meta"); meta != std::string::npos; meta = lower.find("<meta", meta + 5)) {
    const std::size_t end = lower.find('>', meta);
    const std::string_view tag = std::string_view(lower).substr(meta, end == std::string::npos ? end : end - meta);
    std::size_t at = tag.find("charset");
    if (at == std::string_view::npos) continue;
    at += 7;
    while (at < tag.size() && IsSpace(tag[at])) ++at;
    if (at >= tag.size() || tag[at] != '=') continue;
    ++at;
    while (at < tag.size() && (IsSpace(tag[at]) || tag[at] == '"' || tag[at] == '\'')) ++at;
    std::size_t stop = at;
    while (stop < tag.size() && (IsAsciiLetter(tag[stop]) || (tag[stop] >= '0' && tag[stop] <= '9') ||
                                 tag[stop] == '-' || tag[stop] == '_' || tag[stop] == ':' || tag[stop] == '.')) {
      ++stop;
    }
    if (stop > at) return std::string(tag.substr(at, stop - at));
  }
  return std::string();
}

// The bytes of a page in a charset that a meta element names, turned into
// Windows-1250 text through UTF-8 a piece at a time.
class CharsetDecoder {
 public:
  explicit CharsetDecoder(const std::string& charset) : converter_(g_iconv_open("UTF-8", charset.c_str())) {}
  ~CharsetDecoder() {
    if (Opened()) g_iconv_close(converter_);
  }
  CharsetDecoder(const CharsetDecoder&) = delete;
  CharsetDecoder& operator=(const CharsetDecoder&) = delete;

  // Whether the charset is one the converter knows.
  bool Opened() const { return converter_ != reinterpret_cast<GIConv>(-1); }

  // Appends the text of the next bytes; false when they are not valid in the
  // charset. A character that the end of the piece cuts waits for the next.
  bool Append(std::string_view bytes, std::string& out) {
    joined_.assign(waiting_);
    joined_.append(bytes);
    waiting_.clear();
    gchar* in = joined_.data();
    gsize inLeft = joined_.size();
    while (inLeft > 0) {
      if (!Convert(&in, &inLeft, out)) {
        if (errno != EINVAL) return false;
        break;  // a cut character
      }
    }
    waiting_.assign(in, inLeft);
    return true;
  }

  // After the last piece: false when a character was left cut.
  bool Finish(std::string& out) { return waiting_.empty() && Convert(nullptr, nullptr, out); }

 private:
  // One call of the converter; what it wrote, whole characters, is appended.
  // False with errno when it stopped at a fault; true when it converted all or
  // ran out of room.
  bool Convert(gchar** in, gsize* inLeft, std::string& out) {
    utf8_.resize(in == nullptr ? 64 : *inLeft * 4 + 64);
    gchar* written = utf8_.data();
    gsize room = utf8_.size();
    const gsize result = g_iconv(converter_, in, inLeft, &written, &room);
    const int fault = errno;
    out += Cp1250FromUtf8(std::string_view(utf8_.data(), static_cast<std::size_t>(written - utf8_.data())));
    errno = fault;
    return result != static_cast<gsize>(-1) || fault == E2BIG;
  }

  GIConv converter_;
  std::string waiting_;  // the cut end of the last piece
  std::string joined_;
  std::string utf8_;
};

// How the bytes of a page may be read, in the order the rules try them.
struct Decoding {
  enum class Kind { Text, Charset, Nothing } kind = Kind::Text;
  TextEncoding encoding = TextEncoding::Cp1250;
  bool lenient = true;  // for UTF-8
  std::string charset;  // for Kind::Charset
  // Whether the bytes may turn out not to be in the decoding: the next one is
  // tried then.
  bool MayFail() const {
    return kind == Kind::Charset || (kind == Kind::Text && encoding != TextEncoding::Cp1250 && !lenient);
  }
};

// The page as Windows-1250 text: by its byte-order mark, else the charset of
// a meta element among its first 4 KiB, else UTF-8 if the bytes are valid
// UTF-8, else Windows-1250. Pages are read leniently: a malformed sequence
// shows as '?', as a browser shows a replacement character. A broken UTF-16
// page shows nothing.
std::vector<Decoding> DecodingsOf(std::string_view head, std::size_t& skip) {
  skip = 0;
  if (const auto mark = ByteOrderMarkOf(head)) {
    skip = mark->length;
    if (mark->encoding == TextEncoding::Utf8) return {{Decoding::Kind::Text, TextEncoding::Utf8, true, {}}};
    return {{Decoding::Kind::Text, mark->encoding, false, {}}, {Decoding::Kind::Nothing, {}, true, {}}};
  }
  const std::string charset = MetaCharset(head);
  const bool declaredUtf8 = charset == "utf-8" || charset == "utf8";
  const bool declaredCp1250 = charset == "windows-1250" || charset == "cp1250" || charset == "x-cp1250";
  std::vector<Decoding> decodings;
  if (!charset.empty() && !declaredUtf8 && !declaredCp1250 && charset.rfind("utf-16", 0) != 0) {
    decodings.push_back({Decoding::Kind::Charset, {}, false, charset});
  }
  if (declaredCp1250) {
    decodings.push_back({Decoding::Kind::Text, TextEncoding::Cp1250, true, {}});
  } else if (declaredUtf8) {
    decodings.push_back({Decoding::Kind::Text, TextEncoding::Utf8, true, {}});
  } else {
    decodings.push_back({Decoding::Kind::Text, TextEncoding::Utf8, false, {}});
    decodings.push_back({Decoding::Kind::Text, TextEncoding::Cp1250, true, {}});
  }
  return decodings;
}

// The bytes of the page are not in the decoding tried.
struct NotInDecoding {};

constexpr std::string_view kSpreadsheetMark = "urn:schemas-microsoft-com:office:excel";

// The page's text, read and decoded a piece at a time: only the text from
// where the layout stands on is kept, so that a page is never held whole.
class PageText {
 public:
  PageText(GsfInput* input, gsf_off_t size, std::size_t skip, const Decoding& decoding, std::size_t pieceSize)
      : input_(input),
        size_(size),
        read_(static_cast<gsf_off_t>(skip)),
        pieceSize_(std::max<std::size_t>(pieceSize, 1)),
        textDecoder_(decoding.encoding, decoding.lenient) {
    if (decoding.kind == Decoding::Kind::Charset) {
      charsetDecoder_ = std::make_unique<CharsetDecoder>(decoding.charset);
      if (!charsetDecoder_->Opened()) throw NotInDecoding();
    }
    if (decoding.kind == Decoding::Kind::Nothing) read_ = size_;
    if (gsf_input_seek(input_, read_, G_SEEK_SET)) {
      throw WorkbookError(OpenFailure::NotReadable, "text file cannot be read");
    }
  }

  // The text from where the layout stands to as far as it was read.
  std::string_view View() const { return std::string_view(text_).substr(start_); }
  // Whether the view reaches the end of the page.
  bool AtEnd() const { return finished_; }
  // Whether the text read so far names the namespace of spreadsheet pages.
  bool SpreadsheetMarkSeen() const { return markSeen_; }

  // Drops the first `consumed` characters of the view, then reads on until the
  // rest is at least twice as long, by a piece at least, or the page ends.
  // Throws NotInDecoding.
  void Grow(std::size_t consumed) {
    text_.erase(0, start_ + consumed);
    start_ = 0;
    const std::size_t want = text_.size() + std::max(text_.size(), pieceSize_);
    while (!finished_ && text_.size() < want) ReadPiece();
  }

  // Reads the rest of the page, keeping none of it: whether it is all in the
  // decoding.
  bool RestIsInDecoding() {
    try {
      while (!finished_) {
        text_.clear();
        start_ = 0;
        ReadPiece();
      }
      return true;
    } catch (const NotInDecoding&) {
      return false;
    }
  }

 private:
  void ReadPiece() {
    const std::size_t before = text_.size();
    if (read_ < size_) {
      piece_.resize(static_cast<std::size_t>(std::min<gsf_off_t>(size_ - read_, static_cast<gsf_off_t>(pieceSize_))));
      if (gsf_input_read(input_, piece_.size(), reinterpret_cast<guint8*>(piece_.data())) == nullptr) {
        throw WorkbookError(OpenFailure::NotReadable, "text file cannot be read");
      }
      read_ += static_cast<gsf_off_t>(piece_.size());
      if (!Decode(piece_)) throw NotInDecoding();
    }
    if (read_ == size_) {
      if (!FinishDecoding()) throw NotInDecoding();
      finished_ = true;
    }
    NoteMark(before);
  }

  bool Decode(std::string_view bytes) {
    if (charsetDecoder_) return charsetDecoder_->Append(bytes, text_);
    return textDecoder_.Append(bytes, text_);
  }

  bool FinishDecoding() {
    if (charsetDecoder_) return charsetDecoder_->Finish(text_);
    return textDecoder_.Finish(text_);
  }

  // Looks for the mark in the text added from `from` on, and across its seam
  // with the text before.
  void NoteMark(std::size_t from) {
    if (markSeen_) return;
    const std::string_view added = std::string_view(text_).substr(from);
    seam_.append(added.substr(0, kSpreadsheetMark.size()));
    if (seam_.find(kSpreadsheetMark) != std::string::npos || added.find(kSpreadsheetMark) != std::string_view::npos) {
      markSeen_ = true;
      return;
    }
    if (added.size() >= kSpreadsheetMark.size()) seam_.assign(added.substr(added.size() - kSpreadsheetMark.size()));
    if (seam_.size() > kSpreadsheetMark.size()) seam_.erase(0, seam_.size() - kSpreadsheetMark.size());
  }

  GsfInput* input_;
  gsf_off_t size_;
  gsf_off_t read_;
  std::size_t pieceSize_;
  TextDecoder textDecoder_;
  std::unique_ptr<CharsetDecoder> charsetDecoder_;
  std::string piece_;
  std::string text_;
  std::size_t start_ = 0;
  bool finished_ = false;
  bool markSeen_ = false;
  std::string seam_;  // the last characters read, to find the mark across pieces
};

// ---------------------------------------------------------------- markup

constexpr std::size_t kLongestReference = 41;  // '&', a name of at most 39, ';'

// A character reference at text[at] ('&'): the character it names, in
// Windows-1250, and how far it reaches; none when it names nothing.
std::optional<char> CharacterReference(std::string_view text, std::size_t at, std::size_t& end) {
  const std::size_t semicolon = text.substr(0, at + kLongestReference).find(';', at);
  if (semicolon == std::string_view::npos || semicolon == at + 1) return std::nullopt;
  const std::string_view name = text.substr(at + 1, semicolon - at - 1);
  char32_t codePoint = 0;
  if (name[0] == '#') {
    const bool hex = name.size() > 1 && (name[1] == 'x' || name[1] == 'X');
    const std::string_view digits = name.substr(hex ? 2 : 1);
    unsigned long value = 0;
    const auto [stop, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, hex ? 16 : 10);
    if (digits.empty() || ec != std::errc() || stop != digits.data() + digits.size()) return std::nullopt;
    codePoint = value > 0x10FFFF || value == 0 ? U'\uFFFD' : static_cast<char32_t>(value);
  } else if (name == "apos") {
    codePoint = '\'';
  } else {
    const std::string key(name);
    const htmlEntityDesc* entity = htmlEntityLookup(reinterpret_cast<const xmlChar*>(key.c_str()));
    if (entity == nullptr) return std::nullopt;
    codePoint = entity->value;
  }
  end = semicolon + 1;
  return codePoint < 0x80 ? static_cast<char>(codePoint) : Cp1250OfCodePoint(codePoint);
}

std::string DecodeReferences(std::string_view text) {
  if (text.find('&') == std::string_view::npos) return std::string(text);
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = 0;
    if (text[at] == '&') {
      if (const auto c = CharacterReference(text, at, end)) {
        out.push_back(*c);
        at = end;
        continue;
      }
    }
    out.push_back(text[at++]);
  }
  return out;
}

// What an element does to the layout, told by its name once per tag.
enum class Element { Other, Html, Br, Table, Row, Cell, Block, Style, RawText };

// The element of a tag name, in any case, and the name in lower case (empty
// for an element of no kind).
std::pair<std::string_view, Element> ElementOf(std::string_view name) {
  static constexpr std::pair<std::string_view, Element> kElements[] = {
      {"td", Element::Cell},        {"tr", Element::Row},          {"br", Element::Br},
      {"th", Element::Cell},        {"table", Element::Table},     {"p", Element::Block},
      {"div", Element::Block},      {"h1", Element::Block},        {"h2", Element::Block},
      {"h3", Element::Block},       {"h4", Element::Block},        {"h5", Element::Block},
      {"h6", Element::Block},       {"caption", Element::Block},   {"ul", Element::Block},
      {"ol", Element::Block},       {"li", Element::Block},        {"dl", Element::Block},
      {"dt", Element::Block},       {"dd", Element::Block},        {"pre", Element::Block},
      {"blockquote", Element::Block}, {"hr", Element::Block},      {"address", Element::Block},
      {"center", Element::Block},   {"form", Element::Block},      {"section", Element::Block},
      {"article", Element::Block},  {"header", Element::Block},    {"footer", Element::Block},
      {"nav", Element::Block},      {"body", Element::Block},      {"html", Element::Html},
      // elements whose content is no shown text; style sheets are read for formats
      {"style", Element::Style},    {"script", Element::RawText},  {"title", Element::RawText},
      {"textarea", Element::RawText}, {"template", Element::RawText},
  };
  for (const auto& known : kElements) {
    if (EqualsIgnoringAsciiCase(name, known.first)) return known;
  }
  return {std::string_view(), Element::Other};
}

// A tag as it stands in the text: its attributes are views into the text, and
// a value has its references undone only when it is asked for.
struct Tag {
  std::string_view name;  // lower case, for an element of a kind
  Element element = Element::Other;
  bool end = false;
  bool closed = false;  // by its '>', not by the end of the text
  bool selfClosing = false;  // "/>" as XML writes an empty element
  struct Attribute {
    std::string_view name;   // as written
    std::string_view value;  // as written, without its quotes
    bool hasValue = false;
  };
  // The attributes that the layout reads, of a cell only (a page may give a
  // tag any number of others); of a repeated name the first stands.
  std::vector<Attribute> attributes;
  const Attribute* Find(std::string_view lowerName) const {
    for (const Attribute& attribute : attributes) {
      if (EqualsIgnoringAsciiCase(attribute.name, lowerName)) return &attribute;
    }
    return nullptr;
  }
  // The value of an attribute: none when the tag lacks it, an empty optional
  // inside when it has it without a value.
  std::optional<std::optional<std::string>> Value(std::string_view lowerName) const {
    const Attribute* attribute = Find(lowerName);
    if (attribute == nullptr) return std::nullopt;
    if (!attribute->hasValue) return std::optional<std::string>();
    return std::optional<std::string>(DecodeReferences(attribute->value));
  }
};

// Whether the layout reads an attribute of this name from a cell.
bool IsCellAttribute(std::string_view name) {
  for (const char* read : {"colspan", "rowspan", "x:num", "x:str", "x:bool", "x:err", "style", "class"}) {
    if (EqualsIgnoringAsciiCase(name, read)) return true;
  }
  return false;
}

// Parses the tag at text[at] ('<' followed by a letter, or "</" and a letter)
// up to its '>' (or the end of the text); returns where it ends.
std::size_t ParseTag(std::string_view text, std::size_t at, Tag& tag) {
  // cleared, not replaced: the next tag reuses the room of the last
  tag.end = false;
  tag.attributes.clear();
  ++at;
  if (text[at] == '/') {
    tag.end = true;
    ++at;
  }
  const std::size_t nameStart = at;
  while (at < text.size() && !Is(text[at], kSpace | kTagEnd | kSlash)) ++at;
  std::tie(tag.name, tag.element) = ElementOf(text.substr(nameStart, at - nameStart));
  while (at < text.size() && text[at] != '>') {
    if (Is(text[at], kSpace | kSlash)) {
      ++at;
      continue;
    }
    const std::size_t attributeStart = at;
    while (at < text.size() && !Is(text[at], kSpace | kTagEnd | kEquals | kSlash)) ++at;
    Tag::Attribute attribute{text.substr(attributeStart, at - attributeStart), {}, false};
    while (at < text.size() && IsSpace(text[at])) ++at;
    if (at < text.size() && text[at] == '=') {
      ++at;
      while (at < text.size() && IsSpace(text[at])) ++at;
      attribute.hasValue = true;
      if (at < text.size() && (text[at] == '"' || text[at] == '\'')) {
        const char quote = text[at++];
        const std::size_t close = text.find(quote, at);
        const std::size_t stop = close == std::string_view::npos ? text.size() : close;
        attribute.value = text.substr(at, stop - at);
        at = close == std::string_view::npos ? text.size() : close + 1;
      } else {
        const std::size_t start = at;
        while (at < text.size() && !Is(text[at], kSpace | kTagEnd)) ++at;
        attribute.value = text.substr(start, at - start);
      }
    }
    if (tag.element == Element::Cell && IsCellAttribute(attribute.name) && tag.Find(attribute.name) == nullptr) {
      tag.attributes.push_back(attribute);
    }
  }
  tag.closed = at < text.size();
  tag.selfClosing = tag.closed && text[at - 1] == '/';
  return tag.closed ? at + 1 : at;
}

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
    if (Is(c, kBlank)) {
      if (!text_.empty() && text_.back() != ' ' && text_.back() != '\n') Push(' ');
    } else {
      Push(c);
    }
  }
  void Add(std::string_view run) {
    for (std::size_t at = 0; at < run.size();) {
      if (Is(run[at], kBlank)) {
        // a run of blanks shows as one
        Add(' ');
        while (at < run.size() && Is(run[at], kBlank)) ++at;
        continue;
      }
      std::size_t stop = at + 1;
      while (stop < run.size() && !Is(run[stop], kBlank)) ++stop;
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

bool IsErrorText(std::string_view text) {
  for (const char* error : {"#N/A", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#NULL!"}) {
    if (text == error) return true;
  }
  return false;
}

class PageLayout {
 public:
  PageLayout(std::int32_t rowLimit, SheetCells& cells, bool spreadsheetPage)
      : rowLimit_(rowLimit), cells_(cells), spreadsheetPage_(spreadsheetPage) {}

  void SetClassFormats(std::map<std::string, std::string> formats) { classFormats_ = std::move(formats); }

  // The page turned out to be one a spreadsheet saved. Cells already read as
  // another page's must be read again: throws SpreadsheetPageFound then.
  struct SpreadsheetPageFound {};
  void SetSpreadsheetPage() {
    if (spreadsheetPage_) return;
    if (openedCell_) throw SpreadsheetPageFound();
    spreadsheetPage_ = true;
  }

  void Text(char c) {
    if (inCell_) {
      cell_.Add(c);
    } else {
      loose_.Add(c);
    }
  }

  void Text(std::string_view run) {
    if (inCell_) {
      cell_.Add(run);
    } else {
      loose_.Add(run);
    }
  }

  void StartTag(const Tag& tag) {
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

  void EndTag(const Tag& tag) {
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
    if (attributes_.error || IsErrorText(text)) return CellValue::OfError();
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

// Lays out the page. A tag, a comment, a reference or the content of a style
// sheet is read once the text holds all of it, or the rest of the page: until
// then the text grows, at least doubling, and it is read again.
void LayOut(PageText& page, PageLayout& layout) {
  std::map<std::string, std::string> classFormats;
  Tag tag;
  std::size_t at = 0;
  while (true) {
    const std::string_view text = page.View();
    const bool whole = page.AtEnd();  // the text runs to the end of the page
    auto more = [&] {
      page.Grow(at);
      at = 0;
      if (page.SpreadsheetMarkSeen()) layout.SetSpreadsheetPage();
    };
    if (at >= text.size()) {
      if (whole) break;
      more();
      continue;
    }
    const char c = text[at];
    if (c == '&') {
      if (!whole && text.size() - at < kLongestReference) {
        more();
        continue;
      }
      std::size_t end = 0;
      if (const auto decoded = CharacterReference(text, at, end)) {
        layout.Text(*decoded);
        at = end;
        continue;
      }
    }
    if (c != '<' || at + 1 >= text.size()) {
      if (c == '<' && !whole) {
        more();
        continue;
      }
      // up to the next place where markup may start
      std::size_t stop = at + 1;
      while (stop < text.size() && !Is(text[stop], kMarkup)) ++stop;
      layout.Text(text.substr(at, stop - at));
      at = stop;
      continue;
    }
    const char next = text[at + 1];
    if (!whole && at + 3 >= text.size() && (next == '!' || next == '/')) {
      more();  // a comment's opening, or an end tag's first letter, may be cut
      continue;
    }
    if (next == '!' && at + 3 < text.size() && text[at + 2] == '-' && text[at + 3] == '-') {
      const std::size_t close = text.find("-->", at + 4);
      if (close == std::string_view::npos && !whole) {
        more();
        continue;
      }
      if (close == std::string_view::npos) ThrowDamaged("cut short: a comment is not closed by the end of the page");
      at = close + 3;
    } else if (next == '!' || next == '?') {
      const std::size_t close = text.find('>', at);
      if (close == std::string_view::npos && !whole) {
        more();
        continue;
      }
      if (close == std::string_view::npos) ThrowDamaged("cut short: the page ends inside a declaration");
      at = close + 1;
    } else if (IsAsciiLetter(next) || (next == '/' && at + 2 < text.size() && IsAsciiLetter(text[at + 2]))) {
      const std::size_t end = ParseTag(text, at, tag);
      if (!tag.closed && !whole) {
        more();
        continue;
      }
      if (!tag.closed) ThrowDamaged("cut short: the page ends inside a tag");
      if (tag.end) {
        layout.EndTag(tag);
        at = end;
        continue;
      }
      if (tag.element == Element::Style || tag.element == Element::RawText) {
        // The content runs to the element's end tag, whatever it holds.
        std::size_t close = end;
        while ((close = text.find("</", close)) != std::string_view::npos &&
               !StartsWithNoCase(text.substr(close + 2), tag.name)) {
          close += 2;
        }
        if (close == std::string_view::npos && !whole) {
          more();
          continue;
        }
        if (close == std::string_view::npos) {
          ThrowDamaged("cut short: a " + std::string(tag.name) + " element is not closed by the end of the page");
        }
        const std::size_t stop = close;
        if (tag.element == Element::Style) {
          ReadClassFormats(text.substr(end, stop - end), classFormats);
          layout.SetClassFormats(classFormats);
        }
        at = stop;
        continue;
      }
      layout.StartTag(tag);
      // a browser opens a table even so, but the writer closed what it opened
      if (tag.selfClosing && (tag.element == Element::Table || tag.element == Element::Html)) layout.EndTag(tag);
      at = end;
    } else {
      layout.Text(c);
      ++at;
    }
  }
  layout.Finish();
}

}  // namespace

bool IsWebPage(GsfInput* input) {
  const std::string head = AsciiHead(ReadInputHead(input, kHeadLength));
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

void ReadHtmlActiveSheet(GsfInput* input, std::int32_t rowLimit, SheetCells& cells, std::size_t pieceSize) {
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
  cells.SetFormat(WorkbookFormat::Html);
}

}  // namespace ratemover::spreadsheet
