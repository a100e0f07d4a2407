#include "cli/work_folder_lock.h"

#include <fstream>
#include <system_error>

namespace kdr::cli {

LockResult LockWorkFolder(const std::filesystem::path& work_folder, int wait_ms,
                          std::unique_ptr<HostFileLock>* lock, std::string* error) {
  std::filesystem::path env = work_folder / "kdr4env";
  std::filesystem::path path = env / std::string(kWorkLockName);
  std::error_code ec;
  std::filesystem::create_directory(env, ec);
  if (ec) {
    *error = "cannot create " + HostPathToUtf8(env) + ": " + ec.message();
    return LockResult::kFailed;
  }
  std::filesystem::file_status status = std::filesystem::symlink_status(path, ec);
  if (status.type() == std::filesystem::file_type::not_found) {
    // Opened to append, so a lock file another run made meanwhile is neither replaced nor cut.
    std::ofstream create(path, std::ios::binary | std::ios::app);
    if (!create) {
      *error = "cannot create " + HostPathToUtf8(path);
      return LockResult::kFailed;
    }
  } else if (status.type() != std::filesystem::file_type::regular) {
    *error = HostPathToUtf8(path) + " is not a regular file";
    return LockResult::kFailed;
  }
  LockResult result = LockHostFile(path, false, wait_ms, lock, error);
  if (result != LockResult::kLocked) *error = HostPathToUtf8(path) + ": " + *error;
  return result;
}

}  // namespace kdr::cli
