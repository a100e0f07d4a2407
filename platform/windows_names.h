#pragma once

#include <string_view>

#include "platform/result_codes.h"

// The file and folder names Windows can hold. Windows keeps some names for devices: a file
// opened by such a name is the device (reading "COM1" waits on the serial port), so the tool
// never opens one, on any platform; a store made elsewhere must not carry one.
namespace kdr {

// How a name's bytes are written: the tool's code page 932, or a POSIX host's UTF-8 (where the
// superscript digits of "COM¹" can occur; code page 932 has none).
enum class NameText { kCp932, kUtf8 };

// CON, PRN, AUX, NUL, COM0-9, LPT0-9, COM¹²³, LPT¹²³, CONIN$ and CONOUT$, in any case, with
// any extension and with trailing dots and spaces ("com1.txt", "aux.", "LPT9 ", "nul .x").
bool IsWindowsDeviceName(std::string_view name, NameText text);

// Whether the last name of a backslash path (a trailing backslash ignored) is a device name.
bool EndsInWindowsDeviceName(std::string_view cp932_path);

// kOk for a name Windows can hold as written; otherwise the result code that says why not:
// kDeviceName, or kInvalidName for a name that has a control character or one of \/:*?"<>|,
// ends with a dot or a space, or is empty, "." or "..".
Status CheckWindowsName(std::string_view name, NameText text);

}  // namespace kdr
