#include "spreadsheet/biff_records.h"

#include <algorithm>
#include <cstring>

#include "common/cp1250.h"
#include "spreadsheet/little_endian.h"
#include "spreadsheet/open_failure.h"

namespace ratemover::spreadsheet::biff {

namespace {

char ByteOf(char32_t codePoint) { return codePoint < 0x80 ? static_cast<char>(codePoint) : Cp1250OfCodePoint(codePoint); }

// Little-endian UTF-16 code units appended as Windows-1250, by the one rule
// for UTF-16 text; a pair that a CONTINUE boundary cuts is joined, and what
// waits for its pair is let out when the string ends or turns to single bytes.
class Utf16Sink {
 public:
  explicit Utf16Sink(std::string& out) : out_(out) {}
  ~Utf16Sink() { Flush(); }
  Utf16Sink(const Utf16Sink&) = delete;
  Utf16Sink& operator=(const Utf16Sink&) = delete;

  // `count` little-endian code units from p.
  void Units(const std::uint8_t* p, std::size_t count) { runs_.AppendLittleEndian(p, count, out_); }
  void Flush() { runs_.Finish(out_); }

 private:
  std::string& out_;
  Cp1250FromUtf16Runs runs_;
};

}  // namespace

std::string Hex16(std::uint16_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = "0x";
  for (int shift = 12; shift >= 0; shift -= 4) text.push_back(kDigits[(value >> shift) & 0x0F]);
  return text;
}

Stream::Stream(GsfInput* input, std::uint64_t start) : input_(input), start_(start), ready_(start) {
  const gsf_off_t size = gsf_input_size(input);
  size_ = size > 0 ? static_cast<std::uint64_t>(size) : 0;
}

bool Stream::Grow(std::uint64_t end) {
  if (end > size_ || end < start_) return false;
  constexpr std::uint64_t kBlock = 1024 * 1024;
  const std::uint64_t want = std::min<std::uint64_t>(std::max<std::uint64_t>(end - start_, length_ + kBlock),
                                                     size_ - start_);
  if (want > capacity_) {
    const std::uint64_t capacity = std::min<std::uint64_t>(std::max<std::uint64_t>(want, 2 * capacity_), size_ - start_);
    std::unique_ptr<std::uint8_t[]> grown(new std::uint8_t[capacity]);
    if (length_ > 0) std::memcpy(grown.get(), bytes_, length_);
    buffer_ = std::move(grown);
    bytes_ = buffer_.get();
    capacity_ = capacity;
  }
  const std::uint64_t count = want - length_;
  if (gsf_input_seek(input_, static_cast<gsf_off_t>(start_ + length_), G_SEEK_SET) ||
      gsf_input_read(input_, static_cast<size_t>(count), buffer_.get() + length_) == nullptr) {
    size_ = start_ + length_;  // the stream breaks off here
    return false;
  }
  length_ = want;
  ready_ = start_ + length_;
  return true;
}

bool IsPadding(const Stream& stream, std::uint64_t from, std::uint64_t to) {
  for (std::uint64_t at = from; at < to; ++at) {
    if (*stream.At(at) != 0) return false;
  }
  return true;
}

bool RecordCursor::PeekType(std::uint16_t& type) {
  if (!stream_.Ensure(next_ + 4)) return false;
  type = U16(stream_.At(next_));
  return true;
}

void RecordCursor::ThrowNotARecord(std::string_view part, std::uint64_t at, Step step) {
  if (step == Step::End) {
    ThrowDamaged(std::string(part) + " ends at offset " + std::to_string(at) + " without its EOF record");
  }
  ThrowDamaged(std::string(part) + ": the record at offset " + std::to_string(at) +
               " runs past the end of the workbook stream or is longer than a record can be");
}

void AppendLatin1(std::string& out, const std::uint8_t* p, std::size_t count) {
  const std::size_t base = out.size();
  out.resize(base + count);
  for (std::size_t i = 0; i < count; ++i) out[base + i] = ByteOf(p[i]);
}

void AppendUtf16(std::string& out, const std::uint8_t* p, std::size_t count) { Utf16Sink(out).Units(p, count); }

template <typename Take>
bool Pieces::Reader::WalkCharacters(std::uint32_t count, bool wide, Take take) {
  while (count > 0) {
    if (at_.offset == pieces_[at_.piece].size) {
      // a boundary inside the characters: the next piece starts with an
      // option byte
      if (at_.piece + 1 >= pieces_.size()) return false;
      ++at_.piece;
      at_.offset = 0;
      if (pieces_[at_.piece].size == 0) return false;
      const std::uint8_t options = *stream_.At(pieces_[at_.piece].offset + at_.offset++);
      if ((options & 0xFE) != 0) return false;  // only the width bit is defined here
      wide = (options & 0x01) != 0;
    }
    const Piece& piece = pieces_[at_.piece];
    const std::size_t available = piece.size - at_.offset;
    const std::size_t width = wide ? 2 : 1;
    const std::size_t run = std::min<std::size_t>(count, available / width);
    if (run == 0) return false;  // half a character before the boundary
    take(stream_.At(piece.offset + at_.offset), run, wide);
    at_.offset += run * width;
    count -= static_cast<std::uint32_t>(run);
    if (count > 0 && at_.offset != piece.size) return false;
  }
  return true;
}

bool Pieces::Reader::Characters(std::uint32_t count, bool wide, std::string* out) {
  if (out == nullptr) return WalkCharacters(count, wide, [](const std::uint8_t*, std::size_t, bool) {});
  Utf16Sink sink(*out);
  return WalkCharacters(count, wide, [&](const std::uint8_t* p, std::size_t run, bool runWide) {
    if (runWide) {
      sink.Units(p, run);
    } else {
      sink.Flush();
      AppendLatin1(*out, p, run);
    }
  });
}

bool Pieces::Reader::Bytes(std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (!Byte(bytes[i])) return false;
  }
  return true;
}

bool Pieces::Reader::SettleAtBoundary() {
  while (at_.offset == pieces_[at_.piece].size) {
    if (at_.piece + 1 >= pieces_.size()) return false;
    ++at_.piece;
    at_.offset = 0;
  }
  return true;
}

bool Pieces::ReadUnicodeString(Reader& reader, std::string* out) {
  std::uint16_t length;
  std::uint8_t options;
  if (!reader.U16(length) || !reader.Byte(options)) return false;
  if ((options & 0xF2) != 0) return false;  // bits that no writer sets: not a string's start
  std::uint16_t runs = 0;
  std::uint32_t phonetic = 0;
  if ((options & 0x08) != 0 && !reader.U16(runs)) return false;
  if ((options & 0x04) != 0 && !reader.U32(phonetic)) return false;
  if (!reader.Characters(length, (options & 0x01) != 0, out)) return false;
  return reader.Skip(4ull * runs) && reader.Skip(phonetic);
}

bool ReadRecordUnicodeString(const std::uint8_t* p, std::size_t size, bool shortLength, std::string& out) {
  std::size_t at = 0;
  std::uint32_t length;
  if (shortLength) {
    if (size < 1) return false;
    length = p[0];
    at = 1;
  } else {
    if (size < 2) return false;
    length = U16(p);
    at = 2;
  }
  if (at >= size) return length == 0;
  const std::uint8_t options = p[at++];
  if ((options & 0x08) != 0) at += 2;
  if ((options & 0x04) != 0) at += 4;
  const bool wide = (options & 0x01) != 0;
  const std::size_t bytes = static_cast<std::size_t>(length) * (wide ? 2 : 1);
  if (at > size || size - at < bytes) return false;
  if (wide) {
    AppendUtf16(out, p + at, length);
  } else {
    AppendLatin1(out, p + at, length);
  }
  return true;
}

}  // namespace ratemover::spreadsheet::biff
