#pragma once

#include <filesystem>
#include <string>

#include "platform/file_system.h"

// The copy engine of the portable file system: what SHFileOperationA's FO_COPY does on Windows
// (whole subtrees, missing folders created, same-named files replaced, folders merged, nothing
// deleted), with names in the destination matched as Windows matches them, file times and
// sparse holes kept, each file replaced atomically, and no link followed out of the tree.
namespace kdr {

struct FolderCopyJob {
  std::filesystem::path source;       // an existing folder
  std::filesystem::path destination;  // created when missing
  std::string tool_source;            // the tool's paths of both, ending with a backslash,
  std::string tool_destination;       // for what is reported
  // Nothing is read through a link that leads out of `source_limit`, and nothing is written
  // through a link that leads out of `destination_limit` (both existing folders).
  std::filesystem::path source_limit;
  std::filesystem::path destination_limit;
  CopyObserver* observer = nullptr;  // may be null
};

// Copies every entry of the source into the destination, going on past failures; each item
// that is not copied is reported to the observer. The result is the first failure, if any.
FileResult CopyFolderTree(const FolderCopyJob& job);

}  // namespace kdr
