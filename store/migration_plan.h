#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/edition.h"
#include "core/work_paths.h"
#include "platform/file_system.h"
#include "platform/profile_file.h"
#include "platform/registry.h"
#include "store/verified_copy.h"

// What a Migrate of one edition would change, found before anything is written: for the
// backup that undo restores from, and for the preview.
namespace kdr {

struct PlannedValue {
  std::string key;  // below HKEY_CURRENT_USER
  std::string name;
  bool existed = false;
  uint32_t old_type = 0;
  std::string old_data;
  uint32_t new_type = 0;
  std::string new_data;
};

struct PlannedFile {
  std::string source;       // in the store
  std::string destination;  // in the new product's data folder
  bool replaces = false;
  uint64_t old_size = 0;
  FileDigest new_digest;  // the source's
};

struct EditionPlan {
  Edition edition = Edition::kPersonal;
  std::vector<std::string> keys_created;     // parents first
  std::vector<PlannedValue> values;          // created or replaced
  std::vector<std::string> folders_created;  // parents first, no trailing backslash
  std::vector<PlannedFile> files;            // added or replaced
  std::vector<std::string> failures;         // what would fail, in words
};

struct PlanInputs {
  Registry& registry;
  FileSystem& files;
  ProfileFile& profiles;
  const WorkPaths& paths;
  size_t max_path;
  const DigestCache* known;  // digests of store files already read (may be null)
};

// Plans the edition's Migrate: the settings file imported into a copy of the new product's
// branch held in memory, the data copies from the path values that copy then holds. Reads
// only. False with *error when the branch or a folder could not be read.
bool PlanMigrate(const PlanInputs& in, Edition edition, EditionPlan* plan, std::string* error);

}  // namespace kdr
