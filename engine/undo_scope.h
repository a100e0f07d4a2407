#pragma once

#include <cstddef>

#include "core/work_paths.h"
#include "engine/services.h"
#include "platform/file_system.h"
#include "platform/registry.h"
#include "store/undo.h"

namespace kdr {

// Where a Migrate writes, as the registry names it now: the new product's branch and each
// edition's destination folders (an edition whose path values cannot be read has none).
UndoScope MigrateUndoScope(Registry& registry, FileSystem& files, const WorkPaths& paths,
                           size_t max_path);

// Takes back the Migrate whose backup is `name` (empty: the newest not undone), within the
// scope the registry gives now, and records in the work folder's log (or the user's own folder's,
// when the work folder cannot be written) what was not restored and the result.
UndoResult UndoLastMigrate(const Services& services, const WorkPaths& paths, std::string_view name,
                           bool force, const UndoObserver& observer);

}  // namespace kdr
