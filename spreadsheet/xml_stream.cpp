#include "spreadsheet/xml_stream.h"

#include <gsf/gsf-infile.h>
#include <gsf/gsf-input.h>
#include <gsf/gsf-utils.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "spreadsheet/little_endian.h"

namespace ratemover::spreadsheet {
namespace {

constexpr std::size_t kChunk = 64 * 1024;
// The central directory is read whole; a package with a larger one is refused.
constexpr std::uint64_t kMaxCentralDirectory = 16u << 20;
constexpr std::uint16_t kMethodStored = 0;

// Reads len bytes at offset of the input into out; false when the input is shorter.
bool ReadAt(GsfInput* input, std::uint64_t offset, std::size_t len, std::vector<std::uint8_t>& out) {
  out.clear();
  if (gsf_input_seek(input, static_cast<gsf_off_t>(offset), G_SEEK_SET)) return false;
  out.reserve(len);
  while (out.size() < len) {
    const std::size_t n = std::min(kChunk, len - out.size());
    const guint8* data = gsf_input_read(input, n, nullptr);
    if (data == nullptr) return false;
    out.insert(out.end(), data, data + n);
  }
  return true;
}

struct CentralEntry {
  std::uint32_t crc = 0;
  std::uint16_t method = 0;
  bool duplicate = false;
};

// The CRC-32 and method of every member, from the container's central directory.
bool ReadCentralDirectory(GsfInput* source, std::unordered_map<std::string, CentralEntry>& entries) {
  const gsf_off_t sizeSigned = gsf_input_size(source);
  if (sizeSigned < 22) return false;
  const auto size = static_cast<std::uint64_t>(sizeSigned);
  const std::uint64_t tailLen = std::min<std::uint64_t>(size, 22 + 0xFFFF + 20);
  std::vector<std::uint8_t> tail;
  if (!ReadAt(source, size - tailLen, static_cast<std::size_t>(tailLen), tail)) return false;
  // The end-of-central-directory record, searched from the end (a comment may follow it).
  std::size_t eocd = tail.size();
  for (std::size_t i = tail.size() - 22 + 1; i-- > 0;) {
    if (U32(&tail[i]) == 0x06054b50u) {
      eocd = i;
      break;
    }
  }
  if (eocd == tail.size()) return false;
  std::uint64_t count = U16(&tail[eocd + 10]);
  std::uint64_t cdSize = U32(&tail[eocd + 12]);
  std::uint64_t cdOffset = U32(&tail[eocd + 16]);
  if (count == 0xFFFF || cdSize == 0xFFFFFFFFu || cdOffset == 0xFFFFFFFFu) {
    // ZIP64: the locator just before the record points at the ZIP64 record.
    if (eocd < 20 || U32(&tail[eocd - 20]) != 0x07064b50u) return false;
    const std::uint64_t zip64Offset = U64(&tail[eocd - 20 + 8]);
    std::vector<std::uint8_t> record;
    if (zip64Offset > size || size - zip64Offset < 56 || !ReadAt(source, zip64Offset, 56, record)) return false;
    if (U32(record.data()) != 0x06064b50u) return false;
    count = U64(&record[32]);
    cdSize = U64(&record[40]);
    cdOffset = U64(&record[48]);
  }
  if (cdSize > kMaxCentralDirectory || cdOffset > size || cdSize > size - cdOffset) return false;
  std::vector<std::uint8_t> cd;
  if (!ReadAt(source, cdOffset, static_cast<std::size_t>(cdSize), cd)) return false;
  std::size_t pos = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (cd.size() - pos < 46 || U32(&cd[pos]) != 0x02014b50u) return false;
    const std::uint16_t method = U16(&cd[pos + 10]);
    const std::uint32_t crc = U32(&cd[pos + 16]);
    const std::size_t nameLen = U16(&cd[pos + 28]);
    const std::size_t extraLen = U16(&cd[pos + 30]);
    const std::size_t commentLen = U16(&cd[pos + 32]);
    if (cd.size() - pos - 46 < nameLen + extraLen + commentLen) return false;
    std::string name(reinterpret_cast<const char*>(&cd[pos + 46]), nameLen);
    auto [it, inserted] = entries.try_emplace(std::move(name));
    if (inserted) {
      it->second.crc = crc;
      it->second.method = method;
    } else {
      it->second.duplicate = true;
    }
    pos += 46 + nameLen + extraLen + commentLen;
  }
  return true;
}

// The child of a directory of the container by name: exact first, then
// without regard to ASCII letter case. A new reference, or nullptr.
GsfInput* ChildByName(GsfInfile* dir, const std::string& name, std::string& actualName) {
  if (GsfInput* child = gsf_infile_child_by_name(dir, name.c_str())) {
    actualName = name;
    return child;
  }
  const int n = gsf_infile_num_children(dir);
  for (int i = 0; i < n; ++i) {
    const char* childName = gsf_infile_name_by_index(dir, i);
    if (childName != nullptr && g_ascii_strcasecmp(childName, name.c_str()) == 0) {
      actualName = childName;
      return gsf_infile_child_by_index(dir, i);
    }
  }
  return nullptr;
}

// Opens a member by its part name; a new reference or nullptr. fullName gets
// the member's name as the container spells it.
GsfInput* OpenMember(GsfInfile* zip, const std::string& partName, std::string& fullName) {
  fullName.clear();
  GsfInfile* dir = zip;
  g_object_ref(dir);
  std::size_t start = 0;
  while (true) {
    const std::size_t slash = partName.find('/', start);
    const std::string component =
        partName.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    std::string actual;
    GsfInput* child = component.empty() ? nullptr : ChildByName(dir, component, actual);
    g_object_unref(dir);
    if (child == nullptr) return nullptr;
    fullName += actual;
    if (slash == std::string::npos) {
      if (GSF_IS_INFILE(child) && gsf_infile_num_children(GSF_INFILE(child)) >= 0) {
        g_object_unref(child);  // a folder, not a part
        return nullptr;
      }
      return child;
    }
    if (!GSF_IS_INFILE(child)) {
      g_object_unref(child);
      return nullptr;
    }
    fullName += '/';
    dir = GSF_INFILE(child);
    start = slash + 1;
  }
}

// Feeds the parser's SAX callbacks to the handler.
struct ParseState {
  XmlHandler* handler = nullptr;
  xmlParserCtxtPtr parser = nullptr;
  std::uint64_t fed = 0;           // bytes handed to the parser so far
  std::uint64_t lastElement = 0;   // value of fed when the last element started
  bool doctype = false;
  bool malformed = false;          // the parser reported an error
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

// Whether the stream is over: the handler asked for it, or the document is
// already known to be damaged. The parser is halted so that nothing more of
// the document reaches the handler.
bool Over(ParseState& state) {
  if (state.handler->StopRequested() || state.malformed || state.doctype) {
    xmlStopParser(state.parser);
    return true;
  }
  return false;
}

void OnStart(void* data, const xmlChar* localName, const xmlChar*, const xmlChar* uri, int, const xmlChar**,
             int attributeCount, int, const xmlChar** attributes) {
  auto& state = StateOf(data);
  if (Over(state)) return;
  state.lastElement = state.fed;
  state.attributes.clear();
  // Sized before any value is decoded: the views handed on must not move.
  if (state.decoded.size() < static_cast<std::size_t>(attributeCount)) {
    state.decoded.resize(static_cast<std::size_t>(attributeCount));
  }
  // Each attribute comes as local name, prefix, namespace URI, value start, value end.
  for (int i = 0; i < attributeCount; ++i) {
    const xmlChar* const* a = attributes + 5 * i;
    std::string_view value(reinterpret_cast<const char*>(a[3]), static_cast<std::size_t>(a[4] - a[3]));
    if (value.find('&') != std::string_view::npos) value = DecodeAmpersands(state, static_cast<std::size_t>(i), value);
    state.attributes.push_back({View(a[2]), View(a[0]), value});
  }
  state.handler->StartElement(View(uri), View(localName), state.attributes);
  Over(state);
}

void OnEnd(void* data, const xmlChar* localName, const xmlChar*, const xmlChar* uri) {
  auto& state = StateOf(data);
  if (Over(state)) return;
  state.handler->EndElement(View(uri), View(localName));
  Over(state);
}

void OnText(void* data, const xmlChar* text, int len) {
  auto& state = StateOf(data);
  if (Over(state) || len <= 0) return;
  state.handler->Text(std::string_view(reinterpret_cast<const char*>(text), static_cast<std::size_t>(len)));
  Over(state);
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

struct ParserDeleter {
  void operator()(xmlParserCtxt* p) const { xmlFreeParserCtxt(p); }
};

struct InputUnref {
  void operator()(GsfInput* input) const { g_object_unref(input); }
};

}  // namespace

const XmlAttribute* FindAttribute(const std::vector<XmlAttribute>& attributes, std::string_view name) {
  for (const auto& a : attributes) {
    if (a.name == name) return &a;
  }
  return nullptr;
}

struct ZipPackage::Impl {
  GsfInfile* zip = nullptr;
  bool usable = false;
  std::unordered_map<std::string, CentralEntry> entries;
};

ZipPackage::ZipPackage(GsfInfile* zip) : impl_(std::make_unique<Impl>()) {
  impl_->zip = zip;
  if (zip == nullptr) return;
  GsfInput* source = nullptr;
  if (g_object_class_find_property(G_OBJECT_GET_CLASS(zip), "source") != nullptr) {
    g_object_get(zip, "source", &source, nullptr);
  }
  if (source == nullptr) return;
  const gsf_off_t position = gsf_input_tell(source);
  impl_->usable = ReadCentralDirectory(source, impl_->entries);
  gsf_input_seek(source, position, G_SEEK_SET);
  g_object_unref(source);
}

ZipPackage::~ZipPackage() = default;

bool ZipPackage::Usable() const { return impl_->usable; }

bool ZipPackage::Has(const std::string& partName) const {
  if (!impl_->usable) return false;
  std::string fullName;
  GsfInput* member = OpenMember(impl_->zip, partName, fullName);
  if (member == nullptr) return false;
  g_object_unref(member);
  return true;
}

XmlPartResult ZipPackage::Stream(const std::string& partName, XmlHandler& handler) const {
  if (!impl_->usable) return XmlPartResult::Damaged;
  std::string fullName;
  std::unique_ptr<GsfInput, InputUnref> member(OpenMember(impl_->zip, partName, fullName));
  if (!member) return XmlPartResult::Missing;
  const auto entry = impl_->entries.find(fullName);
  if (entry == impl_->entries.end() || entry->second.duplicate) return XmlPartResult::Damaged;

  static const xmlSAXHandler sax = MakeSaxHandler();
  ParseState state;
  state.handler = &handler;
  std::unique_ptr<xmlParserCtxt, ParserDeleter> parser(
      xmlCreatePushParserCtxt(const_cast<xmlSAXHandler*>(&sax), &state, nullptr, 0, nullptr));
  if (!parser) return XmlPartResult::Damaged;
  state.parser = parser.get();
  // Nothing outside the part is ever loaded: no external subset, no entity
  // substitution, no network.
  xmlCtxtUseOptions(parser.get(), XML_PARSE_NONET);

  uLong crc = crc32(0, nullptr, 0);
  bool stopped = false;
  while (gsf_input_remaining(member.get()) > 0) {
    const auto remaining = static_cast<std::uint64_t>(gsf_input_remaining(member.get()));
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kChunk));
    const guint8* data = gsf_input_read(member.get(), n, nullptr);
    if (data == nullptr) return XmlPartResult::Damaged;
    crc = crc32(crc, data, static_cast<uInt>(n));
    const bool last = gsf_input_remaining(member.get()) <= 0;
    state.fed += n;
    // The last chunk ends the document: one that breaks off is an error.
    const int status =
        xmlParseChunk(parser.get(), reinterpret_cast<const char*>(data), static_cast<int>(n), last ? 1 : 0);
    if (state.doctype || state.malformed || handler.Failed()) return XmlPartResult::Damaged;
    if (handler.StopRequested()) {
      stopped = true;
      break;
    }
    if (status != 0 || !parser->wellFormed) return XmlPartResult::Damaged;
    if (state.fed - state.lastElement > kMaxBytesWithoutElement) return XmlPartResult::Damaged;
  }
  if (!stopped) {
    if (state.fed == 0) {
      // An empty part is not a well-formed document.
      return XmlPartResult::Damaged;
    }
    return crc == entry->second.crc ? XmlPartResult::Complete : XmlPartResult::Damaged;
  }
  if (entry->second.method == kMethodStored) {
    // Reading on costs no inflating: check the CRC of the whole part.
    while (gsf_input_remaining(member.get()) > 0) {
      const auto remaining = static_cast<std::uint64_t>(gsf_input_remaining(member.get()));
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kChunk));
      const guint8* data = gsf_input_read(member.get(), n, nullptr);
      if (data == nullptr) return XmlPartResult::Damaged;
      crc = crc32(crc, data, static_cast<uInt>(n));
    }
    if (crc != entry->second.crc) return XmlPartResult::Damaged;
  }
  return XmlPartResult::Stopped;
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
