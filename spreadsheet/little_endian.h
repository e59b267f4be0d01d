#pragma once
// Little-endian numbers read from the bytes of a binary file, whatever the
// byte order of the machine. The caller has checked that the bytes are there.
#include <cstdint>
#include <cstring>

namespace ratemover::spreadsheet {

inline std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

inline std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint64_t U64(const std::uint8_t* p) { return U32(p) | (static_cast<std::uint64_t>(U32(p + 4)) << 32); }

// An IEEE 754 double.
inline double F64(const std::uint8_t* p) {
  const std::uint64_t bits = U64(p);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace ratemover::spreadsheet
