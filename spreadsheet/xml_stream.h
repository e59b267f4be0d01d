#pragma once
// Streaming the XML parts of a ZIP container (an .xlsx or .ods package) into a
// SAX-style handler: a part comes from a ZipPartReader in chunks of 64 KiB and
// is fed to the parser as it comes, never held whole in memory.
//
// Integrity: every part streamed is read and parsed to its end, and its size
// and CRC-32 are checked against the central directory, before Stream returns;
// a handler that has what it needs stops its own callbacks, not the reading.
// So nothing taken from a part counts unless the whole part is sound: a
// caller uses what its handler gathered only after Stream has returned.
//
// Bounds: more than kMaxBytesWithoutElement bytes of a part without the start
// of an element (a bomb of blanks, a start tag without end) makes the part
// damaged; a document type declaration (which package parts never carry) too,
// and so does a part beyond the XML parser's own limits (on the length of one
// name or attribute value, for instance). Nothing outside the part is ever
// loaded, and no entity a document declares is ever expanded.
//
// Speed: once a handler needs no more of a large part (it stopped, or wants
// only the starts and ends of elements), a quick scanner (xml_scanner.h)
// checks the rest instead of the parser, by the same rules; where the scanner
// cannot vouch for the rest, the parser reads the whole part again, and the
// handler hears only what it has not heard yet.
//
// Well-formedness includes the namespace rules: a prefix that is not declared,
// or one attribute given twice through two prefixes, makes the part damaged.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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
  // Ends the stream after the current callback: the content is damaged, for
  // the reason given (plain ASCII, naming the check).
  void Fail(const char* reason = "content not valid") {
    failure_ = reason;
    stopRequested_ = true;
  }
  // From the next element on, the handler needs only the starts and ends of
  // elements nested at most `deepest` deep (the root is 1), and no text: the
  // rest of the part may be checked the quick way.
  void Skim(std::size_t deepest) {
    skimRequested_ = true;
    skimDepth_ = deepest;
  }
  bool SkimRequested() const { return skimRequested_; }
  std::size_t SkimDepth() const { return skimDepth_; }
  bool StopRequested() const { return stopRequested_; }
  bool Failed() const { return failure_ != nullptr; }
  const char* Failure() const { return failure_; }

 private:
  bool stopRequested_ = false;
  bool skimRequested_ = false;
  std::size_t skimDepth_ = 0;
  const char* failure_ = nullptr;
};

// The value of an attribute by local name (any namespace), or nullptr.
const XmlAttribute* FindAttribute(const std::vector<XmlAttribute>& attributes, std::string_view name);

enum class XmlPartResult {
  Missing,   // no such part in the package
  Stopped,   // the handler stopped its callbacks early; the whole part was read and is sound
  Complete,  // the handler saw the whole part, which is sound
};

class ZipPackage {
 public:
  // More bytes of a part than this without the start of an element: damaged.
  static constexpr std::uint64_t kMaxBytesWithoutElement = 16u << 20;

  // Throws WorkbookError(Damaged) when the central directory cannot be read.
  explicit ZipPackage(GsfInfile* zip);
  ~ZipPackage();
  ZipPackage(const ZipPackage&) = delete;
  ZipPackage& operator=(const ZipPackage&) = delete;

  // Whether a part of this name (no leading "/"; letter case is not
  // significant, as in package part names) exists.
  bool Has(const std::string& partName) const;

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
