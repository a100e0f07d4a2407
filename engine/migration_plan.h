#pragma once

#include <cstdint>
#include <map>
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

// Moves each planned file that replaces one with the same content (read and hashed here) from
// plan->files to plan->kept: the copy leaves it, and the backup has nothing of it to save.
// Only a file the user had: one an unfinished Migrate was writing keeps its place in the
// backup, which gives back what was there before that one.
void KeepFilesInPlace(FileSystem& files, EditionPlan* plan);

// Leaves each file of a plan's `kept` out of the copy while it is still the file read; one
// written since is neither kept nor replaced (it is not in the backup).
class PlannedKeeps : public CopyKeeper {
 public:
  explicit PlannedKeeps(FileSystem& files) : files_(files) {}
  void Set(const std::vector<KeptFile>& kept);
  bool Keeps(std::string_view source, std::string_view destination, FileDigest* digest,
             FileResult* refused) override;

 private:
  FileSystem& files_;
  std::map<std::string, KeptFile> kept_;  // by destination
};

}  // namespace kdr
