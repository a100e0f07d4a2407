#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <utility>

// A run holds the files it works on for its whole length, so that two runs never interleave.
namespace kdr::cli {

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

// Locks the file `path` names (through a symbolic link, its target), waiting at most
// `wait_ms` for another run that holds it. With `for_writing`, a file that cannot be written
// back as it is (read-only, another user's, hard-linked) is refused (kFailed) before anything
// is done. *error says why on kBusy and kFailed.
LockResult LockHostFile(const std::filesystem::path& path, bool for_writing, int wait_ms,
                        std::unique_ptr<HostFileLock>* lock, std::string* error);

}  // namespace kdr::cli
