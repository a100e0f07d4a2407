#pragma once

#include <string_view>

#include "platform/file_result.h"

// POSIX errors in Win32's numbering, so that logs read the same on every platform.
namespace kdr {

// The Win32 error number closest to `error` (an errno value).
Status Win32CodeFromErrno(int error);

// A failed call from the current errno, or from `error`, keeping the errno beside its Win32 number.
FileResult FailFromErrno(std::string_view call, std::string_view path);
FileResult FailFromErrno(int error, std::string_view call, std::string_view path);

}  // namespace kdr
