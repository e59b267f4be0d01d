#include "spreadsheet/workbook_reader.h"

#include <fcntl.h>
#include <gsf/gsf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "spreadsheet/format_table.h"
#include "spreadsheet/gobject_ref.h"
#include "spreadsheet/xml_stream.h"

namespace ratemover::spreadsheet {

namespace {

void IgnoreLibraryMessage(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

// A damaged file makes the container library complain on stderr about what
// it cannot read; the session treats such a file as one that cannot be
// opened, silently, so the complaints are dropped.
void InitGsfOnce() {
  static const bool initialised = [] {
    gsf_init();
    for (const char* domain : {"libgsf", "libgsf:msole", "libgsf:zip", "libgsf:open_pkg"}) {
      g_log_set_handler(domain, static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK), IgnoreLibraryMessage, nullptr);
    }
    return true;
  }();
  (void)initialised;
}

// The container the file is, by its first bytes; a bare file is none.
Container ContainerOf(GsfInput* input) {
  static constexpr unsigned char kOle2[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  static constexpr unsigned char kZip[4] = {'P', 'K', 3, 4};
  if (gsf_input_size(input) < 8 || gsf_input_seek(input, 0, G_SEEK_SET)) return Container::Bare;
  guint8 head[8];
  if (gsf_input_read(input, sizeof head, head) == nullptr) return Container::Bare;
  gsf_input_seek(input, 0, G_SEEK_SET);
  if (std::memcmp(head, kOle2, sizeof kOle2) == 0) return Container::Ole2;
  if (std::memcmp(head, kZip, sizeof kZip) == 0) return Container::Zip;
  return Container::Bare;
}

// The first row of the table, among those of the container, that recognises
// the content reads it; none when no row does.
std::optional<SheetRead> ReadByTable(Container container, const OpenedPackage& opened, std::int32_t rowLimit,
                                     SheetCells& cells) {
  for (const FormatRow* row : FormatTable()) {
    if (row->container != container || !row->recognise(opened)) continue;
    SheetRead read;
    read.format = row->read(opened, rowLimit, cells);
    read.size = row->size;
    return read;
  }
  return std::nullopt;
}

SheetRead ReadOle2(GsfInput* input, std::int32_t rowLimit, SheetCells& cells) {
  GError* error = nullptr;
  GObjectRef<GsfInfile> ole(gsf_infile_msole_new(input, &error));
  g_clear_error(&error);
  if (!ole) ThrowDamaged("OLE2 directory");
  // A password-protected .xlsx travels as an OLE2 file of these two streams.
  if (HasOleStream(ole.get(), "EncryptionInfo") || HasOleStream(ole.get(), "EncryptedPackage")) {
    throw WorkbookError(OpenFailure::Encrypted, "EncryptionInfo");
  }
  std::optional<SheetRead> read = ReadByTable(Container::Ole2, {input, ole.get(), nullptr}, rowLimit, cells);
  if (!read) throw WorkbookError(OpenFailure::UnknownFormat, "OLE2 file without a workbook stream");
  return *read;
}

SheetRead ReadZip(GsfInput* input, std::int32_t rowLimit, SheetCells& cells) {
  GError* error = nullptr;
  GObjectRef<GsfInfile> zip(gsf_infile_zip_new(input, &error));
  g_clear_error(&error);
  if (!zip) ThrowDamaged("ZIP directory");
  // The package is told by the members that the central directory lists,
  // and read from them: the directory is read this once.
  const ZipPackage package(zip.get());
  std::optional<SheetRead> read = ReadByTable(Container::Zip, {input, zip.get(), &package}, rowLimit, cells);
  if (!read) throw WorkbookError(OpenFailure::UnknownFormat, "ZIP package holding no workbook");
  return *read;
}

SheetRead ReadContainer(GsfInput* input, std::int32_t rowLimit, SheetCells& cells) {
  switch (ContainerOf(input)) {
    case Container::Ole2: return ReadOle2(input, rowLimit, cells);
    case Container::Zip: return ReadZip(input, rowLimit, cells);
    case Container::Bare: break;
  }
  std::optional<SheetRead> read = ReadByTable(Container::Bare, {input, nullptr, nullptr}, rowLimit, cells);
  if (!read) throw WorkbookError(OpenFailure::NotAWorkbook, "");
  return *read;
}

}  // namespace

bool HasOleStream(GsfInfile* ole, const char* name) {
  const int n = gsf_infile_num_children(ole);
  for (int i = 0; i < n; ++i) {
    const char* childName = gsf_infile_name_by_index(ole, i);
    if (childName != nullptr && g_ascii_strcasecmp(childName, name) == 0) return true;
  }
  return false;
}

// The format is told by the content alone: an .xlsx that is really an OLE2
// file (as an encrypted .xlsx is) goes to the OLE2 side, which refuses it.
SheetRead ReadActiveSheet(GsfInput* input, std::int32_t rowLimit, SheetCells& cells) {
  cells.Clear();
  cells.SetDateSystem(DateSystem::Base1900);
  cells.SetActiveIsWorksheet(true);
  SheetRead result;
  if (input == nullptr || rowLimit < 0) {
    result.failure.emplace(OpenFailure::NotReadable, "");
    return result;
  }
  InitGsfOnce();
  try {
    result = ReadContainer(input, rowLimit, cells);
  } catch (const WorkbookError& failure) {
    result.failure = failure;
  } catch (const std::bad_alloc&) {
    result.failure.emplace(OpenFailure::TooLarge, "out of memory");
  } catch (const std::exception& failure) {
    result.failure.emplace(OpenFailure::Damaged, failure.what());
  }
  if (result.failure) {
    cells.Clear();
    return SheetRead{result.failure, std::nullopt, kLargeSheet, true};
  }
  result.activeIsWorksheet = cells.ActiveIsWorksheet();
  // a sheet without cells to read keeps none
  if (!result.activeIsWorksheet) cells.Clear();
  return result;
}

struct WorkbookFile::Input {
  GObjectRef<GsfInput> stream;
};

WorkbookFile::Identity WorkbookFile::IdentityOf(const struct stat& info) {
  return {static_cast<unsigned long long>(info.st_dev),   static_cast<unsigned long long>(info.st_ino),
          static_cast<unsigned long long>(info.st_nlink), static_cast<long long>(info.st_size),         static_cast<long long>(info.st_mtim.tv_sec),
          static_cast<long long>(info.st_mtim.tv_nsec), static_cast<long long>(info.st_ctim.tv_sec),
          static_cast<long long>(info.st_ctim.tv_nsec)};
}

WorkbookFile::WorkbookFile(const std::string& nativePath) : path_(nativePath), input_(std::make_unique<Input>()) {
  InitGsfOnce();
  // Opened without waiting (a pipe would wait for a writer) and checked on the
  // opened file itself, so that nothing can swap a device in between.
  const int fd = open(nativePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw WorkbookError(OpenFailure::NotReadable, std::strerror(errno));
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    throw WorkbookError(OpenFailure::NotReadable, "not a regular file");
  }
  opened_ = IdentityOf(info);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* file = fdopen(fd, "rb");
  if (file == nullptr) {
    close(fd);
    throw WorkbookError(OpenFailure::NotReadable, "cannot be opened");
  }
  input_->stream = GObjectRef<GsfInput>(gsf_input_stdio_new_FILE(nativePath.c_str(), file, FALSE));
  if (!input_->stream) {
    std::fclose(file);
    throw WorkbookError(OpenFailure::NotReadable, "cannot be opened");
  }
  descriptor_ = fd;
}

WorkbookFile::~WorkbookFile() = default;

void WorkbookFile::CheckUnchanged() const {
  struct stat now {};
  if (fstat(descriptor_, &now) != 0 || !(IdentityOf(now) == opened_)) {
    throw WorkbookError(OpenFailure::Changed, "size or time of the file");
  }
  struct stat named {};
  if (stat(path_.c_str(), &named) != 0 || !(IdentityOf(named) == opened_)) {
    throw WorkbookError(OpenFailure::Changed, "another file behind the name");
  }
}

void WorkbookFile::CheckContentUnchanged() const {
  struct stat now {};
  if (fstat(descriptor_, &now) != 0) throw WorkbookError(OpenFailure::Changed, "file no longer readable");
  const Identity current = IdentityOf(now);
  const bool sameTimes = current.modifiedSeconds == opened_.modifiedSeconds &&
                         current.modifiedNanoseconds == opened_.modifiedNanoseconds &&
                         (current.links != opened_.links || (current.changedSeconds == opened_.changedSeconds &&
                                                             current.changedNanoseconds == opened_.changedNanoseconds));
  if (current.size != opened_.size || !sameTimes) throw WorkbookError(OpenFailure::Changed, "size or time of the file");
}

SheetRead ReadActiveSheet(const WorkbookFile& file, std::int32_t rowLimit, SheetCells& cells, bool contentOnly) {
  SheetRead result = ReadActiveSheet(file.input_->stream.get(), rowLimit, cells);
  try {
    if (contentOnly) {
      file.CheckContentUnchanged();
    } else {
      file.CheckUnchanged();
    }
  } catch (const WorkbookError& changed) {
    // Whatever was read, or refused, came from a file in motion.
    cells.Clear();
    result.failure = changed;
  }
  return result;
}

SheetRead ReadActiveSheetFromFile(const std::string& nativePath, std::int32_t rowLimit, SheetCells& cells) {
  cells.Clear();
  try {
    const WorkbookFile file(nativePath);
    return ReadActiveSheet(file, rowLimit, cells);
  } catch (const WorkbookError& failure) {
    SheetRead refused;
    refused.failure = failure;
    return refused;
  }
}

}  // namespace ratemover::spreadsheet
