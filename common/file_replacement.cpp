#include "common/file_replacement.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <memory>

namespace ratemover {

namespace {

constexpr int kMostLinksFollowed = 40;

std::atomic<unsigned> temporaryCounter{0};

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

class OwnedFd {
 public:
  explicit OwnedFd(int fd) : fd_(fd) {}
  ~OwnedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// "<file>.tmp-<pid>-<n>": the name of a new version while it is being put in place.
constexpr std::string_view kTemporaryMark = ".tmp-";

std::string TemporaryName(const std::string& target) {
  return target + std::string(kTemporaryMark) + std::to_string(::getpid()) + "-" +
         std::to_string(temporaryCounter.fetch_add(1));
}

bool IsDigits(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// A temporary file of this name whose process is gone was left by a process that
// was killed between writing and renaming; nothing else will ever remove it.
void RemoveStaleTemporaries(const std::string& folder, const std::string& baseName) {
  const DirHandle dir(::opendir(folder.c_str()));
  if (!dir) return;
  const std::string prefix = baseName + std::string(kTemporaryMark);
  while (const dirent* entry = ::readdir(dir.get())) {
    std::string_view rest = entry->d_name;
    if (!rest.starts_with(prefix)) continue;
    rest.remove_prefix(prefix.size());
    const auto dash = rest.find('-');
    if (dash == std::string_view::npos || !IsDigits(rest.substr(0, dash)) || !IsDigits(rest.substr(dash + 1))) continue;
    pid_t pid = 0;
    if (std::from_chars(rest.data(), rest.data() + dash, pid).ec != std::errc() || pid <= 0) continue;
    // EPERM means the process lives under another user: its file is not stale
    if (pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH) continue;
    struct stat info {};
    if (::fstatat(::dirfd(dir.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) {
      continue;
    }
    (void)::unlinkat(::dirfd(dir.get()), entry->d_name, 0);
  }
}

// A symbolic link keeps pointing where it points: the file it names, found here,
// is the one replaced, also when it does not exist yet.
int FollowLinks(std::string path, std::string& target) {
  for (int hop = 0; hop < kMostLinksFollowed; ++hop) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
      target = path;
      return 0;
    }
    std::string link(static_cast<std::size_t>(info.st_size) + 256, '\0');
    const ssize_t length = ::readlink(path.c_str(), link.data(), link.size());
    if (length < 0) return errno;
    if (static_cast<std::size_t>(length) >= link.size()) return ENAMETOOLONG;
    link.resize(static_cast<std::size_t>(length));
    if (link.empty()) return ENOENT;
    path = link.front() == '/' ? link : FolderOf(path) + "/" + link;
  }
  return ELOOP;
}

// The superuser passes every check of the permission bits, so for it a file
// without any write bit counts as read-only, as it does for everyone else.
bool PermissionBitsAllowWriting(const std::string& path, const struct stat& info) {
  if (::geteuid() == 0) return (info.st_mode & 0222) != 0;
  return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

bool UnnamedFilesUnsupported(int error) { return error == EOPNOTSUPP || error == EISDIR || error == EINVAL; }

// Gives an unnamed file a name. link() never replaces a name.
int LinkDescriptor(int fd, const std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  const int error = errno;
  if (error != ENOENT) return error;
  // without /proc mounted
  if (::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
  return errno;
}

// The rename is on disk only once the folder is. A folder that cannot be opened
// for reading cannot be flushed by this process at all, and a file system that
// keeps no folder state to flush says EINVAL: neither is a failed write.
int SyncFolder(const std::string& folder) {
  const OwnedFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return 0;
  if (::fsync(dir.get()) == 0 || errno == EINVAL) return 0;
  return errno;
}

// The whole file from its start, its length set to that of `bytes`, on disk.
// Where the file is longer, the new content goes first padded with blanks to
// the file's length and flushed, and only then is the file cut: a process killed
// before the cut leaves the new lines followed by a blank run that the reader
// skips, never the new lines followed by the old file's last lines.
int PutBytesAt0(int fd, std::string_view bytes) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return errno;
  const auto sizeNow = static_cast<std::size_t>(info.st_size);
  if (::lseek(fd, 0, SEEK_SET) != 0) return errno;
  if (bytes.size() < sizeNow) {
    std::string padded;
    padded.reserve(sizeNow);
    padded.append(bytes);
    padded.append(sizeNow - bytes.size(), ' ');
    if (!WriteAll(fd, padded)) return errno;
    if (::fsync(fd) != 0) return errno;
  } else if (!WriteAll(fd, bytes)) {
    return errno;
  }
  if (::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) return errno;
  if (::fsync(fd) != 0) return errno;
  return 0;
}

bool ReadAll(int fd, std::string& out) {
  char buffer[16 * 1024];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) return true;
    out.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace

std::string_view WriteFailureCause(int error) {
  switch (error) {
    case ENOSPC:
      return "ni prostora na disku";
    case EDQUOT:
      return "prese\x9e" "ena kvota";
    case EIO:
      return "napaka pri pisanju na disk";
    default:
      return {};
  }
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) {
      errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

FileReplacement::FileReplacement(std::string nativePath, Temporary temporary)
    : path_(std::move(nativePath)), temporary_(temporary) {}

FileReplacement::~FileReplacement() { Drop(); }

void FileReplacement::Drop() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
  tempPath_.clear();
}

std::string FileReplacement::Folder() const { return FolderOf(target_.empty() ? path_ : target_); }

int FileReplacement::Begin() {
  Drop();
  folderRefused_ = false;
  if (path_.empty()) return ENOENT;
  if (const int error = FollowLinks(path_, target_)) return error;

  struct stat old {};
  targetExisted_ = ::lstat(target_.c_str(), &old) == 0;
  if (!targetExisted_ && errno != ENOENT) return errno;
  if (targetExisted_) {
    if (S_ISDIR(old.st_mode)) return EISDIR;
    if (!S_ISREG(old.st_mode)) return EINVAL;
    if (!PermissionBitsAllowWriting(target_, old)) return EACCES;
  }

  const std::string folder = FolderOf(target_);
  RemoveStaleTemporaries(folder, BaseNameOf(target_));
  int error = EOPNOTSUPP;
  if (temporary_ == Temporary::UnnamedWhereOffered) error = CreateUnnamed(folder);
  if (UnnamedFilesUnsupported(error)) error = CreateNamed();
  if (error != 0) {
    folderRefused_ = targetExisted_ && (error == EACCES || error == EPERM);
    return error;
  }

  if (targetExisted_) {
    // the owner first: a change of owner clears the set-id bits
    if (::geteuid() == 0 && !KeepOwner(old)) {
      error = errno;
      Drop();
      return error;
    }
    if (::fchmod(fd_, old.st_mode & 07777) != 0) {
      error = errno;
      Drop();
      return error;
    }
  }
  return 0;
}

// Root's replacement of another user's file stays that user's, or the user
// could no longer rewrite it. A file system that keeps no owners (a FAT
// stick) refuses the change but already gives the file the same owner as the
// old one; anything else that refuses it fails the replacement.
bool FileReplacement::KeepOwner(const struct stat& old) const {
  if (::fchown(fd_, old.st_uid, old.st_gid) == 0) return true;
  const int error = errno;
  struct stat now {};
  if (::fstat(fd_, &now) == 0 && now.st_uid == old.st_uid && now.st_gid == old.st_gid) return true;
  errno = error;
  return false;
}

int FileReplacement::CreateUnnamed(const std::string& folder) {
  fd_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  return fd_ >= 0 ? 0 : errno;
}

int FileReplacement::CreateNamed() {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = TemporaryName(target_);
    fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      tempPath_ = name;
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

int FileReplacement::LinkUnnamed() {
  // Where no file stood the new one takes the name at once; where one stands (or
  // has appeared since), it goes in under a temporary name renamed over the old.
  if (!targetExisted_) {
    const int error = LinkDescriptor(fd_, target_);
    if (error != EEXIST) return error;
  }
  std::string name;
  int error = EEXIST;
  for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
    name = TemporaryName(target_);
    error = LinkDescriptor(fd_, name);
  }
  if (error != 0) return error;
  if (::rename(name.c_str(), target_.c_str()) != 0) {
    error = errno;
    ::unlink(name.c_str());
    return error;
  }
  return 0;
}

int FileReplacement::Commit() {
  if (fd_ < 0) return EBADF;
  if (::fsync(fd_) != 0) return errno;
  if (tempPath_.empty()) {
    if (const int error = LinkUnnamed()) return error;
  } else if (::rename(tempPath_.c_str(), target_.c_str()) != 0) {
    return errno;
  }
  tempPath_.clear();
  ::close(fd_);  // its bytes are on disk already
  fd_ = -1;
  return SyncFolder(FolderOf(target_));
}

int FileReplacement::CommitEmpty() {
  if (fd_ < 0) return EBADF;
  if (::ftruncate(fd_, 0) != 0) return errno;
  return Commit();
}

int FileReplacement::WriteInPlace(std::string_view bytes) {
  const OwnedFd file(::open(target_.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) return errno;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return errno;
  if (!S_ISREG(info.st_mode)) return EINVAL;
  if (!PermissionBitsAllowWriting(target_, info)) return EACCES;
  std::string old;
  if (!ReadAll(file.get(), old)) return errno;
  const int error = PutBytesAt0(file.get(), bytes);
  if (error != 0) (void)PutBytesAt0(file.get(), old);
  return error;
}

}  // namespace ratemover
