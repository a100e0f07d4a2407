// Saves a key of the current user's registry as a hive file, as RegSaveKeyW writes one:
//   save_key SUBKEY FILE
// The tests make the NTUSER.DAT of a second user with it. Exit 0 when saved.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 64;
  // Saving a key asks for the backup privilege, which an administrator has but must enable.
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", &privileges.Privileges[0].Luid)) {
      AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    CloseHandle(token);
  }
  HKEY key = nullptr;
  LONG result = RegOpenKeyExW(HKEY_CURRENT_USER, argv[1], 0, KEY_READ, &key);
  if (result == ERROR_SUCCESS) {
    result = RegSaveKeyW(key, argv[2], nullptr);
    RegCloseKey(key);
  }
  if (result != ERROR_SUCCESS) std::fprintf(stderr, "save_key: error %ld\n", result);
  return result == ERROR_SUCCESS ? 0 : 1;
}
