#include <windows.h>

#include <string>
#include <vector>

#include "platform/run_identity.h"

namespace kdr {
namespace {

std::string Utf8(const wchar_t* wide, DWORD length) {
  if (length == 0) return "?";
  int bytes =
      WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return "?";
  std::string text(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), text.data(), bytes, nullptr,
                      nullptr);
  return text;
}

}  // namespace

std::string MachineName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &length)) return "?";
  return Utf8(name, length);
}

std::string UserName() {
  // User names are at most 256 characters (UNLEN); the call says when a longer one is wanted.
  std::vector<wchar_t> name(257);
  DWORD size = static_cast<DWORD>(name.size());
  if (!GetUserNameW(name.data(), &size)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return "?";
    name.resize(size);
    if (!GetUserNameW(name.data(), &size)) return "?";
  }
  // The size counts the terminator.
  return Utf8(name.data(), size > 0 ? size - 1 : 0);
}

}  // namespace kdr
