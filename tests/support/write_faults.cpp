// Loaded into a program under test (LD_PRELOAD) to make the disk fail where a
// test cannot make a real one fail:
//   RATEMOVER_FAIL_WRITE=<errno>         every write to a regular file other than
//                                        standard output and error fails so
//   RATEMOVER_FAIL_FOLDER_FSYNC=<errno>  every flush of a folder fails so
// Without these variables every call goes to the C library unchanged.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

int ErrnoFrom(const char* variable) {
  const char* value = std::getenv(variable);
  return value == nullptr ? 0 : std::atoi(value);
}

bool IsKind(int fd, mode_t kind) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && (info.st_mode & S_IFMT) == kind;
}

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" ssize_t write(int fd, const void* data, size_t size) {
  static const auto next = Next<ssize_t (*)(int, const void*, size_t)>("write");
  static const int error = ErrnoFrom("RATEMOVER_FAIL_WRITE");
  if (error != 0 && fd > 2 && IsKind(fd, S_IFREG)) {
    errno = error;
    return -1;
  }
  return next(fd, data, size);
}

extern "C" int fsync(int fd) {
  static const auto next = Next<int (*)(int)>("fsync");
  static const int error = ErrnoFrom("RATEMOVER_FAIL_FOLDER_FSYNC");
  if (error != 0 && IsKind(fd, S_IFDIR)) {
    errno = error;
    return -1;
  }
  return next(fd);
}
