#include "transfer/rate_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <utility>

#include "common/file_replacement.h"
#include "common/operator_view.h"

namespace ratemover {

namespace {

constexpr std::size_t kFlushSize = 1 << 16;

bool IsSameFile(const std::string& nativeA, const std::string& nativeB) {
  struct stat a {};
  struct stat b {};
  return ::stat(nativeA.c_str(), &a) == 0 && ::stat(nativeB.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

// The last resort when not even an empty new file can be put in place: the old
// file itself is emptied, if it is a regular file, and removed when it cannot
// be emptied, so that yesterday's list does not stand as today's.
void EmptyInPlace(const std::string& nativePath) noexcept {
  const int fd = ::open(nativePath.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::ftruncate(fd, 0) != 0) ::unlink(nativePath.c_str());
  ::close(fd);
}

}  // namespace

RateFile::RateFile(std::string path) : path_(std::move(path)), replacement_(path_) {}

bool RateFile::Create(const std::string& workbookPath) {
  if (IsSameFile(path_, workbookPath)) return false;
  open_ = replacement_.Begin() == 0;
  buffer_.reserve(kFlushSize + 1024);
  return open_;
}

void RateFile::WriteDateLine(std::string_view formattedDate) {
  buffer_.append(VrsticaDatuma(formattedDate));
  EndLine();
}

void RateFile::EndLine() {
  buffer_.append("\r\n");
  if (buffer_.size() >= kFlushSize) Flush();
}

void RateFile::Close() {
  Flush();
  if (const int error = replacement_.Commit()) Fail(error);
  open_ = false;
}

void RateFile::Discard() noexcept {
  buffer_.clear();
  if (!open_) return;
  open_ = false;
  if (replacement_.CommitEmpty() != 0) EmptyInPlace(replacement_.Target());
}

void RateFile::Flush() {
  if (!WriteAll(replacement_.Descriptor(), buffer_)) Fail(errno);
  buffer_.clear();
}

void RateFile::Fail(int error) {
  Discard();
  OperatorMessage message("Napaka pri pisanju v datoteko ");
  message.Name(path_);
  if (const std::string_view cause = WriteFailureCause(error); !cause.empty()) message.Text(": ").Text(cause);
  throw NamedFailure(std::move(message));
}

}  // namespace ratemover
