#include "spreadsheet/xml_stream.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <gsf/gsf-input.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <initializer_list>

#include "spreadsheet/open_failure.h"
#include "spreadsheet/sheet_limits.h"
#include "spreadsheet/xml_scanner.h"
#include "spreadsheet/zip_part.h"

namespace ratemover::spreadsheet {
namespace {

constexpr std::size_t kChunk = 64 * 1024;

// Feeds the parser's SAX callbacks to the handler.
struct ParseState {
  XmlHandler* handler = nullptr;
  xmlParserCtxtPtr parser = nullptr;
  std::uint64_t starts = 0;        // elements started and ended so far
  std::uint64_t ends = 0;
  // On a second reading, the handler has heard this many starts and ends
  // already, and this many bytes of the text after the last of them.
  std::uint64_t heardStarts = 0;
  std::uint64_t heardEnds = 0;
  std::uint64_t heardText = 0;
  bool doctype = false;
  bool malformed = false;          // the parser reported an error
  std::exception_ptr thrown;       // by the handler, to be thrown again once the parser has returned
  std::vector<XmlAttribute> attributes;
  std::vector<std::string> decoded;  // attribute values that needed decoding, by attribute index
};

std::string_view View(const xmlChar* s) {
  return s == nullptr ? std::string_view() : std::string_view(reinterpret_cast<const char*>(s));
}

// Without entity substitution (which is left off, so that nothing a document
// declares is ever expanded) the parser hands an ampersand in an attribute
// value on as the reference "&#38;", every other reference already replaced.
// Every "&" of such a value starts one, so turning each back into "&" gives
// the value exactly.
std::string_view DecodeAmpersands(ParseState& state, std::size_t index, std::string_view value) {
  std::string& out = state.decoded[index];
  out.clear();
  constexpr std::string_view kReference = "&#38;";
  std::size_t pos = 0;
  while (pos < value.size()) {
    const std::size_t amp = value.find('&', pos);
    if (amp == std::string_view::npos) {
      out.append(value.substr(pos));
      break;
    }
    out.append(value.substr(pos, amp - pos));
    out += '&';
    pos = value.substr(amp, kReference.size()) == kReference ? amp + kReference.size() : amp + 1;
  }
  return out;
}

ParseState& StateOf(void* data) { return *static_cast<ParseState*>(data); }

// Whether the handler is to hear no more: it asked for that, or the document
// is already known to be damaged (then the parser is halted too). A handler
// that only stopped leaves the parser going, to the end of the part.
bool Over(ParseState& state) {
  if (state.malformed || state.doctype || state.thrown || state.handler->Failed()) {
    xmlStopParser(state.parser);
    return true;
  }
  return state.handler->StopRequested();
}

// What the handler throws must not cross the parser, which is C code: it is
// kept, the parser halted, and it is thrown again once the parser has returned.
template <typename Call>
void Hand(ParseState& state, Call call) {
  try {
    call();
  } catch (...) {
    state.thrown = std::current_exception();
  }
  Over(state);
}

void OnStart(void* data, const xmlChar* localName, const xmlChar*, const xmlChar* uri, int, const xmlChar**,
             int attributeCount, int, const xmlChar** attributes) {
  auto& state = StateOf(data);
  if (++state.starts <= state.heardStarts) return;
  if (Over(state)) return;
  Hand(state, [&] {
    state.attributes.clear();
    // Sized before any value is decoded: the views handed on must not move.
    if (state.decoded.size() < static_cast<std::size_t>(attributeCount)) {
      state.decoded.resize(static_cast<std::size_t>(attributeCount));
    }
    // Each attribute comes as local name, prefix, namespace URI, value start, value end.
    for (int i = 0; i < attributeCount; ++i) {
      const xmlChar* const* a = attributes + 5 * i;
      std::string_view value(reinterpret_cast<const char*>(a[3]), static_cast<std::size_t>(a[4] - a[3]));
      if (value.find('&') != std::string_view::npos) {
        value = DecodeAmpersands(state, static_cast<std::size_t>(i), value);
      }
      state.attributes.push_back({View(a[2]), View(a[0]), value});
    }
    state.handler->StartElement(View(uri), View(localName), state.attributes);
  });
}

void OnEnd(void* data, const xmlChar* localName, const xmlChar*, const xmlChar* uri) {
  auto& state = StateOf(data);
  if (++state.ends <= state.heardEnds) return;
  if (Over(state)) return;
  Hand(state, [&] { state.handler->EndElement(View(uri), View(localName)); });
}

void OnText(void* data, const xmlChar* text, int len) {
  auto& state = StateOf(data);
  const std::uint64_t events = state.starts + state.ends;
  const std::uint64_t heardEvents = state.heardStarts + state.heardEnds;
  if (len <= 0 || events < heardEvents) return;
  std::string_view piece(reinterpret_cast<const char*>(text), static_cast<std::size_t>(len));
  // The text heard after the last event heard is all right after it.
  if (state.heardText != 0 && events == heardEvents) {
    const std::size_t heard = static_cast<std::size_t>(std::min<std::uint64_t>(state.heardText, piece.size()));
    state.heardText -= heard;
    piece.remove_prefix(heard);
    if (piece.empty()) return;
  }
  if (Over(state) || state.handler->SkimRequested()) return;
  Hand(state, [&] { state.handler->Text(piece); });
}

// Package parts never carry a document type declaration: one is refused
// before anything it declares could be used.
void OnDoctype(void* data, const xmlChar*, const xmlChar*, const xmlChar*) {
  auto& state = StateOf(data);
  state.doctype = true;
  xmlStopParser(state.parser);
}

// Errors stay off the terminal; an error (not a warning) makes the part
// damaged. A namespace URI that is not a well-formed URI is an error to the
// parser but not to the namespace rules, so it does not count.
void OnError(void* data, xmlErrorPtr error) {
  if (error == nullptr || error->level < XML_ERR_ERROR) return;
  if (error->domain == XML_FROM_NAMESPACE && error->code == XML_WAR_NS_URI) return;
  StateOf(data).malformed = true;
}

void Quiet(void*, const char*, ...) {}

xmlSAXHandler MakeSaxHandler() {
  xmlInitParser();  // once, before the first parse, whichever thread it runs on
  // Complaints that bypass the parser context (a broken declared encoding, for
  // one) stay off the terminal too; the parse itself still fails.
  xmlSetGenericErrorFunc(nullptr, Quiet);
  xmlSAXHandler sax;
  std::memset(&sax, 0, sizeof sax);
  sax.initialized = XML_SAX2_MAGIC;
  sax.startElementNs = OnStart;
  sax.endElementNs = OnEnd;
  sax.characters = OnText;
  // Blanks are text like any other (the same callback, so the parser never
  // tries to tell ignorable blanks apart); CDATA sections are text too.
  sax.ignorableWhitespace = OnText;
  sax.cdataBlock = OnText;
  sax.internalSubset = OnDoctype;
  sax.externalSubset = OnDoctype;
  sax.serror = OnError;
  sax.warning = Quiet;
  sax.error = Quiet;
  sax.fatalError = Quiet;
  return sax;
}

// The parser may build a document of its own for entities that a document
// type declares, even without a handler for them; it goes with the parser.
struct ParserDeleter {
  void operator()(xmlParserCtxt* p) const {
    if (p->myDoc != nullptr) xmlFreeDoc(p->myDoc);
    xmlFreeParserCtxt(p);
  }
};

}  // namespace

struct ZipPackage::Impl {
  explicit Impl(GsfInfile* zip) : directory(zip) {}
  ZipDirectory directory;
};

ZipPackage::ZipPackage(GsfInfile* zip) : impl_(std::make_unique<Impl>(zip)) {}

ZipPackage::~ZipPackage() = default;

bool ZipPackage::Has(const std::string& partName) const { return impl_->directory.Find(partName) != nullptr; }

const ZipDirectory& ZipPackage::Directory() const { return impl_->directory; }

namespace {

// A package part as a byte source: the reader checks size and CRC-32 as it
// hands out the last bytes, so the part is sound once a read gives nothing more.
class ZipPartSource : public XmlByteSource {
 public:
  ZipPartSource(const ZipDirectory& directory, const std::string& partName)
      : directory_(directory), partName_(partName), part_(std::make_unique<ZipPartReader>(directory, partName)) {}
  std::size_t Read(std::uint8_t* buffer, std::size_t size) override { return part_->Read(buffer, size); }
  const std::string& Name() const override { return part_->Name(); }
  void Restart() override { part_ = std::make_unique<ZipPartReader>(directory_, partName_); }

 private:
  const ZipDirectory& directory_;
  std::string partName_;
  std::unique_ptr<ZipPartReader> part_;
};

// Where a first reading of a document left the handler, for a second.
struct Heard {
  std::uint64_t starts = 0;
  std::uint64_t ends = 0;
  std::uint64_t text = 0;  // bytes of text after the last start or end
};

// The bytes of a document from its first on, each piece to `read`, which says
// whether to go on. Throws WorkbookError when the document is empty or goes
// too long without the start of an element (`starts` counts them so far).
template <typename ReadPiece, typename CountStarts>
bool ReadPieces(XmlByteSource& part, ReadPiece read, CountStarts starts) {
  std::vector<std::uint8_t> chunk(kChunk);
  std::uint64_t fed = 0;
  std::uint64_t lastElement = 0;  // value of fed when an element last started
  std::uint64_t startsBefore = 0;
  while (true) {
    const std::size_t n = part.Read(chunk.data(), chunk.size());
    if (n == 0 && fed == 0) ThrowDamaged(part.Name() + ": empty, not an XML document");
    fed += n;
    if (!read(chunk.data(), n)) return false;
    if (starts() != startsBefore) {
      startsBefore = starts();
      lastElement = fed;
    }
    if (fed - lastElement > kMaxXmlBytesWithoutElement) ThrowDamaged(part.Name() + ": too long without an element");
    if (n == 0) return true;
  }
}

// What the handler throws names the document, as its failures do.
[[noreturn]] void ThrowNamed(const std::string& documentName, std::exception_ptr thrown) {
  try {
    std::rethrow_exception(thrown);
  } catch (const WorkbookError& e) {
    throw WorkbookError(e.Reason(), documentName + ": " + e.Detail());
  }
}

// The first reading: the scanner's. Returns false when it cannot vouch for
// the document; `heard` then says what the handler has heard.
bool ScanPart(XmlByteSource& part, XmlHandler& handler, Heard& heard) {
  XmlScanner scanner;
  scanner.Deliver(&handler);
  const bool sound = ReadPieces(
      part,
      [&](const std::uint8_t* data, std::size_t n) {
        bool sure = false;
        try {
          sure = n == 0 ? scanner.Finish() : scanner.Feed(data, n);
        } catch (...) {
          ThrowNamed(part.Name(), std::current_exception());
        }
        if (handler.Failed()) handler.ThrowFailure(part.Name());
        return sure;
      },
      [&] { return scanner.Starts(); });
  heard = {scanner.Starts(), scanner.Ends(), scanner.TextSinceEvent()};
  return sound;
}

// Counts the attributes of each start tag in the bytes on their way to the
// parser, by the equals signs outside quoted values, so that a tag with too
// many is refused before the parser compares them pair by pair. Comments,
// CDATA sections and processing instructions are passed over as the parser
// passes over them; any other "<!" (a document type declaration) the parser
// refuses before another start tag, so the count stops there. Characters are
// taken by code units: one byte, or two or four in a document the parser
// reads as UTF-16 or UTF-32 by its first bytes; a unit outside ASCII is no
// markup, nor is a byte of a multi-byte character of UTF-8.
class AttributeCounter {
 public:
  // False once a start tag has too many attributes.
  bool Feed(const std::uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
      if (width_ == 0) {
        head_[headSize_++] = data[i];
        if (headSize_ < 4) continue;
        ChooseWidth();
        for (std::size_t k = 0; k < 4; ++k) {
          if (!Byte(head_[k])) return false;
        }
        continue;
      }
      // Text and quoted values, most of a document, are skipped to their end.
      if (width_ == 1 && (state_ == State::Text || state_ == State::Quoted)) {
        const void* end = std::memchr(data + i, state_ == State::Text ? '<' : quote_, size - i);
        if (end == nullptr) break;
        i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - data);
      }
      if (!Byte(data[i])) return false;
    }
    return true;
  }

 private:
  enum class State { Text, Open, Bang, Comment, Cdata, Instruction, EndTag, StartTag, Quoted, Off };

  // The width and byte order of a code unit, by the first four bytes.
  void ChooseWidth() {
    const auto starts = [this](std::initializer_list<std::uint8_t> bytes) {
      return std::equal(bytes.begin(), bytes.end(), head_.begin());
    };
    width_ = 1;
    if (starts({0x00, 0x00, 0xFE, 0xFF}) || starts({0x00, 0x00, 0x00, 0x3C})) {
      width_ = 4;
    } else if (starts({0xFF, 0xFE, 0x00, 0x00}) || starts({0x3C, 0x00, 0x00, 0x00})) {
      width_ = 4;
      little_ = true;
    } else if (starts({0xFE, 0xFF}) || starts({0x00, 0x3C, 0x00, 0x3F})) {
      width_ = 2;
    } else if (starts({0xFF, 0xFE}) || starts({0x3C, 0x00, 0x3F, 0x00})) {
      width_ = 2;
      little_ = true;
    }
  }

  bool Byte(std::uint8_t byte) {
    const unsigned shift = little_ ? 8 * unitBytes_ : 8 * (width_ - 1 - unitBytes_);
    unit_ |= static_cast<std::uint32_t>(byte) << shift;
    if (++unitBytes_ < width_) return true;
    const std::uint32_t unit = unit_;
    unit_ = 0;
    unitBytes_ = 0;
    return Unit(unit < 0x80 ? static_cast<char>(unit) : '\x80');
  }

  bool Unit(char c) {
    switch (state_) {
      case State::Text:
        if (c == '<') state_ = State::Open;
        break;
      case State::Open:
        if (c == '!') {
          state_ = State::Bang;
          bang_.clear();
        } else if (c == '?') {
          Enter(State::Instruction);
        } else if (c == '/') {
          state_ = State::EndTag;
        } else {
          state_ = State::StartTag;
          attributes_ = 0;
          return Unit(c);
        }
        break;
      case State::Bang:
        bang_ += c;
        if (bang_ == "--") {
          Enter(State::Comment);
        } else if (bang_ == "[CDATA[") {
          Enter(State::Cdata);
        } else if (std::string_view("--").substr(0, bang_.size()) != bang_ &&
                   std::string_view("[CDATA[").substr(0, bang_.size()) != bang_) {
          state_ = State::Off;
        }
        break;
      case State::Comment:
        Ends(c, '-', '-');
        break;
      case State::Cdata:
        Ends(c, ']', ']');
        break;
      case State::Instruction:
        Ends(c, '\0', '?');
        break;
      case State::EndTag:
        if (c == '>') state_ = State::Text;
        break;
      case State::StartTag:
        if (c == '"' || c == '\'') {
          quote_ = c;
          state_ = State::Quoted;
        } else if (c == '=') {
          if (++attributes_ > kMaxXmlAttributes) return false;
        } else if (c == '>') {
          state_ = State::Text;
        }
        break;
      case State::Quoted:
        if (c == quote_) state_ = State::StartTag;
        break;
      case State::Off:
        break;
    }
    return true;
  }

  void Enter(State state) {
    state_ = state;
    last_[0] = last_[1] = '\0';
  }

  // Back to text at a ">" after the two units given (a zero one: any).
  void Ends(char c, char first, char second) {
    if (c == '>' && (first == '\0' || last_[0] == first) && last_[1] == second) {
      state_ = State::Text;
      return;
    }
    last_[0] = last_[1];
    last_[1] = c;
  }

  std::array<std::uint8_t, 4> head_{};
  std::size_t headSize_ = 0;
  std::size_t width_ = 0;  // bytes in a code unit, once known
  bool little_ = false;
  std::uint32_t unit_ = 0;
  std::size_t unitBytes_ = 0;
  State state_ = State::Text;
  std::string bang_;  // what follows "<!" so far
  std::array<char, 2> last_{};
  char quote_ = '"';
  std::size_t attributes_ = 0;
};

// A reading by the parser alone, from the first byte to the last; the handler
// hears only what it has not heard yet.
void ParsePart(XmlByteSource& part, XmlHandler& handler, const Heard& heard) {
  const auto damaged = [&part](const char* check) { ThrowDamaged(part.Name() + ": " + check); };

  static const xmlSAXHandler sax = MakeSaxHandler();
  ParseState state;
  state.handler = &handler;
  state.heardStarts = heard.starts;
  state.heardEnds = heard.ends;
  state.heardText = heard.text;
  std::unique_ptr<xmlParserCtxt, ParserDeleter> parser(
      xmlCreatePushParserCtxt(const_cast<xmlSAXHandler*>(&sax), &state, nullptr, 0, nullptr));
  if (!parser) throw std::bad_alloc();
  state.parser = parser.get();
  // Nothing outside the part is ever loaded: no external subset, no entity
  // substitution, no network.
  xmlCtxtUseOptions(parser.get(), XML_PARSE_NONET);
  AttributeCounter attributes;
  // The reader checks size and CRC-32 as it hands out the last bytes, so the
  // part is sound once a read gives nothing more.
  ReadPieces(
      part,
      [&](const std::uint8_t* data, std::size_t n) {
        if (!attributes.Feed(data, n)) damaged("a start tag with too many attributes");
        // The end of the part ends the document: one that breaks off is an error.
        const int status = xmlParseChunk(parser.get(), reinterpret_cast<const char*>(data), static_cast<int>(n),
                                         n == 0 ? 1 : 0);
        if (state.thrown) ThrowNamed(part.Name(), state.thrown);
        if (handler.Failed()) handler.ThrowFailure(part.Name());
        if (state.doctype) damaged("document type declaration");
        if (state.malformed || status != 0 || !parser->wellFormed) damaged("XML not well-formed");
        return true;
      },
      [&] { return state.starts; });
}

}  // namespace

XmlPartResult ZipPackage::Stream(const std::string& partName, XmlHandler& handler) const {
  if (impl_->directory.Find(partName) == nullptr) return XmlPartResult::Missing;
  ZipPartSource part(impl_->directory, partName);
  return StreamXml(part, handler);
}

XmlPartResult StreamXml(XmlByteSource& source, XmlHandler& handler) {
  Heard heard;
  if (!ScanPart(source, handler, heard)) {
    // The parser decides: it reads the document again, and the handler hears
    // only what it has not heard yet.
    source.Restart();
    ParsePart(source, handler, heard);
  }
  return handler.StopRequested() ? XmlPartResult::Stopped : XmlPartResult::Complete;
}

XmlPartResult ParseXml(XmlByteSource& source, XmlHandler& handler) {
  ParsePart(source, handler, Heard{});
  return handler.StopRequested() ? XmlPartResult::Stopped : XmlPartResult::Complete;
}

PlainFileSource::PlainFileSource(GsfInput* input, std::string name) : input_(input), name_(std::move(name)) {
  const gsf_off_t size = gsf_input_size(input);
  size_ = size < 0 ? 0 : static_cast<std::uint64_t>(size);
  CheckReadableSize(name_, size_);
  if (gsf_input_seek(input, 0, G_SEEK_SET)) ThrowDamaged(name_ + ": not readable");
}

void PlainFileSource::Restart() {
  position_ = 0;
  if (gsf_input_seek(input_, 0, G_SEEK_SET)) ThrowDamaged(name_ + ": not readable");
}

std::size_t PlainFileSource::Read(std::uint8_t* buffer, std::size_t size) {
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, size_ - position_));
  if (n == 0) return 0;
  if (gsf_input_read(input_, n, buffer) == nullptr) ThrowDamaged(name_ + ": shorter than its size");
  position_ += n;
  return n;
}

namespace {

struct RootState {
  xmlParserCtxtPtr parser = nullptr;
  std::optional<XmlName> root;
  std::exception_ptr thrown;  // out of memory, thrown again once the parser has returned
};

void OnRootStart(void* data, const xmlChar* localName, const xmlChar*, const xmlChar* uri, int, const xmlChar**, int,
                 int, const xmlChar**) {
  auto& state = *static_cast<RootState*>(data);
  try {
    state.root = XmlName{std::string(View(uri)), std::string(View(localName))};
  } catch (...) {
    state.thrown = std::current_exception();
  }
  xmlStopParser(state.parser);
}

}  // namespace

std::optional<XmlName> XmlRootElement(std::string_view head) {
  static const xmlSAXHandler sax = [] {
    xmlSAXHandler h = MakeSaxHandler();
    h.startElementNs = OnRootStart;
    h.endElementNs = nullptr;
    h.characters = h.ignorableWhitespace = h.cdataBlock = nullptr;
    // A document type declaration is passed over here (its subset is not
    // loaded); whoever reads the document refuses it.
    h.internalSubset = h.externalSubset = nullptr;
    h.serror = nullptr;
    return h;
  }();
  RootState state;
  std::unique_ptr<xmlParserCtxt, ParserDeleter> parser(
      xmlCreatePushParserCtxt(const_cast<xmlSAXHandler*>(&sax), &state, nullptr, 0, nullptr));
  if (!parser) throw std::bad_alloc();
  state.parser = parser.get();
  xmlCtxtUseOptions(parser.get(), XML_PARSE_NONET);
  // In pieces, so that the parser sees the start tag before the head breaks off.
  constexpr std::size_t kPiece = 4096;
  for (std::size_t pos = 0; pos < head.size() && !state.root && parser->wellFormed; pos += kPiece) {
    const std::size_t n = std::min(kPiece, head.size() - pos);
    if (xmlParseChunk(parser.get(), head.data() + pos, static_cast<int>(n), 0) != 0 && !state.root) break;
  }
  if (state.thrown) std::rethrow_exception(state.thrown);
  return state.root;
}

std::string ResolvePartName(std::string_view sourceFolder, std::string_view target) {
  if (target.empty()) return {};
  std::string joined;
  if (target.front() == '/') {
    joined = std::string(target.substr(1));
  } else {
    joined = std::string(sourceFolder) + std::string(target);
  }
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= joined.size()) {
    std::size_t slash = joined.find('/', start);
    if (slash == std::string::npos) slash = joined.size();
    const std::string part = joined.substr(start, slash - start);
    if (part == "..") {
      if (parts.empty()) return {};
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = slash + 1;
  }
  std::string result;
  for (const auto& part : parts) {
    if (!result.empty()) result += '/';
    result += part;
  }
  return result;
}

}  // namespace ratemover::spreadsheet
