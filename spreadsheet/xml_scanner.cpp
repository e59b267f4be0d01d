#include "spreadsheet/xml_scanner.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/cp1250.h"
#include "common/text.h"

namespace ratemover::spreadsheet {
namespace {

// Bounds well inside the parser's own: past them the scanner is unsure.
constexpr std::size_t kMaxConstruct = 1u << 20;  // one tag, comment or section, or text no markup follows yet
constexpr std::size_t kMaxNameLength = 1000;
constexpr std::size_t kMaxDepth = 200;
// Attributes in one start tag: the parser refuses a tag with more (it compares
// them pair by pair), so the scanner cannot vouch for one.
constexpr std::size_t kMaxAttributes = kMaxXmlAttributes;
// Up to this many attributes, a tag's are compared pair by pair for one given
// twice; more are sorted, so that twins meet side by side.
constexpr std::size_t kPairwiseAttributes = 8;
// Namespace declarations in force at once, and the length of one namespace
// name: the scanner's memory stays small whatever the part holds.
constexpr std::size_t kMaxBindings = 256;
constexpr std::size_t kMaxNamespaceLength = 64 * 1024;

constexpr std::string_view kXmlNamespace = "http://www.w3.org/XML/1998/namespace";
constexpr std::string_view kXmlnsNamespace = "http://www.w3.org/2000/xmlns/";

enum CharClass : std::uint8_t {
  kPlain = 1,      // character data as it stands
  kNameStart = 2,  // ASCII that may start a name
  kName = 4,       // ASCII that may continue a name
  kSpace = 8,
  kValue = 16,   // in an attribute value as it stands
  kNamePart = 32,  // continues a name, a colon aside
  kText = 64,      // character data handed on as it stands
};

constexpr std::array<std::uint8_t, 256> MakeClasses() {
  std::array<std::uint8_t, 256> t{};
  for (int c = 0x20; c < 0x80; ++c) t[c] = kPlain;
  t['<'] = t['&'] = t[']'] = 0;
  t['\t'] = t['\n'] = t['\r'] = kPlain | kSpace;
  t[' '] |= kSpace;
  for (int c = 'a'; c <= 'z'; ++c) t[c] |= kNameStart | kName;
  for (int c = 'A'; c <= 'Z'; ++c) t[c] |= kNameStart | kName;
  t['_'] |= kNameStart | kName;
  t[':'] |= kNameStart | kName;
  for (int c = '0'; c <= '9'; ++c) t[c] |= kName;
  t['-'] |= kName;
  t['.'] |= kName;
  for (int c = 0; c < 256; ++c) {
    if ((t[c] & kName) && c != ':') t[c] |= kNamePart;
  }
  for (int c = 0; c < 256; ++c) {
    if ((t[c] & kPlain) && c != '\r') t[c] |= kText;
  }
  for (int c = 0x20; c < 0x80; ++c) t[c] |= kValue;
  t['<'] &= ~kValue;
  t['&'] &= ~kValue;
  t['"'] &= ~kValue;
  t['\''] &= ~kValue;
  return t;
}
constexpr std::array<std::uint8_t, 256> kClass = MakeClasses();

bool Is(std::uint8_t c, CharClass k) { return (kClass[c] & k) != 0; }

// Runs of text and attribute values are skipped sixteen bytes at a time
// where the processor allows: a mask marks the bytes outside the class,
// exactly those the class table leaves out, and the run ends at the first of
// them. The last bytes of a piece go one at a time.
#if defined(__SSE2__)
using Bytes16 = __m128i;
inline Bytes16 Load16(const std::uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline Bytes16 Splat(char c) { return _mm_set1_epi8(c); }
// Below 0x20 or not ASCII (a byte from 0x80 on is negative as signed).
inline Bytes16 ControlOrHigh(Bytes16 x) { return _mm_cmplt_epi8(x, Splat(0x20)); }
inline Bytes16 Equal(Bytes16 x, char c) { return _mm_cmpeq_epi8(x, Splat(c)); }
template <typename EndsRun>
inline std::size_t SkipWide(const std::uint8_t* data, std::size_t i, std::size_t size, CharClass k, EndsRun endsRun) {
  // Most values and runs of text in cells are short: one that ends within
  // four bytes ends by the table.
  if (i + 4 <= size && !(kClass[data[i]] & kClass[data[i + 1]] & kClass[data[i + 2]] & kClass[data[i + 3]] & k)) {
    while (kClass[data[i]] & k) ++i;
    return i;
  }
  for (; i + 16 <= size; i += 16) {
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(endsRun(Load16(data + i))));
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(mask));
  }
  while (i < size && (kClass[data[i]] & k)) ++i;
  return i;
}

// The first byte from i on that is not character data handed on as it stands.
inline std::size_t SkipText(const std::uint8_t* data, std::size_t i, std::size_t size) {
  return SkipWide(data, i, size, kText, [](Bytes16 x) {
    const Bytes16 control = _mm_andnot_si128(_mm_or_si128(Equal(x, '\t'), Equal(x, '\n')), ControlOrHigh(x));
    return _mm_or_si128(_mm_or_si128(control, Equal(x, '<')), _mm_or_si128(Equal(x, '&'), Equal(x, ']')));
  });
}

// The first byte from i on that does not stand as it is in an attribute value.
inline std::size_t SkipValue(const std::uint8_t* data, std::size_t i, std::size_t size) {
  return SkipWide(data, i, size, kValue, [](Bytes16 x) {
    const Bytes16 quotes = _mm_or_si128(Equal(x, '"'), Equal(x, '\''));
    return _mm_or_si128(_mm_or_si128(ControlOrHigh(x), quotes), _mm_or_si128(Equal(x, '<'), Equal(x, '&')));
  });
}
#else
inline std::size_t SkipClass(const std::uint8_t* data, std::size_t i, std::size_t size, CharClass k) {
  while (i + 4 <= size && (kClass[data[i]] & kClass[data[i + 1]] & kClass[data[i + 2]] & kClass[data[i + 3]] & k)) {
    i += 4;
  }
  while (i < size && (kClass[data[i]] & k)) ++i;
  return i;
}
inline std::size_t SkipText(const std::uint8_t* data, std::size_t i, std::size_t size) {
  return SkipClass(data, i, size, kText);
}
inline std::size_t SkipValue(const std::uint8_t* data, std::size_t i, std::size_t size) {
  return SkipClass(data, i, size, kValue);
}
#endif

bool IsXmlChar(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

// Bytes a UTF-8 sequence takes by its first byte; 0 for a byte that starts none.
std::size_t SequenceLength(std::uint8_t lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 0;
}

// Whether n bytes at a and at b are the same: for the short names of tags,
// quicker than a call.
inline bool SameBytes(const char* a, const char* b, std::size_t n) {
  for (; n >= 8; a += 8, b += 8, n -= 8) {
    std::uint64_t x, y;
    std::memcpy(&x, a, 8);
    std::memcpy(&y, b, 8);
    if (x != y) return false;
  }
  for (; n > 0; ++a, ++b, --n) {
    if (*a != *b) return false;
  }
  return true;
}

}  // namespace

bool XmlScanner::Feed(const std::uint8_t* data, std::size_t size) {
  if (unsure_) return false;
  const std::string_view piece(reinterpret_cast<const char*>(data), size);
  std::size_t pos = 0;
  if (atStart_) {
    // The head of the part is gathered until the declaration is whole.
    if (buffer_.empty()) {
      text_ = piece;
    } else {
      buffer_.append(piece);
      text_ = buffer_;
    }
    // A byte-order mark of UTF-8 may come first; any other form of the
    // document (another encoding, leading blanks) is left to the parser.
    if (text_.size() < 8) return Keep(0);  // room for a mark and "<?xml"
    if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
    if (text_[pos] != '<') return GiveUp();
    if (text_.compare(pos, 5, "<?xml") == 0) {
      const Step step = ScanDeclaration(pos);
      if (step == Step::Unsure) return GiveUp();
      if (step == Step::More) return Keep(0);
    }
    atStart_ = false;
  } else if (!buffer_.empty()) {
    // What was kept from the last piece takes this piece's bytes up to its
    // first '<' (further each time a comment, section or instruction goes
    // on), and the rest of this piece is scanned where it lies.
    std::size_t taken = 0;
    for (std::size_t step = 0;; step = std::max<std::size_t>(256, step * 4)) {
      const std::size_t next = taken + step < size ? piece.find('<', taken + step) : std::string_view::npos;
      const std::size_t add = next == std::string_view::npos ? size - taken : next + 1 - taken;
      buffer_.append(piece.substr(taken, add));
      taken += add;
      text_ = buffer_;
      const Step scanned = ScanConstructs(pos, WholeUntil());
      if (scanned == Step::Unsure) return GiveUp();
      if (handler_ != nullptr && handler_->Failed()) {
        buffer_.clear();
        return true;
      }
      if (scanned == Step::Done && next != std::string_view::npos) break;
      if (taken == size) return Keep(pos);
    }
    pos -= buffer_.size() - taken;  // at the '<' taken last
    buffer_.clear();
    text_ = piece;
  } else {
    text_ = piece;
  }
  const Step scanned = ScanConstructs(pos, WholeUntil());
  if (scanned == Step::Unsure) return GiveUp();
  if (handler_ != nullptr && handler_->Failed()) {
    buffer_.clear();
    return true;
  }
  return Keep(pos);
}

// The end of a piece may cut only the construct that starts at its last '<'
// (or, from an earlier '<', a comment, section or instruction, which finds
// its own end). Before that '<' every tag, reference and run of text is
// whole, and the '<' stops each of them: the scanning steps read the bytes
// without asking where the text ends.
std::size_t XmlScanner::WholeUntil() const {
  const std::size_t last = text_.rfind('<');
  return last == std::string_view::npos ? 0 : last;
}

// Markup and text from pos on, until pos reaches `until`: More when a
// comment, section or instruction does not end in the text (pos at its
// start), Done when the handler failed too.
XmlScanner::Step XmlScanner::ScanConstructs(std::size_t& pos, std::size_t until) {
  while (pos < until) {
    const Step step = text_[pos] == '<' ? ScanMarkup(pos) : ScanText(pos);
    if (step != Step::Done) return step;
    if (handler_ != nullptr && handler_->Failed()) break;
  }
  return Step::Done;
}

// Keeps what is not scanned yet, from pos on, for the next piece.
bool XmlScanner::Keep(std::size_t pos) {
  if (text_.size() - pos > kMaxConstruct) return GiveUp();
  if (text_.data() == buffer_.data()) {
    buffer_.erase(0, pos);
  } else {
    buffer_.assign(text_.substr(pos));
  }
  text_ = {};
  return true;
}

bool XmlScanner::GiveUp() {
  unsure_ = true;
  buffer_.clear();
  text_ = {};
  return false;
}

bool XmlScanner::Finish() {
  if (unsure_) return false;
  if (!atStart_ && !buffer_.empty()) {
    // The end of the part ends what was kept: a '<' after it stops the
    // scanning steps there, and all of it must be scanned.
    const std::size_t end = buffer_.size();
    buffer_.push_back('<');
    text_ = buffer_;
    std::size_t pos = 0;
    if (ScanConstructs(pos, end) != Step::Done || pos != end) unsure_ = true;
    buffer_.clear();
    text_ = {};
  }
  if (atStart_ || !rootClosed_) unsure_ = true;
  return !unsure_;
}

bool XmlScanner::Delivering() const { return handler_ != nullptr && !handler_->StopRequested(); }

bool XmlScanner::TextWanted() const { return depth_ > 0 && Delivering() && !handler_->SkimRequested(); }

void XmlScanner::EmitText(std::string_view text) {
  if (text.empty() || !TextWanted()) return;
  textSinceEvent_ += text.size();
  handler_->Text(text);
}


// <?xml version="1.0" encoding="UTF-8" standalone="yes"?>, the encoding and
// standalone optional, in that order.
XmlScanner::Step XmlScanner::ScanDeclaration(std::size_t& pos) {
  const std::size_t end = text_.find("?>", pos);
  if (end == std::string_view::npos) return Step::More;
  std::string_view decl(text_.data() + pos + 5, end - pos - 5);
  std::size_t i = 0;
  // One name="value": true when there, false when the name is not next;
  // anything else about it is for the parser to judge.
  bool broken = false;
  const auto pseudoAttribute = [&](std::string_view name, std::string_view& value) {
    const std::size_t start = i;
    while (i < decl.size() && Is(static_cast<std::uint8_t>(decl[i]), kSpace)) ++i;
    if (i == start || decl.substr(i, name.size()) != name) {
      i = start;
      return false;
    }
    i += name.size();
    while (i < decl.size() && Is(static_cast<std::uint8_t>(decl[i]), kSpace)) ++i;
    if (i >= decl.size() || decl[i] != '=') return !(broken = true);
    ++i;
    while (i < decl.size() && Is(static_cast<std::uint8_t>(decl[i]), kSpace)) ++i;
    if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\'')) return !(broken = true);
    const char quote = decl[i++];
    const std::size_t close = decl.find(quote, i);
    if (close == std::string_view::npos) return !(broken = true);
    value = decl.substr(i, close - i);
    i = close + 1;
    return true;
  };
  std::string_view version, encoding, standalone;
  if (!pseudoAttribute("version", version) || version != "1.0") return Step::Unsure;
  if (pseudoAttribute("encoding", encoding) && !EqualsIgnoringAsciiCase(encoding, "UTF-8")) return Step::Unsure;
  if (pseudoAttribute("standalone", standalone) && standalone != "yes" && standalone != "no") return Step::Unsure;
  while (i < decl.size() && Is(static_cast<std::uint8_t>(decl[i]), kSpace)) ++i;
  if (broken || i != decl.size()) return Step::Unsure;
  pos = end + 2;
  return Step::Done;
}

// Character data up to the next markup, handed on as it is read.
[[gnu::always_inline]] inline XmlScanner::Step XmlScanner::ScanText(std::size_t& pos) {
  const auto* const data = reinterpret_cast<const std::uint8_t*>(text_.data());
  const std::size_t size = text_.size();
  std::size_t i = pos;
  if (depth_ == 0) {
    // Outside the root element only blanks.
    while (Is(data[i], kSpace)) ++i;
    pos = i;
    return data[i] == '<' ? Step::Done : Step::Unsure;
  }
  std::size_t run = i;  // the start of what has not gone out yet
  // A handler that skims or stopped never wants text again.
  const bool deliver = TextWanted();
  const auto emitRun = [&](std::size_t until) {
    if (deliver) EmitText(text_.substr(run, until - run));
  };
  while (true) {
    i = SkipText(data, i, size);
    const std::uint8_t c = data[i];
    if (c == '<') break;
    if (c == '&') {
      emitRun(i);
      pos = i;
      reference_.clear();
      if (!ScanReference(pos, deliver ? &reference_ : nullptr)) return Step::Unsure;
      if (deliver) EmitText(reference_);
      run = i = pos;
    } else if (c == ']') {
      if (data[i + 1] == ']' && data[i + 2] == '>') return Step::Unsure;
      ++i;
    } else if (c == '\r') {
      emitRun(i);
      // A CR LF pair goes out as its line feed, a lone CR as a line feed.
      if (data[i + 1] != '\n' && deliver) EmitText("\n");
      run = ++i;
    } else {
      const std::size_t length = SequenceLength(c);
      if (length < 2) return Step::Unsure;
      const Utf8Step step = DecodeUtf8At(text_, i);
      if (!step.valid || !IsXmlChar(step.codePoint)) return Step::Unsure;
      i += length;
    }
  }
  emitRun(i);
  pos = i;
  return Step::Done;
}

// &name; or &#digits; or &#xhex; at pos, or false; its text appended to
// decoded, if given.
bool XmlScanner::ScanReference(std::size_t& pos, std::string* decoded) {
  constexpr std::size_t kLongest = 16;  // "&#x0010FFFF;" and the entity names fit
  const std::size_t window = std::min(text_.size() - pos, kLongest + 1);
  const void* semicolon = std::memchr(text_.data() + pos, ';', window);
  if (semicolon == nullptr) return false;
  const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(semicolon) - text_.data());
  const std::string_view body(text_.data() + pos + 1, end - pos - 1);
  char32_t value = 0;
  if (body.size() >= 2 && body[0] == '#') {
    const bool hex = body[1] == 'x';
    const std::string_view digits = body.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 8) return false;
    for (char d : digits) {
      int v = -1;
      if (d >= '0' && d <= '9') v = d - '0';
      if (hex && d >= 'a' && d <= 'f') v = d - 'a' + 10;
      if (hex && d >= 'A' && d <= 'F') v = d - 'A' + 10;
      if (v < 0) return false;
      value = value * (hex ? 16 : 10) + static_cast<char32_t>(v);
    }
    if (!IsXmlChar(value)) return false;
  } else if (body == "lt") {
    value = '<';
  } else if (body == "gt") {
    value = '>';
  } else if (body == "amp") {
    value = '&';
  } else if (body == "apos") {
    value = '\'';
  } else if (body == "quot") {
    value = '"';
  } else {
    return false;  // an entity no document without a declaration has
  }
  if (decoded != nullptr) AppendUtf8(*decoded, value);
  pos = end + 1;
  return true;
}

// A qualified name at pos, or false: one colon at most, inside it; ASCII only.
// Inlined where tags are scanned: called for every name, it costs more as a call.
[[gnu::always_inline]] inline bool XmlScanner::ScanName(std::size_t& pos, std::size_t& prefixLength) {
  const auto* const data = reinterpret_cast<const std::uint8_t*>(text_.data());
  std::size_t i = pos;
  if (!Is(data[i], kNameStart) || data[i] == ':') return false;
  prefixLength = 0;
  ++i;
  while (true) {
    while (kClass[data[i]] & kNamePart) ++i;
    if (data[i] != ':') break;
    if (prefixLength != 0) return false;
    if (!Is(data[i + 1], kNameStart) || data[i + 1] == ':') return false;
    prefixLength = i - pos;
    ++i;
  }
  if (i - pos > kMaxNameLength) return false;
  pos = i;
  return true;
}

[[gnu::always_inline]] inline XmlScanner::Step XmlScanner::ScanMarkup(std::size_t& pos) {
  const char next = text_[pos + 1];
  if (next == '/') return ScanEndTag(pos);
  if (next == '!') {
    if (text_.compare(pos, 4, "<!--") == 0) return ScanUntil(pos, pos + 4, "-->", true, false);
    if (depth_ > 0 && text_.compare(pos, 9, "<![CDATA[") == 0) return ScanUntil(pos, pos + 9, "]]>", false, true);
    return Step::Unsure;  // a document type declaration, or what is none of these
  }
  if (next == '?') {
    // A processing instruction: a target not beginning with "xml" (in any case).
    std::size_t i = pos + 2;
    std::size_t prefixLength = 0;
    if (!ScanName(i, prefixLength)) return Step::Unsure;
    const std::string_view target(text_.data() + pos + 2, i - pos - 2);
    if (prefixLength != 0 || target.find(':') != std::string_view::npos ||
        (target.size() >= 3 && EqualsIgnoringAsciiCase(target.substr(0, 3), "xml"))) {
      return Step::Unsure;
    }
    if (text_.compare(i, 2, "?>") == 0) {
      pos = i + 2;
      return Step::Done;
    }
    if (!Is(static_cast<std::uint8_t>(text_[i]), kSpace)) return Step::Unsure;
    return ScanUntil(pos, i, "?>", false, false);
  }
  return ScanStartTag(pos);
}

// Content of a comment, CDATA section or processing instruction from `from`
// up to `end`: characters only, and in a comment no "--" before the end. A
// CDATA section's content is text.
XmlScanner::Step XmlScanner::ScanUntil(std::size_t& pos, std::size_t from, std::string_view end,
                                       bool noDoubleHyphen, bool isText) {
  const std::size_t close = text_.find(end, from);
  if (close == std::string_view::npos) return text_.size() - pos > kMaxConstruct ? Step::Unsure : Step::More;
  const auto* const data = reinterpret_cast<const std::uint8_t*>(text_.data());
  for (std::size_t i = from; i < close;) {
    const std::uint8_t c = data[i];
    if (c < 0x80) {
      if (c < 0x20 && !Is(c, kSpace)) return Step::Unsure;
      if (noDoubleHyphen && c == '-' && data[i + 1] == '-') return Step::Unsure;
      ++i;
      continue;
    }
    const std::size_t length = SequenceLength(c);
    if (length < 2 || close - i < length) return Step::Unsure;
    const Utf8Step step = DecodeUtf8At(text_, i);
    if (!step.valid || !IsXmlChar(step.codePoint)) return Step::Unsure;
    i += length;
  }
  // "--->" ends a comment with a hyphen: not allowed either.
  if (noDoubleHyphen && close > from && data[close - 1] == '-') return Step::Unsure;
  if (isText) {
    // The parser hands on the line ends of a CDATA section as they stand,
    // unlike those of other text: such a section is left to it.
    const std::string_view content = text_.substr(from, close - from);
    if (content.find('\r') != std::string_view::npos) return Step::Unsure;
    EmitText(content);
  }
  pos = close + end.size();
  return Step::Done;
}

[[gnu::always_inline]] inline bool XmlScanner::ScanAttributeValue(std::size_t& pos, Attribute& attribute) {
  const auto* const data = reinterpret_cast<const std::uint8_t*>(text_.data());
  const std::size_t size = text_.size();
  const std::uint8_t quote = data[pos];
  std::size_t i = pos + 1;
  attribute.value = i;
  attribute.plain = true;
  while (true) {
    i = SkipValue(data, i, size);
    const std::uint8_t c = data[i];
    if (c == quote) break;
    if (c == '<') return false;
    if (c == '&') {
      std::size_t at = i;
      if (!ScanReference(at, nullptr)) return false;
      attribute.plain = false;
      i = at;
      continue;
    }
    if (c < 0x80) {
      if (!(kClass[c] & kPlain) && c != ']') return false;
      if (Is(c, kSpace) && c != ' ') attribute.plain = false;  // normalized to a space
      ++i;
      continue;
    }
    const std::size_t length = SequenceLength(c);
    if (length < 2) return false;
    const Utf8Step step = DecodeUtf8At(text_, i);
    if (!step.valid || !IsXmlChar(step.codePoint)) return false;
    i += length;
  }
  attribute.valueLength = i - attribute.value;
  pos = i + 1;
  return true;
}

// One attribute twice, where no attribute has a prefix: by name only.
[[gnu::always_inline]] inline bool XmlScanner::SameNameTwice() const {
  const char* const data = text_.data();
  for (std::size_t a = 0; a + 1 < attributeCount_; ++a) {
    const Attribute& x = attributes_[a];
    for (std::size_t b = a + 1; b < attributeCount_; ++b) {
      const Attribute& y = attributes_[b];
      if (x.nameLength == y.nameLength && SameBytes(data + x.name, data + y.name, x.nameLength)) return true;
    }
  }
  return false;
}

[[gnu::always_inline]] inline XmlScanner::Step XmlScanner::ScanStartTag(std::size_t& pos) {
  const auto* const data = reinterpret_cast<const std::uint8_t*>(text_.data());
  if (rootClosed_) return Step::Unsure;  // a second root
  std::size_t i = pos + 1;
  std::size_t prefixLength = 0;
  if (!ScanName(i, prefixLength)) return Step::Unsure;
  const std::size_t nameEnd = i;
  attributeCount_ = 0;
  bool empty = false;
  bool prefixed = false;  // an attribute has a prefix
  bool declares = false;  // an attribute may declare a namespace
  while (true) {
    const std::size_t blanks = i;
    while (Is(data[i], kSpace)) ++i;
    if (data[i] == '>') break;
    if (data[i] == '/') {
      if (data[i + 1] != '>') return Step::Unsure;
      empty = true;
      ++i;
      break;
    }
    if (i == blanks) return Step::Unsure;  // attributes are set apart by blanks
    if (attributeCount_ == kMaxAttributes) return Step::Unsure;
    // The slots of earlier tags are reused: no call per attribute.
    if (attributeCount_ == attributes_.size()) attributes_.emplace_back();
    Attribute& attribute = attributes_[attributeCount_++];
    attribute.name = i;
    if (!ScanName(i, attribute.prefixLength)) return Step::Unsure;
    attribute.nameLength = i - attribute.name;
    while (Is(data[i], kSpace)) ++i;
    if (data[i] != '=') return Step::Unsure;
    ++i;
    while (Is(data[i], kSpace)) ++i;
    if (data[i] != '"' && data[i] != '\'') return Step::Unsure;
    if (!ScanAttributeValue(i, attribute)) return Step::Unsure;
    if (attribute.prefixLength != 0) prefixed = true;
    if (attribute.nameLength >= 5 && data[attribute.name] == 'x' && std::memcmp(data + attribute.name, "xmlns", 5) == 0) {
      declares = true;
    }
  }
  if (i - pos > kMaxConstruct) return Step::Unsure;
  const std::string_view qname(text_.data() + pos + 1, nameEnd - pos - 1);

  if (depth_ >= kMaxDepth) return Step::Unsure;
  if (open_.size() <= depth_) open_.emplace_back();
  Open& element = open_[depth_];
  element.bindings = bindings_.size();
  declares_ = declares;
  if (declares && !BindNamespaces()) return Step::Unsure;
  element.qname.assign(qname);
  element.prefixLength = prefixLength;
  element.binding = kUnknownBinding;
  if (prefixLength != 0) {
    const std::string_view prefix = qname.substr(0, prefixLength);
    if (prefix == "xml") return Step::Unsure;
    element.binding = BindingOf(prefix);
    if (element.binding == kNoBinding) return Step::Unsure;
  }
  for (std::size_t k = 0; prefixed && k < attributeCount_; ++k) {
    Attribute& a = attributes_[k];
    if (a.prefixLength == 0) continue;
    const std::string_view prefix(text_.data() + a.name, a.prefixLength);
    if (prefix == "xmlns") continue;
    a.binding = BindingOf(prefix);
    if (a.binding == kNoBinding) return Step::Unsure;
  }
  if (attributeCount_ > kPairwiseAttributes) {
    if (SameAttributeTwiceSorted(prefixed)) return Step::Unsure;
  } else if (attributeCount_ > 1 && (prefixed ? SameAttributeTwice() : SameNameTwice())) {
    return Step::Unsure;
  }
  ++depth_;
  ++starts_;
  textSinceEvent_ = 0;
  // A handler that skims hears of no element nested deeper than it asks.
  element.heard = Delivering() && (!handler_->SkimRequested() || depth_ <= handler_->SkimDepth());
  if (element.heard) DeliverStart(element);
  if (empty) {
    --depth_;
    ++ends_;
    if (element.heard && Delivering()) DeliverEnd(element);
    PopBindings(element.bindings);
    if (depth_ == 0) rootClosed_ = true;
  }
  pos = i + 1;
  return Step::Done;
}

// One attribute twice: by name, or by local name through two prefixes that
// name one namespace.
bool XmlScanner::SameAttributeTwice() const {
  const char* const data = text_.data();
  for (std::size_t a = 0; a + 1 < attributeCount_; ++a) {
    const Attribute& x = attributes_[a];
    const std::size_t xLocal = x.prefixLength == 0 ? 0 : x.prefixLength + 1;
    for (std::size_t b = a + 1; b < attributeCount_; ++b) {
      const Attribute& y = attributes_[b];
      if (x.nameLength == y.nameLength && SameBytes(data + x.name, data + y.name, x.nameLength)) return true;
      const std::size_t yLocal = y.prefixLength == 0 ? 0 : y.prefixLength + 1;
      if (xLocal == 0 || yLocal == 0 || x.nameLength - xLocal != y.nameLength - yLocal ||
          !SameBytes(data + x.name + xLocal, data + y.name + yLocal, x.nameLength - xLocal)) {
        continue;
      }
      const std::string_view xPrefix(data + x.name, x.prefixLength);
      const std::string_view yPrefix(data + y.name, y.prefixLength);
      if (xPrefix == "xmlns" || yPrefix == "xmlns" || x.binding == y.binding || UriOf(x.binding) == UriOf(y.binding)) {
        return true;
      }
    }
  }
  return false;
}

// The same test for a tag with many attributes, by sorting: one attribute
// twice by name, or two prefixed attributes of one local name where either
// prefix is xmlns or both name one namespace.
bool XmlScanner::SameAttributeTwiceSorted(bool prefixed) const {
  const char* const data = text_.data();
  const auto qname = [&](std::uint32_t k) {
    return std::string_view(data + attributes_[k].name, attributes_[k].nameLength);
  };
  order_.resize(attributeCount_);
  std::iota(order_.begin(), order_.end(), std::uint32_t{0});
  std::sort(order_.begin(), order_.end(), [&](std::uint32_t x, std::uint32_t y) { return qname(x) < qname(y); });
  for (std::size_t k = 1; k < order_.size(); ++k) {
    if (qname(order_[k - 1]) == qname(order_[k])) return true;
  }
  if (!prefixed) return false;

  const auto local = [&](std::uint32_t k) { return qname(k).substr(attributes_[k].prefixLength + 1); };
  const auto declares = [&](std::uint32_t k) { return qname(k).substr(0, attributes_[k].prefixLength) == "xmlns"; };
  // a declaration's binding is not looked up: it meets any other of its local name
  const auto uri = [&](std::uint32_t k) { return declares(k) ? std::string_view() : UriOf(attributes_[k].binding); };
  order_.clear();
  for (std::uint32_t k = 0; k < attributeCount_; ++k) {
    if (attributes_[k].prefixLength != 0) order_.push_back(k);
  }
  std::sort(order_.begin(), order_.end(), [&](std::uint32_t x, std::uint32_t y) {
    const auto lx = local(x), ly = local(y);
    return lx != ly ? lx < ly : uri(x) < uri(y);
  });
  for (std::size_t first = 0, last = 0; first < order_.size(); first = last) {
    last = first + 1;
    bool declaration = declares(order_[first]);
    while (last < order_.size() && local(order_[last]) == local(order_[first])) {
      if (uri(order_[last]) == uri(order_[last - 1])) return true;
      declaration = declaration || declares(order_[last]);
      ++last;
    }
    if (last - first > 1 && declaration) return true;
  }
  return false;
}

// The namespace declarations among the attributes, in force from this element on.
bool XmlScanner::BindNamespaces() {
  for (const Attribute& a : Attributes()) {
    const std::string_view name(text_.data() + a.name, a.nameLength);
    std::string_view prefix;
    if (a.prefixLength == 0) {
      if (name != "xmlns") continue;
    } else {
      if (name.substr(0, a.prefixLength) != "xmlns") continue;
      prefix = name.substr(a.prefixLength + 1);
      if (prefix == "xml" || prefix == "xmlns") return false;
    }
    // The parser hands on a reference in a namespace name undecoded.
    if (!a.plain) return false;
    Binding binding;
    binding.prefix.assign(prefix);
    Decode(a, binding.uri);
    if (!prefix.empty() && binding.uri.empty()) return false;  // a prefix cannot be unbound
    if (binding.uri == kXmlNamespace || binding.uri == kXmlnsNamespace) return false;
    if (binding.uri.size() > kMaxNamespaceLength || bindings_.size() >= kMaxBindings) return false;
    bindings_.push_back(std::move(binding));
    ++bindingsVersion_;
  }
  return true;
}

std::size_t XmlScanner::BindingOf(std::string_view prefix) const {
  const auto same = [prefix](const std::string& bound) {
    return bound.size() == prefix.size() && SameBytes(bound.data(), prefix.data(), prefix.size());
  };
  if (prefix.size() == 3 && prefix == "xml") return kXmlBinding;
  // A document uses few prefixes, declared (in the writers' parts) on the
  // root: the binding found last for a prefix holds until a binding comes or goes.
  const auto* const p = reinterpret_cast<const std::uint8_t*>(prefix.data());
  const std::size_t hash = prefix.empty() ? 0 : (prefix.size() * 7 + p[0] * 3 + p[prefix.size() - 1]) % kPrefixSlots;
  PrefixSlot& slot = prefixSlots_[hash];
  if (slot.version == bindingsVersion_ && same(bindings_[slot.binding].prefix)) return slot.binding;
  for (std::size_t i = bindings_.size(); i-- > 0;) {
    if (same(bindings_[i].prefix)) {
      slot = {bindingsVersion_, i};
      return i;
    }
  }
  return kNoBinding;
}

std::string_view XmlScanner::UriOf(std::size_t binding) const {
  if (binding == kXmlBinding) return kXmlNamespace;
  return binding == kNoBinding ? std::string_view() : std::string_view(bindings_[binding].uri);
}

// An attribute's value as the parser gives it: references replaced, and each
// tab, line end (a CR LF pair as one) and line feed a space.
void XmlScanner::Decode(const Attribute& attribute, std::string& out) {
  out.clear();
  const std::string_view raw(text_.data() + attribute.value, attribute.valueLength);
  if (attribute.plain) {
    out.assign(raw);
    return;
  }
  for (std::size_t i = 0; i < raw.size();) {
    const char c = raw[i];
    if (c == '&') {
      std::size_t at = attribute.value + i;
      ScanReference(at, &out);  // checked when the tag was scanned
      i = at - attribute.value;
      continue;
    }
    if (c == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
    out += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
    ++i;
  }
}

// The namespace of an element whose declarations are in force.
std::string_view XmlScanner::NamespaceOf(const Open& element) const {
  return UriOf(element.binding == kUnknownBinding
                   ? BindingOf(std::string_view(element.qname).substr(0, element.prefixLength))
                   : element.binding);
}

void XmlScanner::DeliverStart(Open& element) {
  // An unprefixed element that declares nothing is in the namespace of an
  // unprefixed parent: no search.
  const Open* const parent = depth_ >= 2 ? &open_[depth_ - 2] : nullptr;
  if (element.prefixLength != 0) {
    // found when its tag was scanned
  } else if (element.bindings == bindings_.size() && parent != nullptr && parent->prefixLength == 0 &&
             parent->binding != kUnknownBinding) {
    element.binding = parent->binding;
  } else {
    element.binding = BindingOf({});
  }
  delivered_.clear();
  if (decoded_.size() < attributeCount_) decoded_.resize(attributeCount_);
  for (std::size_t k = 0; k < attributeCount_; ++k) {
    const Attribute& a = attributes_[k];
    const std::string_view name(text_.data() + a.name, a.nameLength);
    if (declares_ && (name == "xmlns" || (a.prefixLength != 0 && name.substr(0, a.prefixLength) == "xmlns"))) continue;
    XmlAttribute out;
    if (a.prefixLength != 0) {
      out.ns = UriOf(a.binding);
      out.name = name.substr(a.prefixLength + 1);
    } else {
      out.name = name;
    }
    if (a.plain) {
      out.value = std::string_view(text_.data() + a.value, a.valueLength);
    } else {
      Decode(a, decoded_[k]);
      out.value = decoded_[k];
    }
    delivered_.push_back(out);
  }
  handler_->StartElement(NamespaceOf(element), LocalName(element), delivered_);
}

void XmlScanner::DeliverEnd(const Open& element) { handler_->EndElement(NamespaceOf(element), LocalName(element)); }

std::string_view XmlScanner::LocalName(const Open& element) {
  const std::string_view qname = element.qname;
  return element.prefixLength != 0 ? qname.substr(element.prefixLength + 1) : qname;
}

[[gnu::always_inline]] inline XmlScanner::Step XmlScanner::ScanEndTag(std::size_t& pos) {
  const auto* const data = reinterpret_cast<const std::uint8_t*>(text_.data());
  const std::size_t size = text_.size();
  if (depth_ == 0) return Step::Unsure;
  const Open& element = open_[depth_ - 1];
  // The name must be that of the open element, and end there.
  const std::size_t nameLength = element.qname.size();
  // A name that runs into the '<' after the scanned bytes differs from it.
  std::size_t i = pos + 2 + nameLength;
  if (i >= size || !SameBytes(text_.data() + pos + 2, element.qname.data(), nameLength) ||
      (kClass[data[i]] & kName)) {
    return Step::Unsure;
  }
  while (Is(data[i], kSpace)) ++i;
  if (data[i] != '>') return Step::Unsure;
  --depth_;
  ++ends_;
  textSinceEvent_ = 0;
  if (element.heard && Delivering()) DeliverEnd(element);
  PopBindings(element.bindings);
  if (depth_ == 0) rootClosed_ = true;
  pos = i + 1;
  return Step::Done;
}

}  // namespace ratemover::spreadsheet
