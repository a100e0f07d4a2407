#include "core/work_paths.h"

#include "platform/cp932.h"

namespace kdr {

std::string ExecutableFolder(std::string_view executable_path) {
  size_t last = FindLastCp932Separator(executable_path);
  if (last == std::string_view::npos) return std::string();
  return std::string(executable_path.substr(0, last));
}

bool InitWorkPaths(std::string_view executable_path, size_t max_path, WorkPaths* paths) {
  return InitWorkPathsFromFolder(ExecutableFolder(executable_path), max_path, paths);
}

bool InitWorkPathsFromFolder(std::string_view folder, size_t max_path, WorkPaths* paths) {
  *paths = WorkPaths{};
  if (folder.empty() || folder.size() + kLongestSuffix > max_path) return false;
  paths->executable_folder.assign(folder);
  paths->root = paths->executable_folder + "\\" + std::string(kWorkRootName);
  for (Edition edition : kAllEditions) {
    EditionPaths& edition_paths = paths->editions[EditionIndex(edition)];
    edition_paths.folder = paths->root + "\\" + std::string(EditionFolderName(edition));
    edition_paths.settings_file = edition_paths.folder + "\\kdr4reg.fil";
  }
  return true;
}

}  // namespace kdr
