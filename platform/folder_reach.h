#pragma once

#include <string_view>

#include "platform/file_system.h"
#include "platform/folder_identity.h"

// Whether a folder is there, and when it is not, whether that is because the user never had it
// or because the drive or share that holds it cannot be reached now (a server or share that is
// not found, a removable drive not plugged in, a drive letter with nothing behind it).
namespace kdr {

enum class FolderReach {
  kThere,
  kMissing,      // not there, on a drive or share that is
  kUnreachable,  // the folder or its drive or share cannot be reached; *why says how
};

// A folder found there tells `known` (may be null) its number.
FolderReach ReachFolder(FileSystem& files, std::string_view path, FileResult* why,
                        FolderIdentities* known = nullptr);

}  // namespace kdr
