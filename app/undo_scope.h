#pragma once

#include <cstddef>

#include "core/work_paths.h"
#include "platform/file_system.h"
#include "platform/registry.h"
#include "store/undo.h"

namespace kdr {

// Where a Migrate writes, as the registry names it now: the new product's branch and each
// edition's destination folders (an edition whose path values cannot be read has none).
UndoScope MigrateUndoScope(Registry& registry, FileSystem& files, const WorkPaths& paths,
                           size_t max_path);

}  // namespace kdr
