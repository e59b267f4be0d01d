#pragma once
// The group through which operators share the settings' folder: the folder is
// group-writable and setgid, so that every file in it stays the group's.
#include <optional>
#include <string>

namespace ratemover {

// The name of the group that shares the folder (its number when the system
// has no name for it), when the folder is shared that way and this process is
// not in that group; none otherwise, or when the folder cannot be examined.
std::optional<std::string> SharingGroupOutside(const std::string& folder);

}  // namespace ratemover
