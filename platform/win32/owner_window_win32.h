#pragma once

#include <windows.h>

#include "platform/owner_window.h"

// An owner window is a window handle by another name.
namespace kdr {

inline OwnerWindow* ToOwnerWindow(HWND window) { return reinterpret_cast<OwnerWindow*>(window); }
inline HWND ToWindowHandle(OwnerWindow* owner) { return reinterpret_cast<HWND>(owner); }

}  // namespace kdr
