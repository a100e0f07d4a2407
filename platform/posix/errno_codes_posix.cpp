#include <cerrno>

#include "platform/posix/errno_codes.h"

namespace kdr {

Status Win32CodeFromErrno(int error) {
  switch (error) {
    case 0:
      return kOk;
    case ENOENT:
      return kNotFound;
    case ENOTDIR:
      return kPathNotFound;
    case EMFILE:
    case ENFILE:
      return kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:  // Windows refuses to open a folder as a file with "access denied"
      return kAccessDenied;
    case ENOMEM:
      return kNotEnoughMemory;
    case EXDEV:
      return kNotSameDevice;
    case EROFS:
      return kWriteProtect;
    case EBUSY:
    case ETXTBSY:
      return kSharingViolation;
    case ENOSPC:
      return kDiskFull;
    case EEXIST:
      return kAlreadyExists;
    case EINVAL:
      return kInvalidParam;
    case ENOTEMPTY:
      return kDirNotEmpty;
    case ENAMETOOLONG:
      return kFilenameTooLong;
    case EFBIG:
      return kFileTooLarge;
    case EIO:
      return kIoDevice;
    case ENOTSUP:
      return kNotSupported;
    case ELOOP:
      return kCantResolveFilename;
    case EDQUOT:
      return kDiskQuotaExceeded;
    default:
      break;
  }
  return kGeneralFailure;
}

FileResult FailFromErrno(std::string_view call, std::string_view path) {
  int error = errno;
  return FileResult::Fail(Win32CodeFromErrno(error), call, path);
}

}  // namespace kdr
