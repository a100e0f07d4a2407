#pragma once

#include <string>
#include <string_view>

#include "platform/result_codes.h"

// The outcome of one file-system call: success, or the Win32 error number (on every platform)
// with the call and the path that failed, so that a log can say "CreateDirectory C:\x: 5 access
// denied" instead of "could not be created".
namespace kdr {

struct [[nodiscard]] FileResult {
  Status code = kOk;
  std::string call;  // the platform call that failed: "CreateDirectory", "rename", ...
  std::string path;  // the path it was given, as the caller named it (code page 932 or host)
  // The host's own error beside `code`, where the host does not number its errors as Win32
  // does: "errno 13 EACCES". Empty on Windows.
  std::string host_error;

  static FileResult Ok() { return {}; }
  static FileResult Fail(Status code, std::string_view call, std::string_view path) {
    return FileResult{code, std::string(call), std::string(path), {}};
  }
  bool ok() const { return code == kOk; }
  explicit operator bool() const { return ok(); }
};

// A short English name for a Win32 error number: "access denied", "disk full".
std::string_view ErrorName(Status code);

// "<code> <name>", as "5 access denied".
std::string DescribeCode(Status code);

// "<call> <path>: <code> <name> (<host error>)" in UTF-8, for logs and the console. `path` is
// taken as code page 932 and shown as UTF-8; a failure without a path leaves it out.
std::string Describe(const FileResult& result);

}  // namespace kdr
