#include "core/work_paths.h"

#include "platform/cp932.h"

namespace kdr {

const std::string& WorkPaths::Folder(Edition edition) const {
  switch (edition) {
    case Edition::kPersonal:
      return personal_folder;
    case Edition::kClient:
      return client_folder;
    case Edition::kServer:
      break;
  }
  return server_folder;
}

const std::string& WorkPaths::SettingsFile(Edition edition) const {
  switch (edition) {
    case Edition::kPersonal:
      return personal_file;
    case Edition::kClient:
      return client_file;
    case Edition::kServer:
      break;
  }
  return server_file;
}

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
  paths->root = paths->executable_folder + "\\kdr4env";
  paths->personal_folder = paths->root + "\\personal";
  paths->personal_file = paths->personal_folder + "\\kdr4reg.fil";
  paths->client_folder = paths->root + "\\client";
  paths->client_file = paths->client_folder + "\\kdr4reg.fil";
  paths->server_folder = paths->root + "\\server";
  paths->server_file = paths->server_folder + "\\kdr4reg.fil";
  return true;
}

}  // namespace kdr
