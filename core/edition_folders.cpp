#include "core/edition_folders.h"

#include <span>
#include <string>

namespace kdr {
namespace {

// Data subfolders of each edition, in creation order.
std::span<const char* const> DataSubfolders(Edition edition) {
  static constexpr const char* kPersonal[] = {"DDBVID", "DDBDAT", "plog", "slog"};
  static constexpr const char* kClient[] = {"DDBVID", "plog"};
  static constexpr const char* kServer[] = {"DDBDAT", "slog"};
  switch (edition) {
    case Edition::kPersonal:
      return kPersonal;
    case Edition::kClient:
      return kClient;
    case Edition::kServer:
      return kServer;
  }
  return {};
}

}  // namespace

int MakeEditionFolders(FileSystem& files, const WorkPaths& paths, Edition edition) {
  // After the first Collect the root exists already.
  files.CreateFolder(paths.root);
  std::span<const char* const> subfolders = DataSubfolders(edition);
  if (subfolders.empty()) return 1;  // not an edition: only the root
  const std::string& folder = paths.Folder(edition);
  if (!files.CreateFolder(folder)) return 0;
  for (const char* name : subfolders) files.CreateFolder(folder + "\\" + name);
  return 1;
}

}  // namespace kdr
