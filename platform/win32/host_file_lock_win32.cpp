#include <windows.h>

#include <string>

#include "platform/host_file_lock.h"
#include "platform/win32/last_error_text.h"
#include "platform/win32/unique_handle.h"

namespace kdr {

LockResult TryLockHostFile(const std::filesystem::path& path, bool for_writing,
                           std::unique_ptr<HostFileLock>* lock, LockError* error) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.ok()) {
    error->kind = LockError::Kind::kUnopenable;
    error->cause = LastErrorText(GetLastError());
    return LockResult::kFailed;
  }
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    error->kind = LockError::Kind::kNotAFile;
    return LockResult::kFailed;
  }
  if (for_writing && (attributes & FILE_ATTRIBUTE_READONLY)) {
    error->kind = LockError::Kind::kReadOnly;
    return LockResult::kFailed;
  }
  // A byte-range lock far past the end of the file, so that reading and replacing it stay
  // possible while another run's lock fails.
  OVERLAPPED far_away{};
  far_away.OffsetHigh = 0x7fffffff;
  if (!LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                  &far_away)) {
    return LockResult::kBusy;
  }
  *lock = std::make_unique<HandleLock<FileHandle>>(std::move(file));
  return LockResult::kLocked;
}

}  // namespace kdr
