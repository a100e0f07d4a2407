#include "engine/undo_scope.h"

#include <string>
#include <vector>

#include "core/log_lines.h"
#include "datafolders/data_folders.h"
#include "engine/work_log_file.h"
#include "settings/settings_import.h"

namespace kdr {

UndoScope MigrateUndoScope(Registry& registry, FileSystem& files, const WorkPaths& paths,
                           size_t max_path) {
  UndoScope scope;
  scope.branch = kNewProductBranch;
  for (Edition edition : kAllEditions) {
    std::vector<DataPathValue> unreadable;
    for (FolderCopy& copy :
         PlannedCopies(registry, files, paths, max_path, edition, /*migrate=*/true, &unreadable)) {
      scope.folders[EditionIndex(edition)].push_back(std::move(copy.destination));
    }
  }
  return scope;
}

UndoResult UndoLastMigrate(const Services& services, const WorkPaths& paths, std::string_view name,
                           bool force, const UndoObserver& observer) {
  LogLines log;
  log.Comment("undo" + std::string(force ? " --force" : "") + ", " + services.clock().local);
  log.Comment(RunIdentity(services));
  UndoResult result = UndoMigrate(
      services.registry, services.files, BackupPlacesFor(paths, services.user_state_folder), name,
      force, MigrateUndoScope(services.registry, services.files, paths, services.max_path),
      [&](const UndoItem& item) {
        // What was restored is the backup's list; the log keeps what was not (metadata too),
        // which is what a helpdesk asks about.
        if (item.outcome == UndoOutcome::kRefused || item.outcome == UndoOutcome::kFailed ||
            item.reason != UndoReason::kNone) {
          log.Skipped(std::string(UndoOutcomeText(item.outcome)) + ": " + UndoItemName(item),
                      UndoReasonText(item));
        }
        if (observer) observer(item);
      });
  if (!result.error.empty()) {
    log.Skipped("undo", result.error);
  } else {
    log.Done("undo of backup " + Cp932Text(result.backup) + ": " +
             std::to_string(result.Count(UndoOutcome::kRestored)) + " restored, " +
             std::to_string(result.Count(UndoOutcome::kRemoved)) + " removed, " +
             std::to_string(result.Count(UndoOutcome::kRefused)) + " refused, " +
             std::to_string(result.Count(UndoOutcome::kFailed)) + " failed" +
             (result.complete() ? "; everything is as before the Migrate"
                                : "; not everything is as before the Migrate"));
  }
  // Where there is no work tree, undo had nothing to take back: no tree is made for its log.
  (void)AppendToCommandLog(services, paths, log.Take());
  return result;
}

}  // namespace kdr
