#pragma once
// Text in a single-byte or double-byte code page (the strings of the older
// binary .xls versions) turned into the program's Windows-1250 text.
#include <iconv.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace ratemover::spreadsheet {

class CodePage {
 public:
  CodePage() = default;
  CodePage(const CodePage&) = delete;
  CodePage& operator=(const CodePage&) = delete;
  ~CodePage();

  // A number without a converter throws WorkbookError (UnknownFormat): text
  // read as another code page would come out as other letters.
  void Set(std::uint16_t codePage);

  bool IsUtf16() const { return codePage_ == 1200; }
  // The code pages of Excel for the Macintosh (10000 to 10079; 32768 is Mac
  // Roman under its older number).
  bool IsMac() const { return (codePage_ >= 10000 && codePage_ <= 10079) || codePage_ == 32768; }

  void Append(const std::uint8_t* bytes, std::size_t count, std::string& out) const;

 private:
  void AppendConverted(const std::uint8_t* bytes, std::size_t count, std::string& out) const;

  std::uint16_t codePage_ = 1252;
  iconv_t converter_ = reinterpret_cast<iconv_t>(-1);
};

}  // namespace ratemover::spreadsheet
