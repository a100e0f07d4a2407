#pragma once

#include "core/edition.h"
#include "core/work_paths.h"
#include "platform/file_system.h"

namespace kdr {

// Creates the work root, the edition's folder and its data subfolders. Returns 1, or 0 when
// the edition folder could not be created (it exists already, say): its subfolders are then
// left alone.
int MakeEditionFolders(FileSystem& files, const WorkPaths& paths, Edition edition);

}  // namespace kdr
