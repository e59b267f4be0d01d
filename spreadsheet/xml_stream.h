#pragma once
// Streaming the XML parts of a ZIP container (an .xlsx or .ods package) into a
// SAX-style handler: a part is inflated in chunks of 64 KiB and fed to the
// parser as it comes, never held whole in memory, and the handler may stop the
// stream once it has what it needs.
//
// Integrity: a part read to its end has its CRC-32 compared with the one the
// central directory records; a stored part that the handler stops early is
// still read to its end for that check (it costs no inflating). A deflated part
// stopped early is not inflated further, so its CRC is not checked: the
// inflater itself refuses a broken deflate stream, and the unread rest of the
// part cannot change what was read.
//
// Bounds: more than kMaxBytesWithoutElement bytes of a part without the start
// of an element (a bomb of blanks, a start tag without end) makes the part
// damaged; a document type declaration (which package parts never carry) too,
// and so does a part beyond the XML parser's own limits (on the length of one
// name or attribute value, for instance). Nothing outside the part is ever
// loaded, and no entity a document declares is ever expanded.
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

  // Ends the stream after the current callback: the handler has what it needs.
  void Stop() { stopRequested_ = true; }
  // Ends the stream after the current callback: the content is damaged.
  void Fail() {
    failed_ = true;
    stopRequested_ = true;
  }
  bool StopRequested() const { return stopRequested_; }
  bool Failed() const { return failed_; }

 private:
  bool stopRequested_ = false;
  bool failed_ = false;
};

// The value of an attribute by local name (any namespace), or nullptr.
const XmlAttribute* FindAttribute(const std::vector<XmlAttribute>& attributes, std::string_view name);

enum class XmlPartResult {
  Missing,   // no such part in the package
  Damaged,   // malformed XML, a short or broken member, a wrong CRC, a bound exceeded, or the handler failed
  Stopped,   // the handler stopped the stream before the end of the part
  Complete,  // the whole part was read and is well-formed
};

class ZipPackage {
 public:
  // More bytes of a part than this without the start of an element: damaged.
  static constexpr std::uint64_t kMaxBytesWithoutElement = 16u << 20;

  explicit ZipPackage(GsfInfile* zip);
  ~ZipPackage();
  ZipPackage(const ZipPackage&) = delete;
  ZipPackage& operator=(const ZipPackage&) = delete;

  // False when the container's central directory could not be read (then no
  // part can be checked and none is streamed).
  bool Usable() const;

  // Whether a part of this name (no leading "/"; letter case is not
  // significant, as in package part names) exists.
  bool Has(const std::string& partName) const;

  // Streams one part through the handler.
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
