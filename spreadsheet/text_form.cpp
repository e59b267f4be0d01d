#include "spreadsheet/text_form.h"

#include <gsf/gsf-input.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "common/cp1250.h"
#include "common/iso_date_time.h"
#include "spreadsheet/cell_text.h"
#include "spreadsheet/open_failure.h"
#include "spreadsheet/sheet_limits.h"

namespace ratemover::spreadsheet {

namespace {

// Where the run of ASCII bytes that starts at `at` ends; eight bytes are
// looked at in one step.
std::size_t AsciiRunEnd(std::string_view bytes, std::size_t at) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  while (at + 8 <= bytes.size()) {
    std::uint64_t word;
    std::memcpy(&word, bytes.data() + at, sizeof word);
    if ((word & kHighBits) != 0) break;
    at += 8;
  }
  while (at < bytes.size() && static_cast<unsigned char>(bytes[at]) < 0x80) ++at;
  return at;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Whether text[at..] holds `count` digits.
bool DigitsAt(std::string_view text, std::size_t at, std::size_t count) {
  if (text.size() < at + count) return false;
  for (std::size_t i = at; i < at + count; ++i) {
    if (!IsDigit(text[i])) return false;
  }
  return true;
}

// The ISO form exactly: 10, 16 or 19 characters, nothing around them.
bool HasIsoDateShape(std::string_view text) {
  if (!(DigitsAt(text, 0, 4) && text[4] == '-' && DigitsAt(text, 5, 2) && text[7] == '-' && DigitsAt(text, 8, 2))) {
    return false;
  }
  if (text.size() == 10) return true;
  if (text[10] != 'T' && text[10] != ' ') return false;
  if (!(DigitsAt(text, 11, 2) && text[13] == ':' && DigitsAt(text, 14, 2))) return false;
  if (text.size() == 16) return true;
  return text.size() == 19 && text[16] == ':' && DigitsAt(text, 17, 2);
}

bool DecodeUtf8InPlace(std::string& bytes, std::size_t from) {
  if (!IsValidUtf8(std::string_view(bytes).substr(from))) return false;
  std::size_t out = 0;
  const std::string_view view(bytes);
  for (std::size_t at = from; at < bytes.size();) {
    const std::size_t asciiEnd = AsciiRunEnd(view, at);
    if (asciiEnd > at) {
      std::memmove(bytes.data() + out, bytes.data() + at, asciiEnd - at);
      out += asciiEnd - at;
      at = asciiEnd;
      continue;
    }
    const Utf8Step step = DecodeUtf8At(view, at);
    // The character is one byte at most and its sequence at least one, so
    // the write never overtakes the read.
    bytes[out++] = step.codePoint < 0x80 ? static_cast<char>(step.codePoint) : Cp1250OfCodePoint(step.codePoint);
    at += step.length;
  }
  bytes.resize(out);
  return true;
}

bool DecodeUtf16InPlace(std::string& bytes, std::size_t from, TextEncoding encoding) {
  // A piece at a time: the text of the bytes read is at most half as long as
  // they are, so the write never overtakes the read.
  constexpr std::size_t kPiece = 64 * 1024;
  TextDecoder decoder(encoding);
  std::string text;
  std::size_t out = 0;
  for (std::size_t at = from; at < bytes.size(); at += kPiece) {
    text.clear();
    if (!decoder.Append(std::string_view(bytes).substr(at, kPiece), text)) return false;
    bytes.replace(out, text.size(), text);
    out += text.size();
  }
  if (!decoder.Finish(text)) return false;
  bytes.resize(out);
  return true;
}

}  // namespace

std::string ReadWholeInput(GsfInput* input) {
  const gsf_off_t size = gsf_input_size(input);
  if (size > 0) CheckReadableSize("text file", static_cast<std::uint64_t>(size));
  std::string bytes(static_cast<std::size_t>(size < 0 ? 0 : size), '\0');
  if (size < 0 || gsf_input_seek(input, 0, G_SEEK_SET) ||
      (size > 0 && gsf_input_read(input, bytes.size(), reinterpret_cast<guint8*>(bytes.data())) == nullptr)) {
    throw WorkbookError(OpenFailure::NotReadable, "text file cannot be read");
  }
  return bytes;
}

std::string ReadInputHead(GsfInput* input, std::size_t limit) {
  const gsf_off_t size = gsf_input_size(input);
  if (size <= 0 || gsf_input_seek(input, 0, G_SEEK_SET)) return std::string();
  std::string bytes(static_cast<std::size_t>(size) < limit ? static_cast<std::size_t>(size) : limit, '\0');
  if (gsf_input_read(input, bytes.size(), reinterpret_cast<guint8*>(bytes.data())) == nullptr) return std::string();
  gsf_input_seek(input, 0, G_SEEK_SET);
  return bytes;
}

std::optional<ByteOrderMark> ByteOrderMarkOf(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return ByteOrderMark{TextEncoding::Utf8, 3};
  if (bytes.substr(0, 2) == "\xFF\xFE") return ByteOrderMark{TextEncoding::Utf16LE, 2};
  if (bytes.substr(0, 2) == "\xFE\xFF") return ByteOrderMark{TextEncoding::Utf16BE, 2};
  return std::nullopt;
}

bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    at = AsciiRunEnd(bytes, at);
    if (at == bytes.size()) break;
    const Utf8Step step = DecodeUtf8At(bytes, at);
    if (!step.valid) return false;
    at += step.length;
  }
  return true;
}

bool DecodeInPlace(std::string& bytes, std::size_t from, TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::Utf8: return DecodeUtf8InPlace(bytes, from);
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE: return DecodeUtf16InPlace(bytes, from, encoding);
    case TextEncoding::Cp1250: bytes.erase(0, from); return true;
  }
  return false;
}

bool TextDecoder::Append(std::string_view bytes, std::string& out) {
  if (!waiting_.empty()) {
    joined_.assign(waiting_);
    joined_.append(bytes);
    waiting_.clear();
    bytes = joined_;
  }
  switch (encoding_) {
    case TextEncoding::Utf8: return AppendUtf8(bytes, out);
    case TextEncoding::Utf16LE:
    case TextEncoding::Utf16BE: return AppendUtf16(bytes, out);
    case TextEncoding::Cp1250: out.append(bytes); return true;
  }
  return false;
}

bool TextDecoder::Finish(std::string& out) {
  if (waiting_.empty()) return true;
  if (encoding_ != TextEncoding::Utf8) {
    // half a unit is a cut file; a high surrogate without its pair is a lone one
    if (!lenient_ || waiting_.size() != 2) return false;
    out.push_back('?');
    waiting_.clear();
    return true;
  }
  // What waited is decoded as the end of the text.
  const std::string rest = std::move(waiting_);
  waiting_.clear();
  for (std::size_t at = 0; at < rest.size();) {
    const Utf8Step step = DecodeUtf8At(rest, at);
    if (!step.valid && !lenient_) return false;
    out.push_back(!step.valid ? '?' : step.codePoint < 0x80 ? static_cast<char>(step.codePoint)
                                                             : Cp1250OfCodePoint(step.codePoint));
    at += step.length;
  }
  return true;
}

bool TextDecoder::AppendUtf8(std::string_view bytes, std::string& out) {
  // A sequence never reads past a byte that is no continuation byte: only one
  // whose lead byte is among the last three may need the next piece.
  std::size_t end = bytes.size();
  for (std::size_t at = bytes.size() < 3 ? 0 : bytes.size() - 3; at < bytes.size(); ++at) {
    if (static_cast<unsigned char>(bytes[at]) >= 0xC0) end = at;
  }
  waiting_.assign(bytes.substr(end));
  const std::string_view whole = bytes.substr(0, end);
  for (std::size_t at = 0; at < whole.size();) {
    const std::size_t asciiEnd = AsciiRunEnd(whole, at);
    if (asciiEnd > at) {
      out.append(whole.substr(at, asciiEnd - at));
      at = asciiEnd;
      continue;
    }
    const Utf8Step step = DecodeUtf8At(whole, at);
    if (!step.valid && !lenient_) return false;
    out.push_back(!step.valid ? '?' : Cp1250OfCodePoint(step.codePoint));
    at += step.length;
  }
  return true;
}

bool TextDecoder::AppendUtf16(std::string_view bytes, std::string& out) {
  const bool littleEndian = encoding_ == TextEncoding::Utf16LE;
  units_.resize(bytes.size() / 2);
  for (std::size_t i = 0; i < units_.size(); ++i) {
    const auto a = static_cast<unsigned char>(bytes[2 * i]);
    const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
    units_[i] = static_cast<char16_t>(littleEndian ? (a | (b << 8)) : ((a << 8) | b));
  }
  std::size_t at = 0;
  while (at < units_.size()) {
    const Utf16Step step = DecodeUtf16At(units_, at);
    if (step.cut) break;  // its pair may come with the next piece
    if (!step.valid && !lenient_) return false;
    out.push_back(!step.valid ? '?' : Cp1250OfCodePoint(step.codePoint));
    at += step.length;
  }
  waiting_.assign(bytes.substr(2 * at));
  return true;
}

CellValue ValueOfUntypedText(std::string text) {
  if (text.empty()) return CellValue::Empty();
  if (HasIsoDateShape(text)) {
    std::string canonical = text.substr(0, 10) + "T" + (text.size() > 10 ? text.substr(11) : "00:00");
    if (canonical.size() == 16) canonical += ":00";
    const auto date = ParseIsoDateTime(canonical);
    // Before 1900 a spreadsheet has no serial for the date: it stays text.
    if (date && date->year >= 1900) {
      return CellValue::OfNumber(SerialOfDateTime(date->year, date->month, date->day, date->secondsOfDay,
                                                  DateSystem::Base1900),
                                 NumberStyle::DateTime);
    }
  }
  return CellValue::OfText(std::move(text));
}

}  // namespace ratemover::spreadsheet
