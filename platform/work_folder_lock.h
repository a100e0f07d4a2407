#pragma once

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/host_file_lock.h"

// One run at a time writes a work folder: two Collects at once would leave one run's settings
// file beside the other's manifest and read back each other's half-made copies.
namespace kdr {

inline constexpr std::string_view kWorkLockName = "kdr4tose.lock";

// Locks kdr4env\kdr4tose.lock below the host folder `work_folder` (creating kdr4env and the
// empty lock file when missing), waiting at most `wait_ms` for another run that holds it.
// *error says why on kBusy and kFailed (a lock path that is not a regular file is refused,
// never followed).
inline LockResult LockWorkFolder(const std::filesystem::path& work_folder, int wait_ms,
                                 std::unique_ptr<HostFileLock>* lock, std::string* error) {
  auto shown = [](const std::filesystem::path& path) {
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
  };
  std::filesystem::path env = work_folder / "kdr4env";
  std::filesystem::path path = env / std::string(kWorkLockName);
  std::error_code ec;
  std::filesystem::create_directory(env, ec);
  if (ec) {
    *error = "cannot create " + shown(env) + ": " + ec.message();
    return LockResult::kFailed;
  }
  std::filesystem::file_status status = std::filesystem::symlink_status(path, ec);
  // A folder the user may not look into says so, not that the lock is something else.
  if (ec && status.type() != std::filesystem::file_type::not_found) {
    *error = "cannot read " + shown(path) + ": " + ec.message();
    return LockResult::kFailed;
  }
  if (status.type() == std::filesystem::file_type::not_found) {
    // Opened to append, so a lock file another run made meanwhile is neither replaced nor cut.
    std::ofstream create(path, std::ios::binary | std::ios::app);
    if (!create) {
      *error = "cannot create " + shown(path);
      return LockResult::kFailed;
    }
  } else if (status.type() != std::filesystem::file_type::regular) {
    *error = shown(path) + " is not a regular file";
    return LockResult::kFailed;
  }
  LockError why;
  LockResult result = LockHostFile(path, false, wait_ms, lock, &why);
  if (result != LockResult::kLocked) *error = shown(path) + ": " + LockErrorText(why);
  return result;
}

// How the window's commands reach the work folder's lock: its kdr4env folder is a path as the
// file system service takes it, which only the platform knows how to turn into a host path.
class WorkFolderLocks {
 public:
  virtual ~WorkFolderLocks() = default;
  // One try, as LockWorkFolder with no wait, for the work folder whose kdr4env is `env_folder`.
  virtual LockResult TryLock(std::string_view env_folder, std::unique_ptr<HostFileLock>* lock,
                             std::string* error) = 0;
};

}  // namespace kdr
