#pragma once
// The rate file as the import run writes it: through one buffer, every write
// checked, and put in place of yesterday's file only when it is whole on disk.
// ZTR, or anyone reading the file, finds yesterday's whole file or today's,
// never a shorter list; a killed run leaves yesterday's.
#include <string>
#include <string_view>

#include "common/file_replacement.h"
#include "transfer/rate_record.h"

namespace ratemover {

class RateFile {
 public:
  explicit RateFile(std::string path);  // as the file system names it
  RateFile(const RateFile&) = delete;
  RateFile& operator=(const RateFile&) = delete;

  // Prepares the new rate file beside the old one. False when the rate file
  // cannot be created: its folder is missing or refuses a new file, a folder, a
  // pipe or a device stands under its name (never opened, never waited on), its
  // permission bits forbid writing, or it would be the workbook itself (a
  // workbook whose own name ends in ".ztr", or a link to the workbook).
  bool Create(const std::string& workbookPath);

  // The first line, then one line for each written row; each ends in CR LF.
  void WriteDateLine(std::string_view formattedDate);
  // The price line is built straight into the buffer.
  void WritePriceLine(const PriceLine& line) {
    AppendVrsticaTecaja(buffer_, line);
    EndLine();
  }

  // Writes what is buffered, flushes it to disk and puts the new file in place
  // of the old one, its folder flushed too. Throws when any of it fails, the
  // cause (a full disk, a quota, a disk error) told after the message; an empty
  // file then takes the rate file's place.
  void Close();

  // On a failure after Create: an empty file takes the rate file's place, so that
  // ZTR never loads yesterday's list, or half of today's, as today's.
  void Discard() noexcept;

 private:
  void EndLine();
  void Flush();
  [[noreturn]] void Fail(int error);  // error: the errno value of the failed step

  std::string path_;
  FileReplacement replacement_;
  std::string buffer_;
  bool open_ = false;
};

}  // namespace ratemover
