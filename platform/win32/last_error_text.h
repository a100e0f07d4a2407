#pragma once

#include <windows.h>

#include <string>

namespace kdr {

// "error N (the system's text)" for a Win32 error code, in UTF-8; "error N" alone when the
// system has no text for it.
std::string LastErrorText(DWORD code);

}  // namespace kdr
