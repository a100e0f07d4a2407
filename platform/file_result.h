#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

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

// Whether a failure says nothing is there (2 or 3): the one failure many callers expect.
inline bool IsNotFound(const FileResult& result) {
  return result.code == kNotFound || result.code == kPathNotFound;
}

// A value, or the failure that kept it from being had. It reads as std::optional<T> (so a
// caller that needs no cause may keep it as one), with the failure beside it in error().
template <class T>
class [[nodiscard]] Result : public std::optional<T> {
 public:
  Result(T value) : std::optional<T>(std::move(value)) {}  // NOLINT: a value is a success
  Result(FileResult error) : error_(std::move(error)) {
    if (error_.ok()) error_ = FileResult::Fail(kInvalidParam, "", "");
  }
  // Ok() when there is a value.
  const FileResult& error() const { return error_; }
  bool not_found() const { return !this->has_value() && IsNotFound(error_); }

 private:
  FileResult error_;
};

// Equal values, or both without one (whatever the failure), as between two std::optional:
// without these, std::optional's comparison with a value would take a Result for the value.
template <class T>
bool operator==(const Result<T>& a, const Result<T>& b) {
  return static_cast<const std::optional<T>&>(a) == static_cast<const std::optional<T>&>(b);
}
template <class T>
bool operator==(const Result<T>& a, const std::optional<T>& b) {
  return static_cast<const std::optional<T>&>(a) == b;
}
template <class T>
bool operator==(const std::optional<T>& a, const Result<T>& b) {
  return a == static_cast<const std::optional<T>&>(b);
}
template <class T>
bool operator!=(const Result<T>& a, const Result<T>& b) {
  return !(a == b);
}
template <class T>
bool operator!=(const Result<T>& a, const std::optional<T>& b) {
  return !(a == b);
}
template <class T>
bool operator!=(const std::optional<T>& a, const Result<T>& b) {
  return !(a == b);
}

// A short English name for a Win32 error number: "access denied", "disk full".
std::string_view ErrorName(Status code);

// "<code> <name>", as "5 access denied".
std::string DescribeCode(Status code);

// "<call> <path>: <code> <name> (<host error>)" in UTF-8, for logs and the console. `path` is
// taken as code page 932 and shown as UTF-8; a failure without a path leaves it out.
std::string Describe(const FileResult& result);

}  // namespace kdr
