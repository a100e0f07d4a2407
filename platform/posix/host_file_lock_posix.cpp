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

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

LockResult TryLockHostFile(const std::filesystem::path& path, bool for_writing,
                           std::unique_ptr<HostFileLock>* lock, std::string* error) {
  std::filesystem::path target = ResolvedPath(path);
  for (;;) {
    // Without O_NONBLOCK a FIFO's open waits for a writer: it would hang before being refused.
    UniqueFd fd(::open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
      *error = ErrnoText("cannot open it");
      return LockResult::kFailed;
    }
    if (!S_ISREG(st.st_mode)) {
      *error = "it is not a regular file";
      return LockResult::kFailed;
    }
    if (for_writing) {
      // A file made read-only stays so, even for an administrator who could write it.
      if ((st.st_mode & S_IWUSR) == 0) {
        *error = "it is read-only; the migrated settings could not be written back";
        return LockResult::kFailed;
      }
      // A read-only mount (a dead PC's disk mounted with -o ro) says so by its errno.
      if (::access(target.c_str(), W_OK) != 0) {
        int cause = errno;
        *error = "it is read-only (" + std::string(std::strerror(cause)) + ", errno " +
                 std::to_string(cause) + "); the migrated settings could not be written back";
        return LockResult::kFailed;
      }
      if (st.st_uid != ::geteuid() && ::geteuid() != 0) {
        *error = "it belongs to another user, whose ownership a write-back would take";
        return LockResult::kFailed;
      }
      if (st.st_nlink > 1) {
        *error = "it has several hard links, which a write-back would break apart";
        return LockResult::kFailed;
      }
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK || errno == EINTR) return LockResult::kBusy;
      *error = ErrnoText("cannot lock it");
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
