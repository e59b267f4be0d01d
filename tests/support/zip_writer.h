#pragma once
// A small ZIP writer for the packages that tests and fuzz targets build: each
// member stored or deflated, with its CRC-32 (or, on request, a wrong one).
#include <zlib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ratemover::testsupport {

struct ZipMember {
  std::string name;
  std::string data;
  bool stored = false;    // false: deflated
  bool wrongCrc = false;  // the recorded CRC-32 does not match the data
  // The uncompressed size recorded in both headers, when it is not the data's own.
  std::optional<std::uint32_t> declaredSize = std::nullopt;
};

inline std::string Le16(unsigned v) { return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}; }
inline std::string Le32(std::uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }

inline std::string RawDeflate(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

inline std::string ZipOf(const std::vector<ZipMember>& members) {
  std::string file, directory;
  for (const auto& m : members) {
    const std::string body = m.stored ? m.data : RawDeflate(m.data);
    auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(m.data.data()), static_cast<uInt>(m.data.size())));
    if (m.wrongCrc) crc ^= 0x1234;
    const std::string common = Le16(20) + Le16(0) + Le16(m.stored ? 0 : 8) + Le16(0) + Le16(0x21) + Le32(crc) +
                               Le32(static_cast<std::uint32_t>(body.size())) +
                               Le32(m.declaredSize.value_or(static_cast<std::uint32_t>(m.data.size()))) +
                               Le16(static_cast<unsigned>(m.name.size())) + Le16(0);
    const auto offset = static_cast<std::uint32_t>(file.size());
    file += Le32(0x04034b50) + common + m.name + body;
    directory += Le32(0x02014b50) + Le16(20) + common + Le16(0) + Le16(0) + Le16(0) + Le32(0) + Le32(offset) + m.name;
  }
  const auto cdOffset = static_cast<std::uint32_t>(file.size());
  file += directory;
  file += Le32(0x06054b50) + Le16(0) + Le16(0) + Le16(static_cast<unsigned>(members.size())) +
          Le16(static_cast<unsigned>(members.size())) + Le32(static_cast<std::uint32_t>(directory.size())) +
          Le32(cdOffset) + Le16(0);
  return file;
}

// A ZIP archive of stored members, given as (name, data).
inline std::string StoredZip(const std::vector<std::pair<std::string, std::string>>& members) {
  std::vector<ZipMember> stored;
  for (const auto& [name, data] : members) stored.push_back({name, data, true, false});
  return ZipOf(stored);
}

}  // namespace ratemover::testsupport
