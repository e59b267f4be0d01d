#include "config/sharing_group.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "common/text.h"

namespace ratemover {

namespace {

// The effective group and the supplementary ones, as the kernel checks access.
bool ProcessIsInGroup(gid_t group) {
  if (::getegid() == group) return true;
  const int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  const int got = ::getgroups(count, groups.data());
  for (int i = 0; i < got; ++i) {
    if (groups[static_cast<std::size_t>(i)] == group) return true;
  }
  return false;
}

std::string GroupName(gid_t group) {
  std::vector<char> buffer(16 * 1024);
  struct group entry {};
  struct group* found = nullptr;
  if (::getgrgid_r(group, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->gr_name != nullptr && *found->gr_name != '\0') {
    return found->gr_name;
  }
  return DecimalText(static_cast<std::int64_t>(group));
}

}  // namespace

std::optional<std::string> SharingGroupOutside(const std::string& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
  const bool shared = (info.st_mode & S_ISGID) != 0 && (info.st_mode & S_IWGRP) != 0;
  if (!shared || ProcessIsInGroup(info.st_gid)) return std::nullopt;
  return GroupName(info.st_gid);
}

}  // namespace ratemover
