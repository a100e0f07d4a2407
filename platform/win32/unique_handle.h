#pragma once

#include <windows.h>

#include <utility>

// The one owner of a kernel32 handle: `Closer` is CloseHandle or FindClose. Closes exactly once,
// movable, not copyable.
namespace kdr {

template <BOOL(WINAPI* Closer)(HANDLE)>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.handle_, INVALID_HANDLE_VALUE));
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { Reset(INVALID_HANDLE_VALUE); }

  HANDLE get() const { return handle_; }
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  // Closes the handle held (false when that fails) and takes `handle`.
  bool Reset(HANDLE handle = INVALID_HANDLE_VALUE) {
    bool closed = true;
    if (ok()) closed = Closer(handle_) != 0;
    handle_ = handle;
    return closed;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

using FileHandle = UniqueHandle<CloseHandle>;
using FindHandle = UniqueHandle<FindClose>;

}  // namespace kdr
