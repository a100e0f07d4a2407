#pragma once

// Result codes of the platform services. They keep the numbers Win32 gives them so that the
// Win32 implementations pass them through unchanged; "not found" is an ordinary result.
namespace kdr {

using Status = long;

inline constexpr Status kOk = 0;             // ERROR_SUCCESS
inline constexpr Status kNotFound = 2;       // ERROR_FILE_NOT_FOUND
inline constexpr Status kAccessDenied = 5;   // ERROR_ACCESS_DENIED
inline constexpr Status kInvalidParam = 87;  // ERROR_INVALID_PARAMETER
inline constexpr Status kMoreData = 234;     // ERROR_MORE_DATA
inline constexpr Status kNoMoreItems = 259;  // ERROR_NO_MORE_ITEMS

}  // namespace kdr
