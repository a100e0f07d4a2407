#pragma once

#include <windows.h>

// Wine, where its behaviour differs from Windows (each test that asks says how).
namespace kdr::contract {

inline bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace kdr::contract
