#pragma once

#include <string>
#include <vector>

#include "datafolders/data_folders.h"
#include "platform/file_system.h"

namespace kdr {

// For each of `copies` (in the order they are made): true when one of its files would land
// where an earlier copy puts a file of its own, as when two data path values name the same
// folder or one inside the other. The platform's copy would silently replace the earlier file;
// such a copy is refused instead. A copy whose source is not a folder is never marked. False,
// with *unlisted set to it, when a source folder cannot be listed (sources are listed only when
// two destinations are one folder or one lies inside the other).
bool CopiesWritingOverEarlier(FileSystem& files, const std::vector<FolderCopy>& copies,
                              std::vector<bool>* refused, std::string* unlisted);

}  // namespace kdr
