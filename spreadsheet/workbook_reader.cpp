#include "spreadsheet/workbook_reader.h"

#include <fcntl.h>
#include <gsf/gsf.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

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

// Owns one GObject reference.
template <typename T>
class Ref {
 public:
  explicit Ref(T* object = nullptr) : object_(object) {}
  ~Ref() {
    if (object_ != nullptr) g_object_unref(object_);
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T* object_;
};

enum class Container { Unknown, Ole2, Zip };

Container ContainerOf(GsfInput* input) {
  static constexpr unsigned char kOle2[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  static constexpr unsigned char kZip[4] = {'P', 'K', 3, 4};
  if (gsf_input_size(input) < 8 || gsf_input_seek(input, 0, G_SEEK_SET)) return Container::Unknown;
  guint8 head[8];
  if (gsf_input_read(input, sizeof head, head) == nullptr) return Container::Unknown;
  gsf_input_seek(input, 0, G_SEEK_SET);
  if (std::memcmp(head, kOle2, sizeof kOle2) == 0) return Container::Ole2;
  if (std::memcmp(head, kZip, sizeof kZip) == 0) return Container::Zip;
  return Container::Unknown;
}

// The beginning of a small archive member (at most `limit` bytes), for
// recognising the package; empty when the member is missing or unreadable.
std::string MemberHead(GsfInfile* zip, const char* folder, const char* name, std::size_t limit) {
  Ref<GsfInput> member(folder != nullptr ? gsf_infile_child_by_vname(zip, folder, name, nullptr)
                                         : gsf_infile_child_by_name(zip, name));
  if (!member) return std::string();
  const gsf_off_t size = gsf_input_size(member.get());
  if (size <= 0) return std::string();
  const std::size_t length = static_cast<std::size_t>(size) < limit ? static_cast<std::size_t>(size) : limit;
  std::string bytes(length, '\0');
  if (gsf_input_read(member.get(), length, reinterpret_cast<guint8*>(bytes.data())) == nullptr) return std::string();
  return bytes;
}

bool HasMember(GsfInfile* zip, const char* folder, const char* name) {
  Ref<GsfInput> member(folder != nullptr ? gsf_infile_child_by_vname(zip, folder, name, nullptr)
                                         : gsf_infile_child_by_name(zip, name));
  return static_cast<bool>(member);
}

bool IsOfficeOpenXml(GsfInfile* zip) {
  if (HasMember(zip, "xl", "workbook.xml")) return true;
  const std::string rels = MemberHead(zip, "_rels", ".rels", 64 * 1024);
  return rels.find("relationships/officeDocument") != std::string::npos;
}

// A binary workbook: the package's main part is the binary xl/workbook.bin.
bool IsBinaryWorkbook(GsfInfile* zip) {
  const std::string rels = MemberHead(zip, "_rels", ".rels", 64 * 1024);
  if (!rels.empty()) return rels.find("workbook.bin\"") != std::string::npos;
  return HasMember(zip, "xl", "workbook.bin") && !HasMember(zip, "xl", "workbook.xml");
}

bool IsOpenDocument(GsfInfile* zip) {
  static constexpr std::string_view kSpreadsheet = "application/vnd.oasis.opendocument.spreadsheet";
  const std::string mimetype = MemberHead(zip, nullptr, "mimetype", 256);
  if (std::string_view(mimetype).substr(0, kSpreadsheet.size()) == kSpreadsheet) return true;
  return HasMember(zip, nullptr, "content.xml");
}

bool ReadContainer(GsfInput* input, std::int32_t rowLimit, SheetCells& cells) {
  switch (ContainerOf(input)) {
    case Container::Ole2: {
      GError* error = nullptr;
      Ref<GsfInfile> ole(gsf_infile_msole_new(input, &error));
      g_clear_error(&error);
      return ole && ReadBiffActiveSheet(ole.get(), rowLimit, cells);
    }
    case Container::Zip: {
      GError* error = nullptr;
      Ref<GsfInfile> zip(gsf_infile_zip_new(input, &error));
      g_clear_error(&error);
      if (!zip) return false;
      if (IsBinaryWorkbook(zip.get())) return ReadXlsbActiveSheet(zip.get(), rowLimit, cells);
      if (IsOfficeOpenXml(zip.get())) return ReadXlsxActiveSheet(zip.get(), rowLimit, cells);
      if (IsOpenDocument(zip.get())) return ReadOdsActiveSheet(zip.get(), rowLimit, cells);
      return false;
    }
    case Container::Unknown: break;
  }
  return false;
}

}  // namespace

// The format is told by the content alone: an .xlsx that is really an OLE2
// file (as an encrypted .xlsx is) goes to the .xls reader, which refuses it.
bool ReadActiveSheet(GsfInput* input, std::int32_t rowLimit, SheetCells& cells) {
  cells.Clear();
  cells.SetDateSystem(DateSystem::Base1900);
  if (input == nullptr || rowLimit < 0) return false;
  InitGsfOnce();
  bool read = false;
  try {
    read = ReadContainer(input, rowLimit, cells);
  } catch (const std::exception&) {
    read = false;  // out of memory or the like: the workbook cannot be opened
  }
  if (!read) cells.Clear();
  return read;
}

GsfInput* OpenWorkbookFile(const std::string& nativePath) {
  InitGsfOnce();
  // Opened without waiting (a pipe would wait for a writer) and checked on the
  // opened file itself, so that nothing can swap a device in between.
  const int fd = open(nativePath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* file = fdopen(fd, "rb");
  if (file == nullptr) {
    close(fd);
    return nullptr;
  }
  GsfInput* input = gsf_input_stdio_new_FILE(nativePath.c_str(), file, FALSE);
  if (input == nullptr) std::fclose(file);
  return input;
}

bool ReadActiveSheetFromFile(const std::string& nativePath, std::int32_t rowLimit, SheetCells& cells) {
  Ref<GsfInput> input(OpenWorkbookFile(nativePath));
  if (!input) {
    cells.Clear();
    return false;
  }
  return ReadActiveSheet(input.get(), rowLimit, cells);
}

}  // namespace ratemover::spreadsheet
