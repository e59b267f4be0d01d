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
      if (dir.empty() || dir.back() != '/') dir.push_back('/');
      return dir;
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string PathFromText(std::string_view cp1250Text) { return Utf8FromCp1250(cp1250Text); }

std::string TextOfPath(std::string_view path) { return Cp1250FromUtf8(path); }

bool TextHoldsPath(std::string_view path) { return PathFromText(TextOfPath(path)) == path; }

std::string ReadablePath(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  std::size_t i = 0;
  while (i < path.size()) {
    const Utf8Step step = DecodeUtf8At(path, i);
    if (step.valid) {
      out.append(path.substr(i, step.length));
    } else {
      for (std::size_t k = i; k < i + step.length; ++k) {
        const auto byte = static_cast<unsigned char>(path[k]);
        out += "\\x";
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
      }
    }
    i += step.length;
  }
  return out;
}

bool IsExistingFile(std::string_view path) {
  struct stat info {};
  // a NUL would end the name early and let it name another file
  if (path.empty() || path.find('\0') != std::string_view::npos) return false;
  return stat(std::string(path).c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace ratemover
