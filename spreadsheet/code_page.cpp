#include "spreadsheet/code_page.h"

#include <cerrno>

#include "common/cp1250.h"

namespace ratemover::spreadsheet {

namespace {

char32_t Windows1252(std::uint8_t byte) {
  static constexpr char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                         0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                         0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                         0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  if (byte >= 0x80 && byte < 0xA0) return kHigh[byte - 0x80];
  return byte;
}

}  // namespace

CodePage::~CodePage() {
  if (converter_ != reinterpret_cast<iconv_t>(-1)) iconv_close(converter_);
}

void CodePage::Set(std::uint16_t codePage) {
  codePage_ = codePage;
  if (converter_ != reinterpret_cast<iconv_t>(-1)) {
    iconv_close(converter_);
    converter_ = reinterpret_cast<iconv_t>(-1);
  }
  if (codePage == 1250 || codePage == 1200 || codePage == 1252 || codePage == 367 || codePage == 32769) return;
  std::string name;
  if (codePage == 10000 || codePage == 32768) {
    name = "MACINTOSH";
  } else {
    name = "CP" + std::to_string(codePage);
  }
  converter_ = iconv_open("UTF-8", name.c_str());
  // a code page that the system does not know reads as Windows-1252
}

void CodePage::Append(const std::uint8_t* bytes, std::size_t count, std::string& out) const {
  if (codePage_ == 1250) {
    out.append(reinterpret_cast<const char*>(bytes), count);
    return;
  }
  if (converter_ != reinterpret_cast<iconv_t>(-1)) {
    AppendConverted(bytes, count, out);
    return;
  }
  for (std::size_t i = 0; i < count; ++i) out.push_back(Cp1250OfCodePoint(Windows1252(bytes[i])));
}

void CodePage::AppendConverted(const std::uint8_t* bytes, std::size_t count, std::string& out) const {
  std::string utf8;
  char* in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(bytes));
  std::size_t inLeft = count;
  char buffer[1024];
  iconv(converter_, nullptr, nullptr, nullptr, nullptr);
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t result = iconv(converter_, &in, &inLeft, &outPtr, &outLeft);
    utf8.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
      // a byte that the code page does not define
      utf8.push_back('?');
      ++in;
      --inLeft;
    }
  }
  out += Cp1250FromUtf8(utf8);
}

}  // namespace ratemover::spreadsheet
