#include "platform/folder_reach.h"

#include <string>

#include "platform/cp932.h"

namespace kdr {
namespace {

// The root of `path`: "X:\" for a drive, "\\server\share\" for a share; empty for anything else.
std::string RootOf(std::string_view path) {
  if (path.size() >= 2 && path[1] == ':') return std::string(path.substr(0, 2)) + "\\";
  if (!path.starts_with("\\\\")) return std::string();
  std::vector<size_t> separators = FindCp932Chars(path.substr(2), '\\');
  if (separators.empty()) return std::string();
  size_t share_end = separators.size() >= 2 ? separators[1] : path.size() - 2;
  return std::string(path.substr(0, 2 + share_end)) + "\\";
}

}  // namespace

FolderReach ReachFolder(FileSystem& files, std::string_view path, FileResult* why,
                        FolderIdentities* known) {
  // Its number is enough to know it is there, and asks no volume.
  uint64_t number = 0;
  FileResult found = files.FolderNumber(path, &number);
  if (found) {
    if (known) known->KnowNumber(path, number);
    return FolderReach::kThere;
  }
  // A file where the folder would be is a folder the user does not have.
  if (found.code != kNotFound && found.code != kPathNotFound && found.code != kDirectoryName) {
    *why = found;
    return FolderReach::kUnreachable;
  }
  std::string root = RootOf(path);
  if (root.empty()) return FolderReach::kMissing;
  FileResult reached = files.FolderNumber(root, &number);
  if (reached) return FolderReach::kMissing;
  *why = reached;
  return FolderReach::kUnreachable;
}

}  // namespace kdr
