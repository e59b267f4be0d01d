#pragma once
// Reading one member of a ZIP package in pieces, for the parts that are not XML.
#include <cstddef>
#include <cstdint>
#include <string>

typedef struct _GsfInfile GsfInfile;
typedef struct _GsfInput GsfInput;

namespace ratemover::spreadsheet {

// One member of a ZIP package read from its first byte to its last, in pieces.
// The declared size and CRC-32 (from the central directory) are checked when the
// end is reached; Finish() reads what is left, without keeping it, and checks.
// Throws WorkbookError (Damaged, TooLarge) on any failure.
class ZipPartReader {
 public:
  ZipPartReader(GsfInfile* zip, const std::string& partName);  // throws WorkbookError(Damaged) when the part is missing
  ~ZipPartReader();
  ZipPartReader(const ZipPartReader&) = delete;
  ZipPartReader& operator=(const ZipPartReader&) = delete;
  std::size_t Read(std::uint8_t* buffer, std::size_t size);  // 0 at the end of the part (checks done then)
  void Finish();

 private:
  std::string partName_;
  GsfInput* member_ = nullptr;
};

}  // namespace ratemover::spreadsheet
