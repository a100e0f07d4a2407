// Another user's registry as an administrator reaches it: a hive file loaded for the run, and
// the registry with HKEY_CURRENT_USER paths below that user's root.
#include <gtest/gtest.h>

#include <string>

#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_user_hives.h"
#include "tests/win32/running_under_wine.h"

namespace kdr {
namespace {

constexpr char kScratch[] = "Software\\kdr4tose-test\\user-hives";

std::wstring TempFile(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder) + name;
}

// Saving a key asks for the backup privilege, which an administrator has but must enable.
void EnableBackupPrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return;
  TOKEN_PRIVILEGES privileges{};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (LookupPrivilegeValueW(nullptr, L"SeBackupPrivilege", &privileges.Privileges[0].Luid)) {
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  }
  CloseHandle(token);
}

// HKEY_CURRENT_USER paths of the registry land below the root it was given, nowhere else.
TEST(UserHivesTest, CurrentUserPathsGoBelowTheGivenRoot) {
  Win32RegKey root;
  ASSERT_EQ(root.Create(HKEY_CURRENT_USER, kScratch), ERROR_SUCCESS);
  Win32Registry user(root.handle());
  RegistryKeyPtr key;
  ASSERT_EQ(user.CreateKey(RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE", &key), kOk);
  ASSERT_EQ(key->SetValue("PRV_PATH", kRegSz, "C:\\x\\"), kOk);
  key.reset();
  Win32Registry current;
  EXPECT_EQ(
      current.OpenKey(RootKey::kCurrentUser, std::string(kScratch) + "\\Software\\VTQ\\KodrelSE",
                      kKeyQueryValue, &key),
      kOk);
  EXPECT_EQ(current.OpenKey(RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE\\x-not-here",
                            kKeyQueryValue, &key),
            kNotFound);
  // HKEY_LOCAL_MACHINE stays the machine's.
  EXPECT_EQ(user.OpenKey(RootKey::kLocalMachine, "Software", kKeyQueryValue, &key), kOk);
  EXPECT_EQ(user.DeleteKey(RootKey::kCurrentUser, "Software\\VTQ\\KodrelSE"), kOk);
  root.Close();
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\kdr4tose-test");
}

// RegLoadAppKeyW makes an empty hive of a name that does not exist: a profile without
// NTUSER.DAT must stay without one.
TEST(UserHivesTest, MissingHiveFileIsNotMade) {
  std::wstring file = TempFile(L"kdr4tose-no-such-hive.dat");
  DeleteFileW(file.c_str());
  for (bool writable : {false, true}) {
    UserHive hive;
    EXPECT_EQ(hive.LoadFile(file, writable), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(hive.root(), nullptr);
    EXPECT_EQ(GetFileAttributesW(file.c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

// A saved key loads as a hive whose values read back; where the system cannot load it (Wine 8
// has RegLoadAppKeyW as a stub), the load fails and holds nothing, never a root that reads as
// an empty registry.
TEST(UserHivesTest, SavedHiveLoadsOrFailsWhole) {
  Win32RegKey source;
  ASSERT_EQ(source.Create(HKEY_CURRENT_USER, kScratch), ERROR_SUCCESS);
  ASSERT_EQ(source.WriteValue("Marker", REG_SZ, std::string("here", 5)), ERROR_SUCCESS);
  std::wstring file = TempFile(L"kdr4tose-user-hive.dat");
  DeleteFileW(file.c_str());
  EnableBackupPrivilege();
  LONG saved = RegSaveKeyW(source.handle(), file.c_str(), nullptr);
  source.Close();
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\kdr4tose-test");
  if (saved != ERROR_SUCCESS) GTEST_SKIP() << "RegSaveKeyW: " << saved;
  UserHive hive;
  LONG loaded = hive.LoadFile(file, /*writable=*/false);
  if (!contract::RunningUnderWine()) {
    EXPECT_EQ(loaded, ERROR_SUCCESS);
  }
  if (loaded == ERROR_SUCCESS) {
    Win32RegKey root(hive.root());
    DWORD type = 0;
    std::string data;
    EXPECT_EQ(root.ReadValue("Marker", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, std::string("here", 5));
    root.Take();
    EXPECT_EQ(hive.Release(), ERROR_SUCCESS);
  } else {
    EXPECT_EQ(hive.root(), nullptr);
  }
  EXPECT_EQ(hive.Release(), ERROR_SUCCESS);  // nothing held, nothing to release
  DeleteFileW(file.c_str());
}

}  // namespace
}  // namespace kdr
