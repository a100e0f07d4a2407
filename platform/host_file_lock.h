#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>

// A run holds the files it works on for its whole length, so that two runs never interleave.
// Both programs lock through this one implementation, so that they exclude each other too.
namespace kdr {

// An exclusive hold on a host file for the whole run (released when destroyed).
class HostFileLock {
 public:
  virtual ~HostFileLock() = default;
};
// A lock that goes with the descriptor or handle it was taken through: released when that is
// closed.
template <typename Handle>
class HandleLock : public HostFileLock {
 public:
  explicit HandleLock(Handle handle) : handle_(std::move(handle)) {}

 private:
  Handle handle_;
};

enum class LockResult { kLocked, kBusy, kFailed };

// One try at locking the file `path` names (through a symbolic link, its target): kBusy,
// without an error, when another run holds it now. With `for_writing`, a file that cannot be
// written back as it is (read-only, another user's, hard-linked) is refused (kFailed) before
// anything is done. Defined once per platform, in the platform's service library.
LockResult TryLockHostFile(const std::filesystem::path& path, bool for_writing,
                           std::unique_ptr<HostFileLock>* lock, std::string* error);

// As TryLockHostFile, waiting at most `wait_ms` for another run that holds it. *error says why
// on kBusy and kFailed. Inline, so that this layer needs nothing of the one below it.
inline LockResult LockHostFile(const std::filesystem::path& path, bool for_writing, int wait_ms,
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

}  // namespace kdr
