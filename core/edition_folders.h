#pragma once

#include "core/edition.h"
#include "core/work_paths.h"
#include "platform/file_system.h"

namespace kdr {

// Creates the work root, the edition's folder and its data subfolders. When the edition folder
// cannot be created (it exists already, say), its subfolders are left alone.
void MakeEditionFolders(FileSystem& files, const WorkPaths& paths, Edition edition);

}  // namespace kdr
