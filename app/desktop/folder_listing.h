#pragma once
// A folder's entries as the file system names them. The toolkit's own listing
// leaves out every name that is not valid UTF-8; this one reads the raw bytes,
// so that such a workbook can be seen and chosen.
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace ratemover::desktop {

struct FolderEntry {
  std::string name;  // the bytes of the name, without the folder
  bool isFolder = false;
  std::int64_t size = 0;
  std::time_t modified = 0;
};

// The entries of the folder, "." and ".." and hidden names (a leading dot) left
// out, each with what a link points to; empty when the folder cannot be read.
std::vector<FolderEntry> ListFolder(const std::string& folder);

// True when the name matches the pattern: "*" stands for any run of bytes,
// letters A to Z match in either case, every other byte matches itself.
bool NameMatches(std::string_view name, std::string_view pattern);

// The folder above the given one ("/" stays "/").
std::string ParentFolder(const std::string& folder);

// The folder and the name joined with one slash.
std::string JoinPath(const std::string& folder, const std::string& name);

}  // namespace ratemover::desktop
