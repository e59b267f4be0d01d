// A ZIP member read in pieces through libgsf. The size and CRC-32 checks
// against the central directory are replaced by the package's checked reader;
// this one checks only the declared size bound and that every byte is there.
#include "spreadsheet/zip_part.h"

#include <gsf/gsf.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "spreadsheet/open_failure.h"

namespace ratemover::spreadsheet {
namespace {

// A part larger than this is not read at all.
constexpr std::uint64_t kMaxPartBytes = 256u << 20;

// The member at a part name ("xl/worksheets/sheet1.bin"), folder by folder.
GsfInput* OpenMember(GsfInfile* zip, const std::string& partName) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= partName.size()) {
    const std::size_t slash = std::min(partName.find('/', start), partName.size());
    names.push_back(partName.substr(start, slash - start));
    start = slash + 1;
  }
  std::vector<const char*> path;
  for (const auto& name : names) {
    if (name.empty()) return nullptr;
    path.push_back(name.c_str());
  }
  path.push_back(nullptr);
  return gsf_infile_child_by_aname(zip, path.data());
}

}  // namespace

ZipPartReader::ZipPartReader(GsfInfile* zip, const std::string& partName) : partName_(partName) {
  member_ = zip != nullptr ? OpenMember(zip, partName) : nullptr;
  if (member_ == nullptr) ThrowDamaged(partName + ": part missing");
  const gsf_off_t size = gsf_input_size(member_);
  if (size < 0 || static_cast<std::uint64_t>(size) > kMaxPartBytes) {
    g_object_unref(member_);
    member_ = nullptr;
    throw WorkbookError(OpenFailure::TooLarge, partName + ": part declares more than 256 MiB");
  }
}

ZipPartReader::~ZipPartReader() {
  if (member_ != nullptr) g_object_unref(member_);
}

std::size_t ZipPartReader::Read(std::uint8_t* buffer, std::size_t size) {
  const gsf_off_t remaining = gsf_input_remaining(member_);
  if (remaining <= 0 || size == 0) return 0;
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(remaining), size));
  if (gsf_input_read(member_, n, buffer) == nullptr) ThrowDamaged(partName_ + ": part breaks off");
  return n;
}

void ZipPartReader::Finish() {
  std::uint8_t scratch[64 * 1024];
  while (Read(scratch, sizeof scratch) != 0) {
  }
}

}  // namespace ratemover::spreadsheet
