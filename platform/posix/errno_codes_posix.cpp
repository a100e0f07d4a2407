#include <cerrno>
#include <cstring>
#include <string>

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
  return FailFromErrno(errno, call, path);
}

FileResult FailFromErrno(int error, std::string_view call, std::string_view path) {
  FileResult result = FileResult::Fail(Win32CodeFromErrno(error), call, path);
  const char* name = ::strerrorname_np(error);
  result.host_error = "errno " + std::to_string(error) + (name ? " " + std::string(name) : "");
  return result;
}

}  // namespace kdr
