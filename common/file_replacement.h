#pragma once
// A file replaced whole: the new version is written beside the old one and put
// in its place by a rename only when it is complete on disk. A reader sees the
// old file or the new one, never anything between, and a process killed midway
// leaves the old file as it was.
#include <sys/stat.h>

#include <string>
#include <string_view>

namespace ratemover {

// Writes every byte to fd, going on after short writes and interruptions.
// False with errno set when a write fails.
bool WriteAll(int fd, std::string_view bytes);

// Why a write failed, in the operator's words (Windows-1250), for the causes the
// operator can do something about: a full disk, a quota, a disk error. Empty for
// any other errno value.
std::string_view WriteFailureCause(int error);

class FileReplacement {
 public:
  enum class Temporary {
    UnnamedWhereOffered,  // an unnamed file that a killed process cannot leave behind
    Named,                // always a named one, as on file systems without unnamed files
  };

  // nativePath: the file-system name of the file to replace.
  explicit FileReplacement(std::string nativePath, Temporary temporary = Temporary::UnnamedWhereOffered);
  ~FileReplacement();  // a new version not put in place is removed; the old file stays
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Follows symbolic links to the file they name, checks what stands there and
  // creates the new, empty version beside it. Returns 0, or the errno value of
  // the failure:
  //   EISDIR  a folder stands there; EINVAL  any other kind of file that is not
  //   a regular one (a pipe, a device); it is never opened.
  //   EACCES  its permission bits forbid writing, for the superuser as well, or
  //   the folder refuses the new file (then FolderRefused() is true).
  // The new version gets the old file's permission bits, and its owner and group
  // when the superuser replaces it. Temporary files that a killed process of
  // this name left beside the file are removed first.
  int Begin();

  // Where the new version is written between Begin and Commit.
  int Descriptor() const { return fd_; }

  // The file that is replaced: the path with its symbolic links followed.
  const std::string& Target() const { return target_; }

  // The folder that holds the file: that of Target(), or of the path as given
  // while its links have not been followed.
  std::string Folder() const;

  // True when Begin failed only because the folder does not let a new file in
  // while the file itself may be written: the case for WriteInPlace.
  bool FolderRefused() const { return folderRefused_; }

  // Flushes the new version to disk, renames it over the old file and flushes
  // the folder, so that the rename survives a power cut. Returns 0 or an errno
  // value. When the flush of the folder fails, the new version stands in place
  // but may not outlive a power cut: the error is returned all the same, and
  // the replacement is over. After any earlier failure the old file stands as
  // it was and the new version can still be committed, or dropped.
  int Commit();

  // Drops what was written, so that an empty file takes the old file's place.
  int CommitEmpty();

  // For a file whose folder refuses new files: overwrites the file itself with
  // `bytes` and flushes it to disk. A shorter new content is first written
  // padded with blanks to the old length, so that a process killed before the
  // file is cut leaves the new lines and a blank run, not the old file's tail.
  // When that fails the old bytes are written back. Returns 0 or an errno value.
  int WriteInPlace(std::string_view bytes);

 private:
  void Drop() noexcept;
  int CreateUnnamed(const std::string& folder);
  int CreateNamed();
  int LinkUnnamed();
  bool KeepOwner(const struct stat& old) const;

  std::string path_;
  std::string target_;
  Temporary temporary_;
  std::string tempPath_;  // empty for an unnamed new version
  int fd_ = -1;
  bool targetExisted_ = false;
  bool folderRefused_ = false;
};

}  // namespace ratemover
