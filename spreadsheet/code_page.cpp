#include "spreadsheet/code_page.h"

#include <cerrno>

#include "common/cp1250.h"
#include "spreadsheet/open_failure.h"

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

// The converter of each code page that a workbook can name and that is not
// read by the program's own tables; nullptr for a number without one.
const char* ConverterName(std::uint16_t codePage) {
  switch (codePage) {
    case 437: return "CP437";
    case 737: return "CP737";
    case 775: return "CP775";
    case 850: return "CP850";
    case 852: return "CP852";
    case 855: return "CP855";
    case 857: return "CP857";
    case 858: return "CP858";
    case 860: return "CP860";
    case 861: return "CP861";
    case 862: return "CP862";
    case 863: return "CP863";
    case 864: return "CP864";
    case 865: return "CP865";
    case 866: return "CP866";
    case 869: return "CP869";
    case 874: return "CP874";
    case 932: return "CP932";
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "CP950";
    case 1251: return "CP1251";
    case 1253: return "CP1253";
    case 1254: return "CP1254";
    case 1255: return "CP1255";
    case 1256: return "CP1256";
    case 1257: return "CP1257";
    case 1258: return "CP1258";
    case 1361: return "JOHAB";
    case 10000:  // Mac Roman, also written as 32768
    case 32768: return "MACINTOSH";
    case 10007: return "MAC-CYRILLIC";
    case 10017: return "MAC-UK";  // Mac Ukrainian
    case 10029: return "MAC-CENTRALEUROPE";
    default: return nullptr;
  }
}

}  // namespace

CodePage::~CodePage() {
  if (converter_ != reinterpret_cast<iconv_t>(-1)) iconv_close(converter_);
}

void CodePage::Set(std::uint16_t codePage) {
  if (converter_ != reinterpret_cast<iconv_t>(-1)) {
    iconv_close(converter_);
    converter_ = reinterpret_cast<iconv_t>(-1);
  }
  // 367 is US-ASCII and 32769 the Windows-1252 of the oldest versions
  if (codePage == 367 || codePage == 32769) codePage = 1252;
  codePage_ = codePage;
  if (codePage == 1250 || codePage == 1200 || codePage == 1252) return;
  const char* name = ConverterName(codePage);
  if (name != nullptr) converter_ = iconv_open("UTF-8", name);
  if (converter_ == reinterpret_cast<iconv_t>(-1)) {
    throw WorkbookError(OpenFailure::UnknownFormat, "CODEPAGE: no converter for code page " + std::to_string(codePage));
  }
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
  // a converter for a code page with combining marks holds the last letter
  // back until it knows that no mark follows: the end of the string says so
  for (;;) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t result = iconv(converter_, nullptr, nullptr, &outPtr, &outLeft);
    utf8.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    if (result != static_cast<std::size_t>(-1) || errno != E2BIG) break;
  }
  out += Cp1250FromUtf8(utf8);
}

}  // namespace ratemover::spreadsheet
