#pragma once
// The members of a ZIP package (an .xlsx, .xlsb or .ods), read straight from
// the archive with the sizes and CRC-32 of its central directory: a member
// counts only when it inflated to exactly its declared size with the declared
// CRC-32.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "spreadsheet/gobject_ref.h"

typedef struct _GsfInput GsfInput;
typedef struct _GsfInfile GsfInfile;

namespace ratemover::spreadsheet {

// One member as the central directory records it.
struct ZipEntry {
  std::string name;
  std::uint32_t crc = 0;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint64_t compressedSize = 0;
  std::uint64_t size = 0;
  std::uint64_t localHeaderOffset = 0;
  bool duplicate = false;  // another member has the same name
};

// The central directory of a ZIP package.
class ZipDirectory {
 public:
  // Throws WorkbookError(Damaged) when the central directory cannot be read.
  explicit ZipDirectory(GsfInfile* zip);
  ~ZipDirectory();
  ZipDirectory(const ZipDirectory&) = delete;
  ZipDirectory& operator=(const ZipDirectory&) = delete;

  // The member of this name (no leading "/"): spelled exactly, else without
  // regard to ASCII letter case; nullptr when there is none. A folder entry is
  // no member. A "\" in the archive's names counts as "/".
  const ZipEntry* Find(const std::string& partName) const;

  // The beginning of a small member (at most `limit` bytes), for recognising
  // the package; empty when the member is missing or unreadable (the reader
  // that opens the package checks it whole).
  std::string Head(const std::string& partName, std::size_t limit) const;

  // The archive file itself.
  GsfInput* Source() const { return source_.get(); }

 private:
  GObjectRef<GsfInput> source_;
  std::vector<ZipEntry> entries_;
};

// One member of a ZIP package read from its first byte to its last, in pieces.
// The declared size and CRC-32 (from the central directory) are checked when the
// end is reached; Finish() reads what is left, without keeping it, and checks.
// Throws WorkbookError (Damaged, TooLarge) on any failure.
class ZipPartReader {
 public:
  ZipPartReader(GsfInfile* zip, const std::string& partName);  // throws WorkbookError(Damaged) when the part is missing
  // The same, for a member of a directory already read (which must outlive the reader).
  ZipPartReader(const ZipDirectory& directory, const std::string& partName);
  ~ZipPartReader();
  ZipPartReader(const ZipPartReader&) = delete;
  ZipPartReader& operator=(const ZipPartReader&) = delete;

  std::size_t Read(std::uint8_t* buffer, std::size_t size);  // 0 at the end of the part (checks done then)
  void Finish();

  // The member's name as the archive spells it, and its declared size.
  const std::string& Name() const;
  std::uint64_t DeclaredSize() const;

 private:
  struct Impl;
  std::unique_ptr<ZipDirectory> ownDirectory_;  // when built from the package alone
  std::unique_ptr<Impl> impl_;
  void Open(const ZipDirectory& directory, const std::string& partName);
};

}  // namespace ratemover::spreadsheet
