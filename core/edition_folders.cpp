#include "core/edition_folders.h"

#include <string>

namespace kdr {

void MakeEditionFolders(FileSystem& files, const WorkPaths& paths, Edition edition) {
  // After the first Collect the root exists already; a root that cannot be made fails the
  // edition's folder just below.
  (void)files.CreateFolder(paths.root);
  const std::string& folder = paths.Folder(edition);
  if (!files.CreateFolder(folder)) return;
  for (std::string_view name : Traits(edition).data_subfolders) {
    // Each copy makes sure of its destination again and logs it when that fails.
    (void)files.CreateFolder(folder + "\\" + std::string(name));
  }
}

}  // namespace kdr
