#pragma once
// What the readers of text forms (web pages, CSV files) share: the whole file
// as bytes, its encoding, and the one rule that gives a plain text cell a type.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "spreadsheet/cell_value.h"
#include "spreadsheet/sheet_limits.h"

typedef struct _GsfInput GsfInput;

namespace ratemover::spreadsheet {

// The whole input; throws WorkbookError(TooLarge) above 256 MiB and
// WorkbookError(NotReadable) when it cannot be read.
std::string ReadWholeInput(GsfInput* input);

// At most `limit` bytes from the start of the input; empty when unreadable.
std::string ReadInputHead(GsfInput* input, std::size_t limit);

enum class TextEncoding { Utf8, Utf16LE, Utf16BE, Cp1250 };

struct ByteOrderMark {
  TextEncoding encoding;
  std::size_t length;
};
// The byte-order mark at the start of the bytes, if there is one.
std::optional<ByteOrderMark> ByteOrderMarkOf(std::string_view bytes);

// Whether the bytes are UTF-8 throughout.
bool IsValidUtf8(std::string_view bytes);

// Turns the bytes, from `from` on, into Windows-1250 text in place (the text
// is never longer than its bytes); a character the code page lacks becomes
// '?'. False when they are not valid in the encoding (a malformed UTF-8
// sequence: the bytes are then untouched; an odd UTF-16 length or a lone
// surrogate: the bytes are then in no useful state). Windows-1250 bytes stay
// as they are.
bool DecodeInPlace(std::string& bytes, std::size_t from, TextEncoding encoding);

// Turns bytes that come a piece at a time into Windows-1250 text, as
// DecodeInPlace turns them all at once: the bytes of a character that the end
// of a piece cuts wait for the next piece.
class TextDecoder {
 public:
  // Lenient text shows a malformed sequence as one '?' (in UTF-8 up to the
  // byte that broke it, in UTF-16 a lone surrogate) instead of failing.
  explicit TextDecoder(TextEncoding encoding, bool lenient = false) : encoding_(encoding), lenient_(lenient) {}

  // Appends the text of the next bytes to `out`; false when they are not
  // valid in the encoding (nothing more should be fed then).
  bool Append(std::string_view bytes, std::string& out);
  // After the last piece: false when a character was left cut.
  bool Finish(std::string& out);

 private:
  bool AppendUtf8(std::string_view bytes, std::string& out);
  bool AppendUtf16(std::string_view bytes, std::string& out);

  TextEncoding encoding_;
  bool lenient_;
  std::u16string units_;  // of the piece at hand, reused
  std::string waiting_;  // the cut end of the last piece
  std::string joined_;   // room to join it to the next
};

// A cell of a form that stores no types: a whole text that is an ISO date,
// yyyy-mm-dd, optionally followed by 'T' or a blank and hh:mm or hh:mm:ss, is
// a date; any other text stays text, numbers included. Empty text is an empty
// cell.
CellValue ValueOfUntypedText(std::string text);

}  // namespace ratemover::spreadsheet
