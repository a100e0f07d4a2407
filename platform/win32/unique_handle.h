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
  // A destructor cannot report; whoever wrote through the handle calls Close() and checks.
  ~UniqueHandle() { (void)Close(); }

  HANDLE get() const { return handle_; }
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  // Closes now; false when the close failed (a write that did not reach the disk).
  [[nodiscard]] bool Close() {
    bool held = ok();
    HANDLE handle = std::exchange(handle_, INVALID_HANDLE_VALUE);
    return !held || Closer(handle) != 0;
  }
  // Takes `handle` after closing the one held, as the destructor does.
  void Reset(HANDLE handle) {
    (void)Close();
    handle_ = handle;
  }

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

using FileHandle = UniqueHandle<CloseHandle>;
using FindHandle = UniqueHandle<FindClose>;

}  // namespace kdr
