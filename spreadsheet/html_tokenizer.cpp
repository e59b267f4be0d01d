#include "spreadsheet/html_tokenizer.h"

#include <glib.h>
#include <libxml/HTMLparser.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <tuple>
#include <utility>

#include "common/cp1250.h"
#include "common/text.h"
#include "spreadsheet/open_failure.h"

namespace ratemover::spreadsheet::html {

namespace {

// Classes of characters for the loops that run over many of them.
enum CharClass : std::uint8_t { kSpace = 1, kTagEnd = 2, kEquals = 4, kSlash = 8, kMarkup = 16 };

constexpr std::array<std::uint8_t, 256> kCharClasses = [] {
  std::array<std::uint8_t, 256> classes{};
  for (const char c : {' ', '\t', '\n', '\r', '\f'}) classes[static_cast<unsigned char>(c)] = kSpace;
  classes['>'] = kTagEnd;
  classes['='] = kEquals;
  classes['/'] = kSlash;
  classes['<'] = kMarkup;
  classes['&'] = kMarkup;
  return classes;
}();

bool Is(char c, std::uint8_t classes) { return (kCharClasses[static_cast<unsigned char>(c)] & classes) != 0; }

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

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

constexpr std::string_view kSpreadsheetMark = "urn:schemas-microsoft-com:office:excel";

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

}  // namespace

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoringAsciiCase(text.substr(0, prefix.size()), prefix);
}

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

PageText::PageText(GsfInput* input, gsf_off_t size, std::size_t skip, const Decoding& decoding, std::size_t pieceSize)
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

PageText::~PageText() = default;

void PageText::Grow(std::size_t consumed) {
  text_.erase(0, start_ + consumed);
  start_ = 0;
  const std::size_t want = text_.size() + std::max(text_.size(), pieceSize_);
  while (!finished_ && text_.size() < want) ReadPiece();
}

bool PageText::RestIsInDecoding() {
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

void PageText::ReadPiece() {
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

bool PageText::Decode(std::string_view bytes) {
  if (charsetDecoder_) return charsetDecoder_->Append(bytes, text_);
  return textDecoder_.Append(bytes, text_);
}

bool PageText::FinishDecoding() {
  if (charsetDecoder_) return charsetDecoder_->Finish(text_);
  return textDecoder_.Finish(text_);
}

// Looks for the mark in the text added from `from` on, and across its seam
// with the text before.
void PageText::NoteMark(std::size_t from) {
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

const Tag::Attribute* Tag::Find(std::string_view lowerName) const {
  for (const Attribute& attribute : attributes) {
    if (EqualsIgnoringAsciiCase(attribute.name, lowerName)) return &attribute;
  }
  return nullptr;
}

std::optional<std::optional<std::string>> Tag::Value(std::string_view lowerName) const {
  const Attribute* attribute = Find(lowerName);
  if (attribute == nullptr) return std::nullopt;
  if (!attribute->hasValue) return std::optional<std::string>();
  return std::optional<std::string>(DecodeReferences(attribute->value));
}

void Tokenize(PageText& page, TokenSink& sink) {
  Tag tag;
  std::size_t at = 0;
  while (true) {
    const std::string_view text = page.View();
    const bool whole = page.AtEnd();  // the text runs to the end of the page
    auto more = [&] {
      page.Grow(at);
      at = 0;
      if (page.SpreadsheetMarkSeen()) sink.SpreadsheetMarkSeen();
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
        sink.Text(*decoded);
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
      sink.Text(text.substr(at, stop - at));
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
        sink.EndTag(tag);
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
          sink.StyleSheet(text.substr(end, stop - end));
        }
        at = stop;
        continue;
      }
      sink.StartTag(tag);
      // a browser opens a table even so, but the writer closed what it opened
      if (tag.selfClosing && (tag.element == Element::Table || tag.element == Element::Html)) sink.EndTag(tag);
      at = end;
    } else {
      sink.Text(c);
      ++at;
    }
  }
}

}  // namespace ratemover::spreadsheet::html
