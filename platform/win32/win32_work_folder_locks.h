#pragma once

#include "platform/win32/wide_text.h"
#include "platform/work_folder_lock.h"

namespace kdr {

// The work folder's lock, its kdr4env folder being a Windows path already (in the ANSI code
// page, as the window's paths are).
class Win32WorkFolderLocks : public WorkFolderLocks {
 public:
  LockResult TryLock(std::string_view env_folder, std::unique_ptr<HostFileLock>* lock,
                     std::string* error) override {
    return LockWorkFolder(std::filesystem::path(AnsiToWide(env_folder)).parent_path(), 0, lock,
                          error);
  }
};

}  // namespace kdr
