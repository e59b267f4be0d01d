#pragma once
// The record layer of a binary workbook, one for every BIFF version: the
// stream's bytes read as far as the reader needs them, the cursor that walks
// its records (type, length, data), and, for BIFF8, a record read together
// with the CONTINUE records that go on with its data.
#include <gsf/gsf-input.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/little_endian.h"

namespace ratemover::spreadsheet::biff {

inline constexpr std::uint16_t kContinue = 0x003C;

// The longest record data of a BIFF5 or BIFF8 workbook; longer data goes on
// in CONTINUE records.
inline constexpr std::uint16_t kMaxRecordLength = 8224;

// A record type as it reads in a message: "0x00FC".
std::string Hex16(std::uint16_t value);

// A part of the workbook stream, from a start offset on, read from the
// compound file in large blocks as far as the reader needs it: the buffer
// grows with the bytes really read, never by the size that the directory entry
// claims. The globals and the active sheet are two such parts, so that the
// sheets between them are never read. The short file of a version before
// Excel 5 is held in memory whole instead.
class Stream {
 public:
  Stream(GsfInput* input, std::uint64_t start);
  // A stream whose bytes are all in memory already, from offset 0.
  Stream(const std::uint8_t* bytes, std::uint64_t size) : size_(size), bytes_(bytes), length_(size), ready_(size) {}
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  std::uint64_t Size() const { return size_; }

  // Makes the bytes from the start to end available; false when the stream is
  // shorter or a read fails.
  bool Ensure(std::uint64_t end) { return Ready(end) || Grow(end); }
  // Whether the bytes from the start to end are available already.
  bool Ready(std::uint64_t end) const { return end <= ready_; }

  // A byte made available by Ensure, by its offset in the whole stream.
  const std::uint8_t* At(std::uint64_t offset) const { return bytes_ + (offset - start_); }

 private:
  bool Grow(std::uint64_t end);

  GsfInput* input_ = nullptr;
  std::uint64_t start_ = 0;
  std::uint64_t size_ = 0;
  const std::uint8_t* bytes_ = nullptr;  // the buffer's, or the bytes in memory
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::uint64_t capacity_ = 0;
  std::uint64_t length_ = 0;
  std::uint64_t ready_ = 0;  // the end of the bytes made available: start_ + length_
};

// Whether the bytes from `from` to `to`, which Ensure has made available, are
// all zero: the padding that may follow the last EOF of a stream.
bool IsPadding(const Stream& stream, std::uint64_t from, std::uint64_t to);

struct Record {
  std::uint16_t type = 0;
  std::uint16_t length = 0;
  std::uint64_t offset = 0;  // of the data, after the four header bytes
};

// Walks the records of the stream from an offset.
class RecordCursor {
 public:
  // A record longer than maxLength is damage.
  RecordCursor(Stream& stream, std::uint64_t offset, std::uint16_t maxLength = kMaxRecordLength)
      : stream_(stream), next_(offset), maxLength_(maxLength) {}

  enum class Step { Record, End, Broken };

  // The next record: End exactly at the end of the stream, Broken when a
  // header or the data runs past it or the record is too long.
  Step Next(Record& record) {
    // mostly the header has been read already, and the stream goes on
    if (!stream_.Ready(next_ + 4)) {
      if (next_ == stream_.Size()) {
        // the stream may still have been shorter than claimed
        return stream_.Ensure(next_) ? Step::End : Step::Broken;
      }
      if (!stream_.Ensure(next_ + 4)) return Step::Broken;
    }
    const std::uint8_t* header = stream_.At(next_);
    record.type = spreadsheet::U16(header);
    record.length = spreadsheet::U16(header + 2);
    record.offset = next_ + 4;
    if (record.length > maxLength_) return Step::Broken;
    if (!stream_.Ensure(record.offset + record.length)) return Step::Broken;
    next_ = record.offset + record.length;
    return Step::Record;
  }

  // The type of the record that Next would give, if its header is there.
  bool PeekType(std::uint16_t& type);

  const std::uint8_t* Data(const Record& record) const { return stream_.At(record.offset); }

  // Where the next record starts: after the last one given, the end of what
  // the records have covered.
  std::uint64_t Position() const { return next_; }

  // The next record of a part that must go on to its EOF; damage when the
  // stream ends or a record runs past it.
  Record Expect(std::string_view part) {
    const std::uint64_t at = next_;
    Record record;
    const Step step = Next(record);
    if (step != Step::Record) ThrowNotARecord(part, at, step);
    return record;
  }

 private:
  [[noreturn]] static void ThrowNotARecord(std::string_view part, std::uint64_t at, Step step);

  Stream& stream_;
  std::uint64_t next_;
  std::uint16_t maxLength_;
};

// Characters of one byte each (the code points U+0000 to U+00FF) appended as
// Windows-1250.
void AppendLatin1(std::string& out, const std::uint8_t* p, std::size_t count);

// `count` little-endian UTF-16 code units from p appended as Windows-1250, as
// one whole text.
void AppendUtf16(std::string& out, const std::uint8_t* p, std::size_t count);

// A record with the CONTINUE records that follow it, read as one run of
// bytes. Strings split at a boundary carry a fresh option byte in the next
// piece, which tells whether the rest of their characters are one byte or two.
class Pieces {
 public:
  // Pieces are kept as stream offsets: the stream's buffer may move as it
  // grows.
  struct Piece {
    std::uint64_t offset;
    std::size_t size;
  };
  struct Position {
    std::size_t piece = 0;
    std::size_t offset = 0;
  };

  explicit Pieces(const Stream& stream) : stream_(stream) {}
  void Clear() { pieces_.clear(); }
  void Add(const Record& record) { pieces_.push_back({record.offset, record.length}); }
  bool Empty() const { return pieces_.empty(); }

  class Reader {
   public:
    Reader(const Pieces& pieces, Position at) : stream_(pieces.stream_), pieces_(pieces.pieces_), at_(at) {}
    Position At() const { return at_; }
    // Whether every byte of every piece has been read.
    bool AtEnd() { return !Settle(); }

    bool Byte(std::uint8_t& value) {
      if (!Settle()) return false;
      value = *stream_.At(pieces_[at_.piece].offset + at_.offset++);
      return true;
    }
    // Numbers whose bytes a boundary may split.
    bool U16(std::uint16_t& value) { return Number<2>(value, spreadsheet::U16); }
    bool U32(std::uint32_t& value) { return Number<4>(value, spreadsheet::U32); }
    // Skips bytes that carry no option byte at a boundary (rich-text runs,
    // phonetic data).
    bool Skip(std::uint64_t count) {
      while (count > 0) {
        if (!Settle()) return false;
        const std::size_t available = pieces_[at_.piece].size - at_.offset;
        const std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(count, available));
        at_.offset += step;
        count -= step;
      }
      return true;
    }
    // Reads count characters; out may be null to skip them.
    bool Characters(std::uint32_t count, bool wide, std::string* out);

   private:
    // A number of `size` little-endian bytes, read in one go where no
    // boundary splits them.
    template <std::size_t size, typename Value>
    bool Number(Value& value, Value (*decode)(const std::uint8_t*)) {
      if (!Settle()) return false;
      if (const std::uint8_t* p = Whole(size)) {
        value = decode(p);
        return true;
      }
      std::uint8_t bytes[size];
      if (!Bytes(bytes, size)) return false;
      value = decode(bytes);
      return true;
    }
    // The characters' runs between boundaries, each given to take(bytes,
    // characters, wide).
    template <typename Take>
    bool WalkCharacters(std::uint32_t count, bool wide, Take take);
    // The next count bytes, taken, when the current piece holds them all;
    // null, and nothing taken, when a boundary splits them.
    const std::uint8_t* Whole(std::size_t count) {
      const Piece& piece = pieces_[at_.piece];
      if (piece.size - at_.offset < count) return nullptr;
      const std::uint8_t* p = stream_.At(piece.offset + at_.offset);
      at_.offset += count;
      return p;
    }
    bool Bytes(std::uint8_t* bytes, std::size_t count);
    // Moves past exhausted pieces; false at the end of the last.
    bool Settle() { return at_.offset != pieces_[at_.piece].size || SettleAtBoundary(); }
    bool SettleAtBoundary();

    const Stream& stream_;
    const std::vector<Piece>& pieces_;
    Position at_;
  };

  // One Unicode string with its 16-bit length, option byte and optional rich
  // text and phonetic parts (the form of the shared strings and of STRING).
  static bool ReadUnicodeString(Reader& reader, std::string* out);

 private:
  const Stream& stream_;
  std::vector<Piece> pieces_;
};

// A BIFF8 string inside one record: 16-bit (or 8-bit) length, option byte,
// characters. False when the characters run past the record.
bool ReadRecordUnicodeString(const std::uint8_t* p, std::size_t size, bool shortLength, std::string& out);

}  // namespace ratemover::spreadsheet::biff
