#include "platform/file_result.h"

#include "platform/text_encoding.h"

namespace kdr {

std::string_view ErrorName(Status code) {
  switch (code) {
    case kOk:
      return "success";
    case kNotFound:
      return "file not found";
    case kPathNotFound:
      return "path not found";
    case kTooManyOpenFiles:
      return "too many open files";
    case kAccessDenied:
      return "access denied";
    case kNotEnoughMemory:
      return "not enough memory";
    case kInvalidDrive:
      return "no such drive";
    case kNotSameDevice:
      return "not the same device";
    case kWriteProtect:
      return "write-protected";
    case kNotReady:
      return "the device is not ready";
    case kBadNetPath:
      return "network path not found";
    case kBadNetName:
      return "network name not found";
    case kGeneralFailure:
      return "device failure";
    case kSharingViolation:
      return "in use by another process";
    case kHandleDiskFull:
    case kDiskFull:
      return "disk full";
    case kFileExists:
    case kAlreadyExists:
      return "already exists";
    case kInvalidParam:
      return "invalid parameter";
    case kInvalidName:
      return "invalid name";
    case kDirNotEmpty:
      return "folder not empty";
    case kFilenameTooLong:
      return "name too long";
    case kFileTooLarge:
      return "file too large";
    case kDirectoryName:
      return "not a folder";
    case kIoDevice:
      return "I/O error";
    case kDeviceName:
      return "a name Windows keeps for a device";
    case kCancelled:
      return "cancelled";
    case kNotSupported:
      return "not supported";
    case kCantAccessFile:
      return "cannot access the file";
    case kCantResolveFilename:
      return "cannot resolve the name (link loop)";
    case kDiskQuotaExceeded:
      return "disk quota exceeded";
    default:
      break;
  }
  return "error";
}

std::string DescribeCode(Status code) {
  return std::to_string(code) + " " + std::string(ErrorName(code));
}

std::string Describe(const FileResult& result) {
  std::string text = result.call.empty() ? std::string("file call") : result.call;
  if (!result.path.empty()) text += " " + PathForDisplay(result.path);
  text += ": " + DescribeCode(result.code);
  if (!result.host_error.empty()) text += " (" + result.host_error + ")";
  return text;
}

}  // namespace kdr
