#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/edition.h"
#include "core/log_text.h"
#include "core/work_paths.h"
#include "engine/migration_plan.h"
#include "engine/services.h"
#include "store/edition_plan.h"
#include "store/store_check.h"

// What Collect and Migrate would do, for the dry runs; nothing is written.
namespace kdr {

// A file a Collect would copy into the store.
struct CollectPreviewFile {
  std::string source;
  std::string destination;
  uint64_t size = 0;
  bool replaces = false;
};

struct CollectPreview {
  Edition edition = Edition::kPersonal;
  bool settings_file_replaced = false;      // the edition's settings file exists already
  std::vector<std::string> absent_sources;  // data folders that do not exist: nothing to copy
  std::vector<CollectPreviewFile> files;
  std::vector<PlanFailure> failures;
};

// One entry per installed edition of `old_editions`, in their order.
std::vector<CollectPreview> PreviewCollect(const Services& services, const WorkPaths& paths,
                                           EditionCode old_editions);

struct MigratePreview {
  Edition edition = Edition::kPersonal;
  EditionCheck check;
  bool planned = false;  // false: refused for the store (check) or not planned (error)
  PlanError error;
  EditionPlan plan;
};

// One entry per edition of `editions`, in their order.
std::vector<MigratePreview> PreviewMigrate(const Services& services, const WorkPaths& paths,
                                           EditionCode editions);

// A value's data as a person reads it; a credential never. Its text may hold control
// characters, which the output escapes as it does in a log (AppendEscaped).
LogText ValueShown(std::string_view name, uint32_t type, std::string_view data);

// Whether the value's data is masked where it is shown (a credential).
bool ValueHidden(std::string_view name);

}  // namespace kdr
