#include "spreadsheet/zip_part.h"

#include <gsf/gsf-infile.h>
#include <gsf/gsf-input.h>
#include <gsf/gsf-utils.h>
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "spreadsheet/little_endian.h"
#include "spreadsheet/open_failure.h"
#include "spreadsheet/sheet_limits.h"

namespace ratemover::spreadsheet {
namespace {

constexpr std::size_t kChunk = 64 * 1024;
// The central directory is read whole; a package with a larger one is refused.
constexpr std::uint64_t kMaxCentralDirectory = 16u << 20;
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflated = 8;
constexpr std::uint16_t kFlagEncrypted = 1;
constexpr std::uint32_t kUnknown32 = 0xFFFFFFFFu;  // the value is in the ZIP64 extra field

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

[[noreturn]] void DirectoryDamaged(const char* what) { ThrowDamaged(std::string("ZIP central directory: ") + what); }

// The sizes and offset that the 32-bit fields leave to the ZIP64 extra field,
// in the order the format gives them.
void ApplyZip64Extra(const std::uint8_t* extra, std::size_t length, ZipEntry& entry) {
  std::size_t pos = 0;
  while (length - pos >= 4) {
    const std::uint16_t id = U16(extra + pos);
    const std::size_t size = U16(extra + pos + 2);
    if (length - pos - 4 < size) DirectoryDamaged("extra field runs past its entry");
    if (id == 0x0001) {
      const std::uint8_t* field = extra + pos + 4;
      std::size_t left = size;
      for (std::uint64_t* value : {&entry.size, &entry.compressedSize, &entry.localHeaderOffset}) {
        if (*value != kUnknown32) continue;
        if (left < 8) DirectoryDamaged("ZIP64 extra field too short");
        *value = U64(field);
        field += 8;
        left -= 8;
      }
      return;
    }
    pos += 4 + size;
  }
}

std::vector<ZipEntry> ReadCentralDirectory(GsfInput* source) {
  const gsf_off_t sizeSigned = gsf_input_size(source);
  if (sizeSigned < 22) DirectoryDamaged("file too short");
  const auto size = static_cast<std::uint64_t>(sizeSigned);
  const std::uint64_t tailLen = std::min<std::uint64_t>(size, 22 + 0xFFFF + 20);
  std::vector<std::uint8_t> tail;
  if (!ReadAt(source, size - tailLen, static_cast<std::size_t>(tailLen), tail)) DirectoryDamaged("not readable");
  // The end-of-central-directory record, searched from the end (a comment may follow it).
  std::size_t eocd = tail.size();
  for (std::size_t i = tail.size() - 22 + 1; i-- > 0;) {
    if (U32(&tail[i]) == 0x06054b50u) {
      eocd = i;
      break;
    }
  }
  if (eocd == tail.size()) DirectoryDamaged("end record missing");
  std::uint64_t count = U16(&tail[eocd + 10]);
  std::uint64_t cdSize = U32(&tail[eocd + 12]);
  std::uint64_t cdOffset = U32(&tail[eocd + 16]);
  if (count == 0xFFFF || cdSize == kUnknown32 || cdOffset == kUnknown32) {
    // ZIP64: the locator just before the record points at the ZIP64 record.
    if (eocd < 20 || U32(&tail[eocd - 20]) != 0x07064b50u) DirectoryDamaged("ZIP64 locator missing");
    const std::uint64_t zip64Offset = U64(&tail[eocd - 20 + 8]);
    std::vector<std::uint8_t> record;
    if (zip64Offset > size || size - zip64Offset < 56 || !ReadAt(source, zip64Offset, 56, record) ||
        U32(record.data()) != 0x06064b50u) {
      DirectoryDamaged("ZIP64 end record missing");
    }
    count = U64(&record[32]);
    cdSize = U64(&record[40]);
    cdOffset = U64(&record[48]);
  }
  if (cdSize > kMaxCentralDirectory) DirectoryDamaged("too large");
  if (cdOffset > size || cdSize > size - cdOffset) DirectoryDamaged("runs past the end of the file");
  std::vector<std::uint8_t> cd;
  if (!ReadAt(source, cdOffset, static_cast<std::size_t>(cdSize), cd)) DirectoryDamaged("not readable");
  std::vector<ZipEntry> entries;
  std::size_t pos = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (cd.size() - pos < 46 || U32(&cd[pos]) != 0x02014b50u) DirectoryDamaged("entry broken");
    const std::size_t nameLen = U16(&cd[pos + 28]);
    const std::size_t extraLen = U16(&cd[pos + 30]);
    const std::size_t commentLen = U16(&cd[pos + 32]);
    if (cd.size() - pos - 46 < nameLen + extraLen + commentLen) DirectoryDamaged("entry broken");
    ZipEntry entry;
    entry.flags = U16(&cd[pos + 8]);
    entry.method = U16(&cd[pos + 10]);
    entry.crc = U32(&cd[pos + 16]);
    entry.compressedSize = U32(&cd[pos + 20]);
    entry.size = U32(&cd[pos + 24]);
    entry.localHeaderOffset = U32(&cd[pos + 42]);
    entry.name.assign(reinterpret_cast<const char*>(&cd[pos + 46]), nameLen);
    // Some Windows zip tools separate folders with "\" (xl\workbook.xml);
    // the spreadsheet application takes it as "/", and so do we.
    std::replace(entry.name.begin(), entry.name.end(), '\\', '/');
    ApplyZip64Extra(&cd[pos + 46 + nameLen], extraLen, entry);
    entries.push_back(std::move(entry));
    pos += 46 + nameLen + extraLen + commentLen;
  }
  // Two members of one name: which one a reader sees would be a guess.
  std::vector<const ZipEntry*> byName;
  byName.reserve(entries.size());
  for (const auto& e : entries) byName.push_back(&e);
  std::sort(byName.begin(), byName.end(), [](const ZipEntry* a, const ZipEntry* b) { return a->name < b->name; });
  for (std::size_t i = 1; i < byName.size(); ++i) {
    if (byName[i]->name == byName[i - 1]->name) {
      const_cast<ZipEntry*>(byName[i])->duplicate = const_cast<ZipEntry*>(byName[i - 1])->duplicate = true;
    }
  }
  return entries;
}

}  // namespace

ZipDirectory::ZipDirectory(GsfInfile* zip) {
  if (zip != nullptr && g_object_class_find_property(G_OBJECT_GET_CLASS(zip), "source") != nullptr) {
    GsfInput* source = nullptr;
    g_object_get(zip, "source", &source, nullptr);
    source_ = GObjectRef<GsfInput>(source);
  }
  if (!source_) DirectoryDamaged("no archive behind the package");
  entries_ = ReadCentralDirectory(source_.get());
}

ZipDirectory::~ZipDirectory() = default;

const ZipEntry* ZipDirectory::Find(const std::string& partName) const {
  if (partName.empty() || partName.back() == '/') return nullptr;
  for (const auto& e : entries_) {
    if (e.name == partName) return &e;
  }
  for (const auto& e : entries_) {
    if (g_ascii_strcasecmp(e.name.c_str(), partName.c_str()) == 0 && e.name.size() == partName.size()) return &e;
  }
  return nullptr;
}

std::string ZipDirectory::Head(const std::string& partName, std::size_t limit) const {
  if (Find(partName) == nullptr) return std::string();
  try {
    ZipPartReader member(*this, partName);
    std::string bytes(limit, '\0');
    std::size_t length = 0;
    while (length < limit) {
      const std::size_t n = member.Read(reinterpret_cast<std::uint8_t*>(bytes.data()) + length, limit - length);
      if (n == 0) break;
      length += n;
    }
    bytes.resize(length);
    return bytes;
  } catch (const WorkbookError&) {
    return std::string();
  }
}

struct ZipPartReader::Impl {
  GsfInput* source = nullptr;
  ZipEntry entry;
  std::uint64_t rawPosition = 0;  // where the next compressed bytes are in the archive
  std::uint64_t rawLeft = 0;      // compressed bytes not yet taken
  std::uint64_t produced = 0;     // bytes of the part handed out so far
  // ISA-L inflates, in pieces; the CRC-32 comes from libdeflate, which takes
  // it many bytes at a time (carry-less multiplication where the processor has it).
  std::uint32_t crc = 0;
  bool streamEnded = false;
  bool done = false;
  std::unique_ptr<inflate_state> inflater;  // for a deflated member
  std::vector<std::uint8_t> input;

  [[noreturn]] void Damaged(const char* check) const { ThrowDamaged(entry.name + ": " + check); }

  // Up to n compressed bytes from the archive; they stay valid until the next call.
  const guint8* TakeRaw(std::size_t n) {
    if (gsf_input_seek(source, static_cast<gsf_off_t>(rawPosition), G_SEEK_SET)) Damaged("compressed data not readable");
    const guint8* data = gsf_input_read(source, n, nullptr);
    if (data == nullptr) Damaged("compressed data not readable");
    rawPosition += n;
    rawLeft -= n;
    return data;
  }

  // The checks at the end of the part.
  void CheckWhole() {
    if (produced != entry.size) Damaged("shorter than its declared size");
    if (crc != entry.crc) Damaged("CRC-32 differs");
    done = true;
  }
};

ZipPartReader::ZipPartReader(GsfInfile* zip, const std::string& partName)
    : ownDirectory_(std::make_unique<ZipDirectory>(zip)) {
  Open(*ownDirectory_, partName);
}

ZipPartReader::ZipPartReader(const ZipDirectory& directory, const std::string& partName) { Open(directory, partName); }

ZipPartReader::~ZipPartReader() = default;

void ZipPartReader::Open(const ZipDirectory& directory, const std::string& partName) {
  const ZipEntry* entry = directory.Find(partName);
  if (entry == nullptr) ThrowDamaged(partName + ": part missing");
  impl_ = std::make_unique<Impl>();
  Impl& part = *impl_;
  part.source = directory.Source();
  part.entry = *entry;
  if (entry->duplicate) part.Damaged("part named twice in the archive");
  if (entry->flags & kFlagEncrypted) throw WorkbookError(OpenFailure::Encrypted, entry->name);
  CheckReadableSize(entry->name, entry->size);
  if (entry->method != kMethodStored && entry->method != kMethodDeflated) part.Damaged("compression method unknown");
  if (entry->method == kMethodStored && entry->compressedSize != entry->size) part.Damaged("stored size differs");

  // The local header comes first; its own sizes may be left blank (written
  // after the data), so those of the central directory count.
  std::vector<std::uint8_t> local;
  if (!ReadAt(part.source, entry->localHeaderOffset, 30, local) || U32(local.data()) != 0x04034b50u) {
    part.Damaged("local header missing");
  }
  const std::uint64_t dataStart = entry->localHeaderOffset + 30 + U16(&local[26]) + U16(&local[28]);
  const auto archiveSize = static_cast<std::uint64_t>(gsf_input_size(part.source));
  if (dataStart > archiveSize || entry->compressedSize > archiveSize - dataStart) {
    part.Damaged("compressed data runs past the end of the file");
  }
  part.rawPosition = dataStart;
  part.rawLeft = entry->compressedSize;
  if (entry->method == kMethodDeflated) {
    part.inflater = std::make_unique<inflate_state>();
    isal_inflate_init(part.inflater.get());
    part.inflater->crc_flag = ISAL_DEFLATE;  // a raw stream: the CRC-32 is taken apart
  }
}

const std::string& ZipPartReader::Name() const { return impl_->entry.name; }
std::uint64_t ZipPartReader::DeclaredSize() const { return impl_->entry.size; }

std::size_t ZipPartReader::Read(std::uint8_t* buffer, std::size_t size) {
  Impl& part = *impl_;
  if (part.done || size == 0) return 0;
  if (part.entry.method == kMethodStored) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, part.rawLeft));
    if (n > 0) {
      std::memcpy(buffer, part.TakeRaw(n), n);
      part.crc = libdeflate_crc32(part.crc, buffer, n);
      part.produced += n;
    }
    if (part.rawLeft == 0) part.CheckWhole();
    return n;
  }

  // One byte more than the part declares is room enough to see that it inflates
  // to more, and no more is ever inflated.
  const std::uint64_t room = part.entry.size - part.produced + 1;
  inflate_state& inflater = *part.inflater;
  inflater.next_out = buffer;
  inflater.avail_out = static_cast<std::uint32_t>(std::min<std::uint64_t>({size, room, kChunk}));
  const std::uint32_t asked = inflater.avail_out;
  while (inflater.avail_out == asked && !part.streamEnded) {
    if (inflater.avail_in == 0 && part.rawLeft > 0) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, part.rawLeft));
      // Copied: the archive's own buffer lasts only until its next read.
      const guint8* raw = part.TakeRaw(n);
      part.input.assign(raw, raw + n);
      inflater.next_in = part.input.data();
      inflater.avail_in = static_cast<std::uint32_t>(n);
    }
    // With all the compressed bytes taken, the inflater may still hold output
    // for this piece: only a call that gives nothing more shows the end missing.
    const std::uint32_t inBefore = inflater.avail_in;
    if (isal_inflate(&inflater) != ISAL_DECOMP_OK) part.Damaged("deflate stream broken");
    if (inflater.block_state == ISAL_BLOCK_FINISH) {
      part.streamEnded = true;
    } else if (inflater.avail_out == asked && inflater.avail_in == inBefore) {
      part.Damaged(inflater.avail_in == 0 ? "compressed data ends early" : "deflate stream broken");
    }
  }
  const std::size_t n = asked - inflater.avail_out;
  part.produced += n;
  if (part.produced > part.entry.size) part.Damaged("inflates to more than its declared size");
  part.crc = libdeflate_crc32(part.crc, buffer, n);
  if (part.streamEnded) part.CheckWhole();
  return n;
}

void ZipPartReader::Finish() {
  std::vector<std::uint8_t> scratch(kChunk);
  while (Read(scratch.data(), scratch.size()) > 0) {
  }
}

}  // namespace ratemover::spreadsheet
