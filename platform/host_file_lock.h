#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
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

// Why a file was not locked, for a front end to say in its own words.
struct LockError {
  enum class Kind {
    kNone,
    kUnopenable,  // with `cause`
    kNotAFile,
    kReadOnly,       // its attributes or mode say so
    kReadOnlyMount,  // the file system says so, with `cause`
    kOtherOwner,
    kHardLinks,
    kUnlockable,  // with `cause`
    kInUse,       // another run held it for the whole wait
  };
  Kind kind = Kind::kNone;
  std::string cause;     // the system's text: strerror's (English) or Windows' own
  int error_number = 0;  // the errno behind `cause` (POSIX only)
};

// In English: "it is read-only; the migrated settings could not be written back".
inline std::string LockErrorText(const LockError& error) {
  constexpr std::string_view kNotWrittenBack = "; the migrated settings could not be written back";
  switch (error.kind) {
    case LockError::Kind::kUnopenable:
      return "cannot open it: " + error.cause;
    case LockError::Kind::kNotAFile:
      return "it is not a regular file";
    case LockError::Kind::kReadOnly:
      return "it is read-only" + std::string(kNotWrittenBack);
    case LockError::Kind::kReadOnlyMount:
      return "it is read-only (" + error.cause + ", errno " + std::to_string(error.error_number) +
             ")" + std::string(kNotWrittenBack);
    case LockError::Kind::kOtherOwner:
      return "it belongs to another user, whose ownership a write-back would take";
    case LockError::Kind::kHardLinks:
      return "it has several hard links, which a write-back would break apart";
    case LockError::Kind::kUnlockable:
      return "cannot lock it: " + error.cause;
    case LockError::Kind::kInUse:
      return "another run is using it";
    case LockError::Kind::kNone:
      break;
  }
  return {};
}

// One try at locking the file `path` names (through a symbolic link, its target): kBusy,
// without an error, when another run holds it now. With `for_writing`, a file that cannot be
// written back as it is (read-only, another user's, hard-linked) is refused (kFailed) before
// anything is done. Defined once per platform, in the platform's service library.
LockResult TryLockHostFile(const std::filesystem::path& path, bool for_writing,
                           std::unique_ptr<HostFileLock>* lock, LockError* error);

// As TryLockHostFile, waiting at most `wait_ms` for another run that holds it. *error says why
// on kBusy and kFailed. Inline, so that this layer needs nothing of the one below it.
inline LockResult LockHostFile(const std::filesystem::path& path, bool for_writing, int wait_ms,
                               std::unique_ptr<HostFileLock>* lock, LockError* error) {
  constexpr int kRetryMs = 100;
  for (int waited = 0;; waited += kRetryMs) {
    LockResult result = TryLockHostFile(path, for_writing, lock, error);
    if (result != LockResult::kBusy) return result;
    if (waited >= wait_ms) {
      error->kind = LockError::Kind::kInUse;
      return LockResult::kBusy;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kRetryMs));
  }
}

}  // namespace kdr
