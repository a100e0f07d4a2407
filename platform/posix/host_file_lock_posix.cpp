#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/host_file_lock.h"
#include "platform/posix/resolved_path.h"
#include "platform/posix/unique_fd.h"

namespace kdr {
namespace {

LockError Refusal(LockError::Kind kind, int error_number = 0) {
  LockError error;
  error.kind = kind;
  if (error_number != 0) error.cause = std::strerror(error_number);
  error.error_number = error_number;
  return error;
}

}  // namespace

LockResult TryLockHostFile(const std::filesystem::path& path, bool for_writing,
                           std::unique_ptr<HostFileLock>* lock, LockError* error) {
  std::filesystem::path target = ResolvedPath(path);
  for (;;) {
    // Without O_NONBLOCK a FIFO's open waits for a writer: it would hang before being refused.
    UniqueFd fd(::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
      *error = Refusal(LockError::Kind::kUnopenable, errno);
      return LockResult::kFailed;
    }
    if (!S_ISREG(st.st_mode)) {
      *error = Refusal(LockError::Kind::kNotAFile);
      return LockResult::kFailed;
    }
    if (for_writing) {
      // A file made read-only stays so, even for an administrator who could write it.
      if ((st.st_mode & S_IWUSR) == 0) {
        *error = Refusal(LockError::Kind::kReadOnly);
        return LockResult::kFailed;
      }
      // A read-only mount (a dead PC's disk mounted with -o ro) says so by its errno.
      if (::access(target.c_str(), W_OK) != 0) {
        *error = Refusal(LockError::Kind::kReadOnlyMount, errno);
        return LockResult::kFailed;
      }
      if (st.st_uid != ::geteuid() && ::geteuid() != 0) {
        *error = Refusal(LockError::Kind::kOtherOwner);
        return LockResult::kFailed;
      }
      if (st.st_nlink > 1) {
        *error = Refusal(LockError::Kind::kHardLinks);
        return LockResult::kFailed;
      }
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK || errno == EINTR) return LockResult::kBusy;
      *error = Refusal(LockError::Kind::kUnlockable, errno);
      return LockResult::kFailed;
    }
    // The run that held it may have replaced the file: hold the one the path names now.
    struct stat now {};
    if (::stat(target.c_str(), &now) == 0 && now.st_ino == st.st_ino && now.st_dev == st.st_dev) {
      *lock = std::make_unique<HandleLock<UniqueFd>>(std::move(fd));
      return LockResult::kLocked;
    }
  }
}

}  // namespace kdr
