#pragma once

// Result codes of the platform services. They keep the numbers Win32 gives them so that the
// Win32 implementations pass them through unchanged; "not found" is an ordinary result.
namespace kdr {

using Status = long;

inline constexpr Status kOk = 0;             // ERROR_SUCCESS
inline constexpr Status kNotFound = 2;       // ERROR_FILE_NOT_FOUND
inline constexpr Status kAccessDenied = 5;   // ERROR_ACCESS_DENIED
inline constexpr Status kInvalidParam = 87;  // ERROR_INVALID_PARAMETER
inline constexpr Status kMoreData = 234;     // ERROR_MORE_DATA
inline constexpr Status kNoMoreItems = 259;  // ERROR_NO_MORE_ITEMS
inline constexpr Status kCantRead = 1012;    // ERROR_CANTREAD

// File-system results, with the numbers Win32 gives them; the portable layer maps errno to them.
inline constexpr Status kPathNotFound = 3;            // ERROR_PATH_NOT_FOUND
inline constexpr Status kTooManyOpenFiles = 4;        // ERROR_TOO_MANY_OPEN_FILES
inline constexpr Status kNotEnoughMemory = 8;         // ERROR_NOT_ENOUGH_MEMORY
inline constexpr Status kInvalidDrive = 15;           // ERROR_INVALID_DRIVE
inline constexpr Status kNotSameDevice = 17;          // ERROR_NOT_SAME_DEVICE
inline constexpr Status kWriteProtect = 19;           // ERROR_WRITE_PROTECT
inline constexpr Status kNotReady = 21;               // ERROR_NOT_READY
inline constexpr Status kGeneralFailure = 31;         // ERROR_GEN_FAILURE
inline constexpr Status kSharingViolation = 32;       // ERROR_SHARING_VIOLATION
inline constexpr Status kHandleDiskFull = 39;         // ERROR_HANDLE_DISK_FULL
inline constexpr Status kNotSupported = 50;           // ERROR_NOT_SUPPORTED
inline constexpr Status kBadNetPath = 53;             // ERROR_BAD_NETPATH
inline constexpr Status kBadNetName = 67;             // ERROR_BAD_NET_NAME
inline constexpr Status kFileExists = 80;             // ERROR_FILE_EXISTS
inline constexpr Status kDiskFull = 112;              // ERROR_DISK_FULL
inline constexpr Status kInvalidName = 123;           // ERROR_INVALID_NAME
inline constexpr Status kDirNotEmpty = 145;           // ERROR_DIR_NOT_EMPTY
inline constexpr Status kAlreadyExists = 183;         // ERROR_ALREADY_EXISTS
inline constexpr Status kFilenameTooLong = 206;       // ERROR_FILENAME_EXCED_RANGE
inline constexpr Status kFileTooLarge = 223;          // ERROR_FILE_TOO_LARGE
inline constexpr Status kDirectoryName = 267;         // ERROR_DIRECTORY
inline constexpr Status kIoDevice = 1117;             // ERROR_IO_DEVICE
inline constexpr Status kDeviceName = 1200;           // ERROR_BAD_DEVICE: a name kept for a device
inline constexpr Status kCancelled = 1223;            // ERROR_CANCELLED
inline constexpr Status kCantAccessFile = 1920;       // ERROR_CANT_ACCESS_FILE
inline constexpr Status kCantResolveFilename = 1921;  // ERROR_CANT_RESOLVE_FILENAME
inline constexpr Status kDiskQuotaExceeded =
    1295;  // ERROR_DISK_QUOTA_EXCEEDED (not in MinGW-w64's headers)

}  // namespace kdr
