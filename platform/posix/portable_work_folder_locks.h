#pragma once

#include "platform/posix/portable_file_system.h"
#include "platform/work_folder_lock.h"

namespace kdr {

// The work folder's lock below the host folder its drive is mapped to.
class PortableWorkFolderLocks : public WorkFolderLocks {
 public:
  explicit PortableWorkFolderLocks(const PortableFileSystem& files) : files_(files) {}
  LockResult TryLock(std::string_view env_folder, std::unique_ptr<HostFileLock>* lock,
                     std::string* error) override {
    std::optional<std::filesystem::path> host = files_.HostPath(env_folder);
    if (!host) {
      *error = "no host folder for " + std::string(env_folder);
      return LockResult::kFailed;
    }
    return LockWorkFolder(host->parent_path(), 0, lock, error);
  }

 private:
  const PortableFileSystem& files_;
};

}  // namespace kdr
