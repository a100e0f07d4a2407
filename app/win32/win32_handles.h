#pragma once

#include <windows.h>

#include <utility>

// Owners of the window-side handles: each one releases its handle in its destructor, exactly
// once, and can be moved but not copied.
namespace kdr::win {

// An icon loaded with LoadImageW (not shared), destroyed with DestroyIcon.
class UniqueIcon {
 public:
  UniqueIcon() = default;
  explicit UniqueIcon(HICON icon) : icon_(icon) {}
  ~UniqueIcon() { reset(); }
  UniqueIcon(UniqueIcon&& other) noexcept : icon_(std::exchange(other.icon_, nullptr)) {}
  UniqueIcon& operator=(UniqueIcon&& other) noexcept {
    if (this != &other) reset(std::exchange(other.icon_, nullptr));
    return *this;
  }
  UniqueIcon(const UniqueIcon&) = delete;
  UniqueIcon& operator=(const UniqueIcon&) = delete;

  HICON get() const { return icon_; }
  void reset(HICON icon = nullptr) {
    if (icon_) DestroyIcon(icon_);
    icon_ = icon;
  }

 private:
  HICON icon_ = nullptr;
};

// A window this program created and must destroy (the tooltip control), destroyed with
// DestroyWindow unless it is already gone.
class UniqueWindow {
 public:
  UniqueWindow() = default;
  explicit UniqueWindow(HWND window) : window_(window) {}
  ~UniqueWindow() { reset(); }
  UniqueWindow(UniqueWindow&& other) noexcept : window_(std::exchange(other.window_, nullptr)) {}
  UniqueWindow& operator=(UniqueWindow&& other) noexcept {
    if (this != &other) reset(std::exchange(other.window_, nullptr));
    return *this;
  }
  UniqueWindow(const UniqueWindow&) = delete;
  UniqueWindow& operator=(const UniqueWindow&) = delete;

  HWND get() const { return window_; }
  void reset(HWND window = nullptr) {
    if (window_ && IsWindow(window_)) DestroyWindow(window_);
    window_ = window;
  }

 private:
  HWND window_ = nullptr;
};

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
