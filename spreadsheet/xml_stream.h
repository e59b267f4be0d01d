#pragma once
// Streaming XML documents into a SAX-style handler from any byte source: a
// part of a ZIP container (an .xlsx or .ods package), which comes from a
// ZipPartReader, or a plain file. The bytes come in chunks of 64 KiB and are
// fed to the parser as they come, never held whole in memory.
//
// Integrity: every document streamed is read and parsed to its end (for a
// package part, its size and CRC-32 are checked against the central directory
// too) before the stream returns;
// a handler that has what it needs stops its own callbacks, not the reading.
// So nothing taken from a part counts unless the whole part is sound: a
// caller uses what its handler gathered only after Stream has returned.
//
// Bounds: more than kMaxBytesWithoutElement bytes of a part without the start
// of an element (a bomb of blanks, a start tag without end) makes the part
// damaged; a document type declaration (which package parts never carry) too,
// and a start tag with more than kMaxXmlAttributes attributes, and so does a
// part beyond the XML parser's own limits (on the length of one
// name or attribute value, for instance). Nothing outside the part is ever
// loaded, and no entity a document declares is ever expanded.
//
// Speed: a quick scanner (xml_scanner.h) reads every document first, by the
// same rules, and hands the handler what the parser would; where the scanner
// cannot vouch for the document, the parser reads it again from its first
// byte, and the handler hears only what it has not heard yet.
//
// Well-formedness includes the namespace rules: a prefix that is not declared,
// or one attribute given twice through two prefixes, makes the part damaged.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/open_failure.h"

typedef struct _GsfInput GsfInput;
typedef struct _GsfInfile GsfInfile;

namespace ratemover::spreadsheet {

struct XmlAttribute {
  std::string_view ns;     // namespace URI, empty when none
  std::string_view name;   // local name
  std::string_view value;  // UTF-8
};

class XmlHandler {
 public:
  virtual ~XmlHandler() = default;
  // Element names come as namespace URI (empty when none) and local name.
  virtual void StartElement(std::string_view ns, std::string_view name,
                            const std::vector<XmlAttribute>& attributes) = 0;
  virtual void EndElement(std::string_view ns, std::string_view name) = 0;
  // Character data, in pieces of any size (UTF-8).
  virtual void Text(std::string_view utf8) = 0;

  // No more callbacks after the current one: the handler has what it needs.
  // The rest of the part is still read and checked.
  void Stop() { stopRequested_ = true; }
  // Ends the stream after the current callback: the workbook is damaged, for
  // the reason given (plain ASCII, naming the check). Any other refusal (the
  // cell table's, when the rows read hold too much) a handler throws.
  void Fail(const char* reason) {
    failure_ = reason;
    stopRequested_ = true;
  }
  // From the next element on, the handler needs only the starts and ends of
  // elements nested at most `deepest` deep (the root is 1), and no text: the
  // rest of the part is checked without handing it more than that.
  void Skim(std::size_t deepest) {
    skimRequested_ = true;
    skimDepth_ = deepest;
  }
  bool SkimRequested() const { return skimRequested_; }
  std::size_t SkimDepth() const { return skimDepth_; }
  bool StopRequested() const { return stopRequested_; }
  bool Failed() const { return failure_ != nullptr; }
  const char* Failure() const { return failure_; }
  // Throws the failure, the part or document named first.
  [[noreturn]] void ThrowFailure(const std::string& documentName) const {
    throw WorkbookError(OpenFailure::Damaged, documentName + ": " + failure_);
  }

 private:
  bool stopRequested_ = false;
  bool skimRequested_ = false;
  std::size_t skimDepth_ = 0;
  const char* failure_ = nullptr;
};

// The value of an attribute by local name (any namespace), or nullptr.
inline const XmlAttribute* FindAttribute(const std::vector<XmlAttribute>& attributes, std::string_view name) {
  for (const auto& a : attributes) {
    if (a.name == name) return &a;
  }
  return nullptr;
}

enum class XmlPartResult {
  Missing,   // no such part in the package
  Stopped,   // the handler stopped its callbacks early; the whole part was read and is sound
  Complete,  // the handler saw the whole part, which is sound
};

// Where the bytes of one document come from.
class XmlByteSource {
 public:
  virtual ~XmlByteSource() = default;
  // Up to size bytes; 0 at the end, once the source has checked that it is
  // whole. Throws WorkbookError when it is not.
  virtual std::size_t Read(std::uint8_t* buffer, std::size_t size) = 0;
  // Names the document in a failure's detail.
  virtual const std::string& Name() const = 0;
  // Starts again from the first byte, for a second reading.
  virtual void Restart() = 0;
};

// More bytes of a document than this without the start of an element: damaged.
inline constexpr std::uint64_t kMaxXmlBytesWithoutElement = 16u << 20;

// A start tag with more attributes than this makes the document damaged ("a
// start tag with too many attributes"), found before the parser compares its
// attributes pair by pair. No writer comes near it.
inline constexpr std::size_t kMaxXmlAttributes = 1000;

// Streams a whole document through the handler, with the checks and bounds
// above. Throws WorkbookError when it is damaged or the handler failed, and
// what the handler throws (the reading ends there; a WorkbookError names the
// document first); says whether the handler stopped early.
XmlPartResult StreamXml(XmlByteSource& source, XmlHandler& handler);

// The same, by the XML parser alone: what the scanner is held to.
XmlPartResult ParseXml(XmlByteSource& source, XmlHandler& handler);

// A plain file, from its first byte to its last; a file above
// kMaxReadBytes cannot be opened (TooLarge).
class PlainFileSource : public XmlByteSource {
 public:
  PlainFileSource(GsfInput* input, std::string name);  // throws WorkbookError(TooLarge)
  std::size_t Read(std::uint8_t* buffer, std::size_t size) override;
  const std::string& Name() const override { return name_; }
  void Restart() override;

 private:
  GsfInput* input_;
  std::string name_;
  std::uint64_t size_;
  std::uint64_t position_ = 0;
};

// The root element of the XML document that these bytes begin (namespace URI
// and local name), when they begin one; nothing when they are not XML up to
// its start tag. Nothing is loaded and no entity expanded on the way.
struct XmlName {
  std::string ns;
  std::string name;
};
std::optional<XmlName> XmlRootElement(std::string_view head);

class ZipDirectory;

class ZipPackage {
 public:
  // More bytes of a part than this without the start of an element: damaged.
  static constexpr std::uint64_t kMaxBytesWithoutElement = kMaxXmlBytesWithoutElement;

  // Throws WorkbookError(Damaged) when the central directory cannot be read.
  explicit ZipPackage(GsfInfile* zip);
  ~ZipPackage();
  ZipPackage(const ZipPackage&) = delete;
  ZipPackage& operator=(const ZipPackage&) = delete;

  // Whether a part of this name (no leading "/"; letter case is not
  // significant, as in package part names) exists.
  bool Has(const std::string& partName) const;

  // The members as the central directory lists them.
  const ZipDirectory& Directory() const;

  // Streams one part through the handler. Throws WorkbookError when the part
  // is damaged (malformed XML, a short or broken member, a wrong size or
  // CRC-32, a bound exceeded, or the handler failed) or too large; the detail
  // names the part and the check.
  XmlPartResult Stream(const std::string& partName, XmlHandler& handler) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A part name resolved against a relationship's source folder ("" for the
// package root, "xl/" for parts in xl): an absolute target ("/xl/a.xml") is
// taken from the root; "." and ".." are resolved. Empty when the target is
// empty or climbs above the root.
std::string ResolvePartName(std::string_view sourceFolder, std::string_view target);

}  // namespace ratemover::spreadsheet
