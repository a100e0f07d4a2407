#include "engine/copy_totals.h"

namespace kdr {

CopyTotals MeasureCopies(FileSystem& files, const std::vector<FolderCopy>& copies) {
  CopyTotals totals;
  for (const FolderCopy& copy : copies) files.CountFiles(copy.source, &totals.files, &totals.bytes);
  return totals;
}

}  // namespace kdr
