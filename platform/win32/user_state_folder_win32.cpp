#include <windows.h>

#include <string>
#include <vector>

#include "platform/user_state_folder.h"

namespace kdr {

std::string UserStateFolder() {
  DWORD size = GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
  if (size == 0) return {};
  std::vector<wchar_t> wide(size);
  DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", wide.data(), size);
  if (length == 0 || length >= size) return {};
  // Without best fit: a name the code page lacks would otherwise become another folder's name.
  BOOL lossy = FALSE;
  int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                  static_cast<int>(length), nullptr, 0, nullptr, &lossy);
  if (bytes <= 0 || lossy) return {};
  std::string folder(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(length),
                      folder.data(), bytes, nullptr, &lossy);
  if (lossy) return {};
  return folder + "\\kdr4tose";
}

}  // namespace kdr
