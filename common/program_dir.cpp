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

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// "\xHH" at position i: the byte it stands for, or -1.
int EscapedByteAt(std::string_view text, std::size_t i) {
  if (i + 4 > text.size() || text[i] != '\\' || text[i + 1] != 'x') return -1;
  const int high = HexDigit(text[i + 2]);
  const int low = HexDigit(text[i + 3]);
  return high < 0 || low < 0 ? -1 : high * 16 + low;
}

void AppendEscaped(std::string& out, unsigned char byte) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 0xF];
}

}  // namespace

std::string ReadablePath(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  std::size_t i = 0;
  while (i < path.size()) {
    const Utf8Step step = DecodeUtf8At(path, i);
    if (!step.valid) {
      for (std::size_t k = i; k < i + step.length; ++k) AppendEscaped(out, static_cast<unsigned char>(path[k]));
    } else if (EscapedByteAt(path, i) >= 0) {
      AppendEscaped(out, '\\');
    } else {
      out.append(path.substr(i, step.length));
    }
    i += step.length;
  }
  return out;
}

std::string PathFromReadable(std::string_view readable) {
  std::string out;
  out.reserve(readable.size());
  for (std::size_t i = 0; i < readable.size();) {
    const int byte = EscapedByteAt(readable, i);
    if (byte >= 0) {
      out += static_cast<char>(byte);
      i += 4;
    } else {
      out += readable[i++];
    }
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
