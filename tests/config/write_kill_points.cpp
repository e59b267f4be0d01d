// Stops the process at a chosen step of a file write: the write, flush and
// truncate calls of the program's own code, counted from when a test arms the
// count, are passed to the C library until the chosen one, which kills the
// process before it runs. Unarmed, every call goes through unchanged.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include "config_test_support.h"

namespace {

int stepsLeft = 0;  // 0: unarmed

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

// Standard output and error are the test's own.
void Step(int fd) {
  if (stepsLeft == 0 || fd <= 2) return;
  if (--stepsLeft == 0) ::raise(SIGKILL);
}

}  // namespace

namespace ratemover::testing {

void KillAtWriteStep(int step) { stepsLeft = step; }

}  // namespace ratemover::testing

extern "C" ssize_t write(int fd, const void* data, size_t size) {
  static const auto next = Next<ssize_t (*)(int, const void*, size_t)>("write");
  Step(fd);
  return next(fd, data, size);
}

extern "C" int fsync(int fd) {
  static const auto next = Next<int (*)(int)>("fsync");
  Step(fd);
  return next(fd);
}

extern "C" int ftruncate(int fd, off_t length) {
  static const auto next = Next<int (*)(int, off_t)>("ftruncate");
  Step(fd);
  return next(fd, length);
}
