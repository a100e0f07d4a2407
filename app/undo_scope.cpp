#include "app/undo_scope.h"

#include <string>
#include <vector>

#include "datafolders/data_folders.h"
#include "settings/settings_import.h"

namespace kdr {

UndoScope MigrateUndoScope(Registry& registry, FileSystem& files, const WorkPaths& paths,
                           size_t max_path) {
  UndoScope scope;
  scope.branch = kNewProductBranch;
  for (Edition edition : kAllEditions) {
    std::vector<std::string> unreadable;
    for (FolderCopy& copy :
         PlannedCopies(registry, files, paths, max_path, edition, /*migrate=*/true, &unreadable)) {
      scope.folders[EditionIndex(edition)].push_back(std::move(copy.destination));
    }
  }
  return scope;
}

}  // namespace kdr
