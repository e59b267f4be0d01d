#pragma once
// Where the program lives, and the edge between the program's text and the
// file system's names.
#include <string>
#include <string_view>

namespace ratemover {

// The directory of the running executable, as Windows-1250 text, ending in "/".
std::string ProgramDir();

// The file-system name (UTF-8) of a path held as Windows-1250 text.
std::string NativePath(std::string_view cp1250Path);

// True when the path names an existing file (a directory does not count).
bool IsExistingFile(std::string_view cp1250Path);

}  // namespace ratemover
