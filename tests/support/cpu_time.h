#pragma once
// CPU time for tests that bound how long a reading takes: the process's own
// time, which a busy machine does not stretch, and a bound widened where a
// sanitized build runs many times slower.
#include <ctime>

namespace ratemover::testsupport {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr double kCpuSlowdown = 10;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr double kCpuSlowdown = 10;
#else
inline constexpr double kCpuSlowdown = 1;
#endif
#else
inline constexpr double kCpuSlowdown = 1;
#endif

// Seconds of CPU time since `start` (a value of std::clock()).
inline double CpuSecondsSince(std::clock_t start) {
  return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

}  // namespace ratemover::testsupport
