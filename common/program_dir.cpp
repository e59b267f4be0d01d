#include "common/program_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "common/cp1250.h"

namespace ratemover {

std::string ProgramDir() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::string();
    if (static_cast<std::size_t>(length) < buffer.size()) {
      std::string path(buffer.data(), static_cast<std::size_t>(length));
      const auto slash = path.rfind('/');
      std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash);
      std::string text = Cp1250FromUtf8(dir);
      if (text.empty() || text.back() != '/') text.push_back('/');
      return text;
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string NativePath(std::string_view cp1250Path) { return Utf8FromCp1250(cp1250Path); }

bool IsExistingFile(std::string_view cp1250Path) {
  struct stat info {};
  return !cp1250Path.empty() && stat(NativePath(cp1250Path).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace ratemover
