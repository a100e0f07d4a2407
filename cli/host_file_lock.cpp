#include "cli/host_file_lock.h"

#include <chrono>
#include <thread>

#include "cli/cli_platform.h"

namespace kdr::cli {

LockResult LockHostFile(const std::filesystem::path& path, bool for_writing, int wait_ms,
                        std::unique_ptr<HostFileLock>* lock, std::string* error) {
  constexpr int kRetryMs = 100;
  for (int waited = 0;; waited += kRetryMs) {
    LockResult result = TryLockHostFile(path, for_writing, lock, error);
    if (result != LockResult::kBusy) return result;
    if (waited >= wait_ms) {
      *error = "another run is using it";
      return LockResult::kBusy;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kRetryMs));
  }
}

}  // namespace kdr::cli
