#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/edition.h"
#include "core/work_paths.h"
#include "platform/file_system.h"
#include "platform/profile_file.h"
#include "platform/registry.h"
#include "store/edition_plan.h"
#include "store/planned_writes.h"
#include "store/verified_copy.h"

// Planning a Migrate of one edition without writing anything.
namespace kdr {

struct PlanInputs {
  Registry& registry;
  FileSystem& files;
  ProfileFile& profiles;
  const WorkPaths& paths;
  size_t max_path;
  const DigestCache* known;  // digests of store files already read (may be null)
};

// Plans the edition's Migrate: the settings file imported into an empty store held in memory
// and compared with the registry, the data copies from the path values as the import leaves
// them. Reads only. False with *error when a key, a value or a folder could not be read.
// *writes (when given) receives every key and value the import was seen to write, to hold the
// real import to them; a value the import writes more than once with other data is planned even
// when its last data is what the registry holds.
bool PlanMigrate(const PlanInputs& in, Edition edition, EditionPlan* plan, std::string* error,
                 PlannedWrites* writes = nullptr);

}  // namespace kdr
