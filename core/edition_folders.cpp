#include "core/edition_folders.h"

#include <string>

namespace kdr {

void MakeEditionFolders(FileSystem& files, const WorkPaths& paths, Edition edition) {
  // After the first Collect the root exists already.
  files.CreateFolder(paths.root);
  const std::string& folder = paths.Folder(edition);
  if (!files.CreateFolder(folder)) return;
  for (std::string_view name : Traits(edition).data_subfolders) {
    files.CreateFolder(folder + "\\" + std::string(name));
  }
}

}  // namespace kdr
