#pragma once

#include <windows.h>

#include <utility>

// Owners of the window-side handles: each one releases its handle in its destructor, exactly
// once, and can be moved but not copied.
namespace kdr::win {

// The owner of one handle of type `Handle`, given back with `Release` (never called on null).
template <typename Handle, void (*Release)(Handle)>
class UniqueUserHandle {
 public:
  UniqueUserHandle() = default;
  explicit UniqueUserHandle(Handle handle) : handle_(handle) {}
  ~UniqueUserHandle() { reset(); }
  UniqueUserHandle(UniqueUserHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueUserHandle& operator=(UniqueUserHandle&& other) noexcept {
    if (this != &other) reset(std::exchange(other.handle_, nullptr));
    return *this;
  }
  UniqueUserHandle(const UniqueUserHandle&) = delete;
  UniqueUserHandle& operator=(const UniqueUserHandle&) = delete;

  Handle get() const { return handle_; }
  void reset(Handle handle = nullptr) {
    if (handle_) Release(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = nullptr;
};

inline void DestroyLoadedIcon(HICON icon) { DestroyIcon(icon); }
inline void DestroyWindowIfAlive(HWND window) {
  if (IsWindow(window)) DestroyWindow(window);
}

// An icon loaded with LoadImageW (not shared), destroyed with DestroyIcon.
using UniqueIcon = UniqueUserHandle<HICON, DestroyLoadedIcon>;

// A window this program created and must destroy (the tooltip control), destroyed with
// DestroyWindow unless it is already gone.
using UniqueWindow = UniqueUserHandle<HWND, DestroyWindowIfAlive>;

// A window timer, stopped with KillTimer.
class ScopedTimer {
 public:
  ScopedTimer() = default;
  ~ScopedTimer() { Stop(); }
  ScopedTimer(const ScopedTimer&) = delete;
  ScopedTimer& operator=(const ScopedTimer&) = delete;

  // Starts timer `id` of `window` with a period of `milliseconds`; false when the system
  // refused it. A timer already running is stopped first.
  bool Start(HWND window, UINT_PTR id, UINT milliseconds) {
    Stop();
    if (SetTimer(window, id, milliseconds, nullptr) == 0) return false;
    window_ = window;
    id_ = id;
    return true;
  }
  void Stop() {
    if (window_) KillTimer(window_, id_);
    window_ = nullptr;
    id_ = 0;
  }

 private:
  HWND window_ = nullptr;
  UINT_PTR id_ = 0;
};

}  // namespace kdr::win
