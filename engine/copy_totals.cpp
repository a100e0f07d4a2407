#include "engine/copy_totals.h"

#include <string>

namespace kdr {

CopyTotals MeasureCopies(FileSystem& files, const std::vector<FolderCopy>& copies) {
  CopyTotals totals;
  std::vector<std::string> names;
  for (const FolderCopy& copy : copies) {
    names.clear();
    (void)files.ListFiles(copy.source, &names);
    totals.files += names.size();
    for (const std::string& name : names) {
      if (std::optional<FileStamp> stamp = files.Stamp(copy.source + name)) {
        totals.bytes += stamp->size;
      }
    }
  }
  return totals;
}

}  // namespace kdr
