#include "engine/copy_totals.h"

namespace kdr {

CopyTotals MeasureCopies(FileSystem& files, const std::vector<FolderCopy>& copies) {
  CopyTotals totals;
  for (const FolderCopy& copy : copies) files.CountFiles(copy.source, &totals.files, &totals.bytes);
  return totals;
}

void StartCopying(const RunContext& run, Edition edition, bool migrate) {
  // Told before counting, which takes a while for a large folder.
  run.StartPhase(RunPhase::kCopying, edition);
  if (!run.progress || !run.progress->ShowsTotals()) return;
  std::vector<DataPathValue> unreadable;
  CopyTotals totals = MeasureCopies(
      run.services.files, PlannedCopies(run.services.registry, run.services.files, run.paths,
                                        run.services.max_path, edition, migrate, &unreadable));
  run.StartPhase(RunPhase::kCopying, edition, totals.files, totals.bytes);
}

}  // namespace kdr
