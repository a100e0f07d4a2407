#pragma once

#include <windows.h>

#include <cstddef>
#include <map>
#include <optional>
#include <string>

// Where a folder copy lets the shell copy write: a temporary folder of the tool's own inside the
// destination (so on its volume), named as the atomic writer names its temporary files
// (temp_file_name.h), which every listing of the tool leaves out. A file reaches its real name by
// one rename once it is whole, so a process ended during the copy never leaves a part of a file
// under the name of one; the folder it leaves is swept as the atomic writer's leftovers are.
// Paths are UTF-16 and end with a backslash unless said otherwise.
namespace kdr {

// What lies below a folder: how many items, and the longest path of one relative to it, in
// UTF-16 units or ANSI code page bytes, whichever is longer (at least 260 when a path below it
// is too long for the plain Win32 calls).
struct FolderExtent {
  size_t items = 0;
  size_t longest = 0;
};

// Walks `folder` (links are not walked into); nullopt when a folder cannot be listed.
std::optional<FolderExtent> MeasureFolder(const std::wstring& folder);

// Makes a new staging folder in `destination` and returns its name (ASCII); nullopt, with the
// last error set, when none can be made.
std::optional<std::string> MakeStagingFolder(const std::wstring& destination);

// Renames every file below `staging` to the same place below `destination`, replacing a file
// there; a folder the destination lacks is renamed whole, one it has is merged, nothing in it
// removed. Names of the tool's temporary files stay behind (at the levels that are merged). A
// file held open by another program is tried again for a moment. Each file that could not take
// the place of the one there is added to `not_moved`, by its destination path, with the error.
void MoveStagedFiles(const std::wstring& staging, const std::wstring& destination,
                     std::map<std::wstring, DWORD>* not_moved);

// Removes folder `folder` (no trailing backslash) with everything in it; a link inside is
// removed, never followed. False when anything is left.
bool RemoveTree(const std::wstring& folder);

}  // namespace kdr
