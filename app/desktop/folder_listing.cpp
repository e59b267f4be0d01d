#include "app/desktop/folder_listing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>

#include "common/text.h"

namespace ratemover::desktop {

namespace {

struct FolderCloser {
  void operator()(DIR* folder) const { ::closedir(folder); }
};
using FolderHandle = std::unique_ptr<DIR, FolderCloser>;

}  // namespace

std::vector<FolderEntry> ListFolder(const std::string& folder) {
  std::vector<FolderEntry> entries;
  FolderHandle handle(::opendir(folder.c_str()));
  if (handle == nullptr) return entries;
  while (const dirent* read = ::readdir(handle.get())) {
    const std::string name = read->d_name;
    if (name.empty() || name.front() == '.') continue;
    struct stat status {};
    // a link that leads nowhere is still listed, as the link itself
    if (::stat(JoinPath(folder, name).c_str(), &status) != 0 &&
        ::lstat(JoinPath(folder, name).c_str(), &status) != 0) {
      continue;
    }
    FolderEntry entry;
    entry.name = name;
    entry.isFolder = S_ISDIR(status.st_mode);
    entry.size = static_cast<std::int64_t>(status.st_size);
    entry.modified = status.st_mtime;
    entries.push_back(std::move(entry));
  }
  return entries;
}

bool NameMatches(std::string_view name, std::string_view pattern) {
  if (pattern.empty()) return name.empty();
  if (pattern.front() == '*') {
    for (std::size_t skipped = 0; skipped <= name.size(); ++skipped) {
      if (NameMatches(name.substr(skipped), pattern.substr(1))) return true;
    }
    return false;
  }
  return !name.empty() && AsciiLower(name.front()) == AsciiLower(pattern.front()) &&
         NameMatches(name.substr(1), pattern.substr(1));
}

std::string ParentFolder(const std::string& folder) {
  std::string trimmed = folder;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const auto slash = trimmed.rfind('/');
  if (slash == std::string::npos) return trimmed;
  return slash == 0 ? std::string("/") : trimmed.substr(0, slash);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace ratemover::desktop
