// The reader of CSV and other delimited text files: a file that no other
// format claims and that holds text.
//
// Fields are read as RFC 4180 has them: a field in double quotes may hold the
// separator, line breaks and "" for one quote. Lines end in CR LF, LF or CR.
// The separator is the one of ';', ',' and tab that splits the first lines
// most consistently, or the one a first line "sep=X" names.
//
// A file cut short (a copy broken off, a download that stopped) must not read
// as a shorter price list, nor its last price as a shorter number. Writers end
// every line, the last one too, with a line end (some leave it off the last
// line), and give every line of a sheet as many fields as the first: a file
// that ends inside a quoted field, inside a character's bytes, or on a line
// without its line end that has fewer fields than the first line and the line
// before it, is refused as cut short.
#include <gsf/gsf-input.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/workbook_format.h"
#include "spreadsheet/open_failure.h"
#include "spreadsheet/text_form.h"
#include "spreadsheet/format_table.h"

namespace ratemover::spreadsheet {

namespace {

constexpr std::size_t kTextCheckLength = 64 * 1024;
constexpr int kSampleLines = 50;

// The records of the text, one at a time.
class Records {
 public:
  Records(std::string_view text, char separator) : text_(text), separator_(separator) {}

  bool AtEnd() const { return at_ >= text_.size(); }
  // Whether the record read last ended with a line end (not with the file).
  bool LineEnded() const { return lineEnded_; }

  // Reads the next record into fields (cleared first); a blank line gives
  // one empty field. Throws Damaged for a quoted field left open and
  // TooLarge for a field or a record beyond a worksheet's bounds.
  void Next(std::vector<std::string>& fields) {
    fields.clear();
    fields.emplace_back();
    lineEnded_ = false;
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == '"' && fields.back().empty() && !quotedSeen_) {
        ReadQuoted(fields.back());
        continue;
      }
      ++at_;
      if (c == separator_) {
        if (fields.size() >= static_cast<std::size_t>(kMaxColumns)) {
          throw WorkbookError(OpenFailure::TooLarge, "line with more than 16384 fields");
        }
        fields.emplace_back();
        quotedSeen_ = false;
      } else if (c == '\n' || c == '\r') {
        if (c == '\r' && at_ < text_.size() && text_[at_] == '\n') ++at_;
        lineEnded_ = true;
        break;
      } else {
        // the field's characters up to the next one that may end it or quote
        std::size_t stop = at_;
        while (stop < text_.size() && text_[stop] != separator_ && text_[stop] != '\n' && text_[stop] != '\r' &&
               text_[stop] != '"') {
          ++stop;
        }
        Append(fields.back(), text_.substr(at_ - 1, stop - at_ + 1));
        at_ = stop;
      }
    }
    quotedSeen_ = false;
  }

  // The number of fields of the next record (0 for a blank line), or none
  // at the end; a quoted field left open ends the counting.
  std::optional<std::size_t> CountNext() {
    if (AtEnd()) return std::nullopt;
    try {
      Next(scratch_);
    } catch (const WorkbookError&) {
      at_ = text_.size();
      return std::nullopt;
    }
    return scratch_.size() == 1 && scratch_[0].empty() ? 0 : scratch_.size();
  }

 private:
  // A quoted field, from its opening quote; what follows the closing quote
  // up to the separator belongs to the field too, as spreadsheets read it.
  void ReadQuoted(std::string& field) {
    ++at_;
    quotedSeen_ = true;
    while (true) {
      const std::size_t quote = text_.find('"', at_);
      if (quote == std::string_view::npos) ThrowDamaged("cut short: a quoted field is not closed by the end of the file");
      for (; at_ < quote; ++at_) {
        const char c = text_[at_];
        if (c == '\r') {
          // A line break inside quotes reads as LF.
          if (at_ + 1 < quote && text_[at_ + 1] == '\n') ++at_;
          Append(field, '\n');
        } else {
          Append(field, c);
        }
      }
      at_ = quote + 1;
      if (at_ < text_.size() && text_[at_] == '"') {
        Append(field, '"');
        ++at_;
        continue;
      }
      return;
    }
  }

  static void Append(std::string& field, char c) {
    if (field.size() >= kMaxCellText) throw WorkbookError(OpenFailure::TooLarge, "field longer than 32767 characters");
    field.push_back(c);
  }

  static void Append(std::string& field, std::string_view characters) {
    if (field.size() + characters.size() > kMaxCellText) {
      throw WorkbookError(OpenFailure::TooLarge, "field longer than 32767 characters");
    }
    field.append(characters);
  }

  std::string_view text_;
  char separator_;
  std::size_t at_ = 0;
  bool quotedSeen_ = false;  // the current field began with a quote
  bool lineEnded_ = false;
  std::vector<std::string> scratch_;
};

// The separator that splits the first lines into the most consistent number
// of fields: the count most lines share, more than one field, and the most
// lines sharing it; ';' first on a tie, then ',', then tab.
char DetectSeparator(std::string_view text) {
  char best = ';';
  int bestAgreeing = 0;
  for (const char candidate : {';', ',', '\t'}) {
    Records records(text, candidate);
    std::map<std::size_t, int> linesWithCount;
    for (int line = 0; line < kSampleLines;) {
      const auto count = records.CountNext();
      if (!count) break;
      if (*count == 0) continue;
      ++linesWithCount[*count];
      ++line;
    }
    int agreeing = 0;
    for (const auto& [count, lines] : linesWithCount) {
      if (count > 1 && lines > agreeing) agreeing = lines;
    }
    if (agreeing > bestAgreeing) {
      best = candidate;
      bestAgreeing = agreeing;
    }
  }
  return best;
}

// A first line "sep=X" names the separator; the line is no row.
std::optional<char> NamedSeparator(std::string_view& text) {
  if (text.size() < 5 || text.substr(0, 4) != "sep=") return std::nullopt;
  const std::size_t end = text.find_first_of("\r\n");
  if (end != 5 && end != std::string_view::npos) return std::nullopt;
  if (end == std::string_view::npos && text.size() != 5) return std::nullopt;
  const char separator = text[4];
  text.remove_prefix(5);
  if (!text.empty() && text.front() == '\r') text.remove_prefix(1);
  if (!text.empty() && text.front() == '\n') text.remove_prefix(1);
  return separator;
}

[[noreturn]] void ThrowCutInsideCharacter() { ThrowDamaged("cut short: the file ends inside a character"); }

// Whether the bytes are UTF-8 but for a sequence that their end cuts: a lead
// byte among the last three without all the continuation bytes it needs. Only
// text that holds UTF-8 characters before it counts (`utf8` when it has a
// mark): a Windows-1250 text may well end in a letter such as 0xC8.
bool EndsInsideUtf8Character(std::string_view bytes, bool utf8) {
  std::size_t lead = bytes.size();
  for (std::size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
    const auto byte = static_cast<unsigned char>(bytes[bytes.size() - back]);
    if (byte >= 0xC0) {
      lead = bytes.size() - back;
      break;
    }
    if (byte < 0x80) return false;
  }
  if (lead == bytes.size()) return false;
  const auto first = static_cast<unsigned char>(bytes[lead]);
  const std::size_t needed = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : 2;
  if (first > 0xF4 || bytes.size() - lead >= needed) return false;
  const std::string_view before = bytes.substr(0, lead);
  if (!IsValidUtf8(before)) return false;
  return utf8 || std::any_of(before.begin(), before.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// Whether UTF-16 text ends inside a character: half a code unit, or a high
// surrogate without its pair.
bool EndsInsideUtf16Character(std::string_view bytes, TextEncoding encoding) {
  if (bytes.size() % 2 != 0) return true;
  if (bytes.size() < 2) return false;
  const auto high = static_cast<unsigned char>(bytes[bytes.size() - (encoding == TextEncoding::Utf16LE ? 1 : 2)]);
  return high >= 0xD8 && high <= 0xDB;
}

// The file's bytes as Windows-1250 text, or false when they are not text.
// Throws Damaged for text that its end cuts inside a character.
bool DecodeText(std::string& bytes) {
  if (const auto mark = ByteOrderMarkOf(bytes)) {
    const std::string_view text = std::string_view(bytes).substr(mark->length);
    if (mark->encoding == TextEncoding::Utf8 ? EndsInsideUtf8Character(text, true)
                                             : EndsInsideUtf16Character(text, mark->encoding)) {
      ThrowCutInsideCharacter();
    }
    if (!DecodeInPlace(bytes, mark->length, mark->encoding)) return false;
  } else {
    // bytes that are not UTF-8 are left as they were: Windows-1250
    if (!DecodeInPlace(bytes, 0, TextEncoding::Utf8) && EndsInsideUtf8Character(bytes, false)) {
      ThrowCutInsideCharacter();
    }
  }
  // Text holds no control characters but tab, line ends and form feed (and
  // the end-of-file mark of old editors): a file of "PK\3\4" is a cut
  // archive, not a line of text.
  for (const char c : std::string_view(bytes).substr(0, kTextCheckLength)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && byte != 0x1A) return false;
  }
  return true;
}

WorkbookFormat ReadCsvActiveSheet(const OpenedPackage& opened, std::int32_t rowLimit, SheetCells& cells) {
  GsfInput* input = opened.input;
  // A NUL among the first bytes of a file without a byte-order mark is no
  // text in UTF-8 or Windows-1250: not worth reading whole. The decoded text
  // holds no NUL either, nor any other control character but a line's own.
  const std::string head = ReadInputHead(input, kTextCheckLength);
  if (!ByteOrderMarkOf(head) && head.find('\0') != std::string::npos) throw WorkbookError(OpenFailure::NotAWorkbook, "");
  std::string text = ReadWholeInput(input);
  if (!DecodeText(text)) throw WorkbookError(OpenFailure::NotAWorkbook, "");

  std::string_view rest(text);
  const auto named = NamedSeparator(rest);
  const char separator = named ? *named : DetectSeparator(rest);
  Records records(rest, separator);
  std::vector<std::string> fields;
  std::size_t firstLineFields = 0;
  std::size_t lineBeforeFields = 0;
  for (std::int64_t row = 1; !records.AtEnd(); ++row) {
    records.Next(fields);
    if (row == 1) firstLineFields = lineBeforeFields = fields.size();
    if (records.AtEnd() && !records.LineEnded() && fields.size() < std::min(firstLineFields, lineBeforeFields)) {
      ThrowDamaged("cut short: the last line has " + std::to_string(fields.size()) +
                   " fields and no line end, the lines before it more");
    }
    lineBeforeFields = fields.size();
    if (row > rowLimit) continue;  // read to the end all the same, to check it
    for (std::size_t column = 0; column < fields.size(); ++column) {
      if (fields[column].empty()) continue;
      cells.Put(static_cast<std::int32_t>(row), static_cast<std::int32_t>(column + 1),
                ValueOfUntypedText(std::move(fields[column])));
    }
  }
  return WorkbookFormat::Csv;
}

// Delimited text is the claim of last resort: whatever is left that is text.
// Whether it is text shows only in reading it.
bool AnyInput(const OpenedPackage&) { return true; }

constexpr WorkbookFormat kCsvFormats[] = {WorkbookFormat::Csv};

}  // namespace

extern const FormatRow kCsvRow{"csv", kCsvFormats, Container::Bare, AnyInput, ReadCsvActiveSheet, kLargeSheet};

}  // namespace ratemover::spreadsheet
