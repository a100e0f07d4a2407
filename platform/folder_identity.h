#pragma once

#include <string_view>

#include "platform/file_system.h"

// Whether one folder lies inside another, seen through whatever names reach them: a folder
// named through a second drive letter (subst, a mapped drive) or a link is the same folder, so
// folders are compared by identity, and by spelling where a folder does not exist yet.
namespace kdr {

// True when folder `inner` is folder `outer` or lies below it (either may end with a backslash).
bool FolderAtOrBelow(FileSystem& files, std::string_view inner, std::string_view outer);

// True when either folder lies inside the other (or both are one).
inline bool FoldersOverlap(FileSystem& files, std::string_view a, std::string_view b) {
  return FolderAtOrBelow(files, a, b) || FolderAtOrBelow(files, b, a);
}

}  // namespace kdr
