#pragma once

#include <windows.h>

#include <climits>
#include <string>
#include <string_view>

// UTF-8 <-> UTF-16 for the Win32 W functions: the texts the tool shows are kept in UTF-8 and
// converted here, at the window's edge. Invalid sequences become U+FFFD rather than failing,
// so a message is always shown, if imperfectly.
namespace kdr {

inline std::wstring Utf8ToWide(std::string_view text) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return std::wstring();
  int in_size = static_cast<int>(text.size());
  int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), in_size, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(size), L'\0');
  size = MultiByteToWideChar(CP_UTF8, 0, text.data(), in_size, wide.data(), size);
  wide.resize(size > 0 ? static_cast<size_t>(size) : 0);
  return wide;
}

// Text in the ANSI code page (the tool's paths) to UTF-16, as the A functions read it.
inline std::wstring AnsiToWide(std::string_view text) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return std::wstring();
  int in_size = static_cast<int>(text.size());
  int size = MultiByteToWideChar(CP_ACP, 0, text.data(), in_size, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(size), L'\0');
  size = MultiByteToWideChar(CP_ACP, 0, text.data(), in_size, wide.data(), size);
  wide.resize(size > 0 ? static_cast<size_t>(size) : 0);
  return wide;
}

inline std::string WideToUtf8(std::wstring_view text) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return std::string();
  int in_size = static_cast<int>(text.size());
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), in_size, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string utf8(static_cast<size_t>(size), '\0');
  size = WideCharToMultiByte(CP_UTF8, 0, text.data(), in_size, utf8.data(), size, nullptr, nullptr);
  utf8.resize(size > 0 ? static_cast<size_t>(size) : 0);
  return utf8;
}

}  // namespace kdr
