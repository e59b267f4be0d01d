#pragma once
// A web page as the layout takes it in: its bytes turned into Windows-1250 text
// a piece at a time (by its byte-order mark, a charset that a meta element
// names, else UTF-8 or Windows-1250), and that text cut into runs of text,
// character references, tags and style sheets. Comments, declarations and the
// content of script, title, textarea and template elements show nothing.
#include <gsf/gsf-input.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/text_form.h"

namespace ratemover::spreadsheet::html {

inline constexpr std::size_t kHeadLength = 4096;

bool StartsWithNoCase(std::string_view text, std::string_view prefix);
inline bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
// White space or a no-break space: what a page shows as one blank. Inline:
// the layout asks it of every character it shows.
inline bool IsBlank(char c) { return IsSpace(c) || static_cast<unsigned char>(c) == 0xA0; }

// The first bytes as ASCII text whatever their encoding: enough to see tags.
std::string AsciiHead(std::string_view bytes);

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
// page shows nothing. `skip` is set to the length of the byte-order mark.
std::vector<Decoding> DecodingsOf(std::string_view head, std::size_t& skip);

// The bytes of the page are not in the decoding tried.
struct NotInDecoding {};

class CharsetDecoder;

// The page's text, read and decoded a piece at a time: only the text from
// where the layout stands on is kept, so that a page is never held whole.
class PageText {
 public:
  // Throws NotInDecoding when the decoding's charset is unknown.
  PageText(GsfInput* input, gsf_off_t size, std::size_t skip, const Decoding& decoding, std::size_t pieceSize);
  ~PageText();
  PageText(const PageText&) = delete;
  PageText& operator=(const PageText&) = delete;

  // The text from where the layout stands to as far as it was read.
  std::string_view View() const { return std::string_view(text_).substr(start_); }
  // Whether the view reaches the end of the page.
  bool AtEnd() const { return finished_; }
  // Whether the text read so far names the namespace of spreadsheet pages.
  bool SpreadsheetMarkSeen() const { return markSeen_; }

  // Drops the first `consumed` characters of the view, then reads on until the
  // rest is at least twice as long, by a piece at least, or the page ends.
  // Throws NotInDecoding.
  void Grow(std::size_t consumed);

  // Reads the rest of the page, keeping none of it: whether it is all in the
  // decoding.
  bool RestIsInDecoding();

 private:
  void ReadPiece();
  bool Decode(std::string_view bytes);
  bool FinishDecoding();
  void NoteMark(std::size_t from);

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

// The text with its character references undone.
std::string DecodeReferences(std::string_view text);

// What an element does to the layout, told by its name once per tag.
enum class Element { Other, Html, Br, Table, Row, Cell, Block, Style, RawText };

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
  const Attribute* Find(std::string_view lowerName) const;
  // The value of an attribute: none when the tag lacks it, an empty optional
  // inside when it has it without a value.
  std::optional<std::optional<std::string>> Value(std::string_view lowerName) const;
};

// What the tokens of a page go to, in document order.
class TokenSink {
 public:
  virtual void Text(char c) = 0;
  virtual void Text(std::string_view run) = 0;
  virtual void StartTag(const Tag& tag) = 0;
  virtual void EndTag(const Tag& tag) = 0;
  // The content of a style element.
  virtual void StyleSheet(std::string_view css) = 0;
  // The text read so far names the namespace of pages that a spreadsheet saved.
  virtual void SpreadsheetMarkSeen() = 0;

 protected:
  ~TokenSink() = default;
};

// Cuts the page into tokens. A tag, a comment, a reference or the content of a
// style sheet is taken once the text holds all of it, or the rest of the page:
// until then the text grows, at least doubling, and it is read again. A page
// that ends inside a tag, a comment, a declaration or an element whose content
// is not shown was cut short: WorkbookError.
void Tokenize(PageText& page, TokenSink& sink);

}  // namespace ratemover::spreadsheet::html
