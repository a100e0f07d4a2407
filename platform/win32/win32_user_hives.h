#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The registries of the PC's other users, as an administrator reaches them: the profile list,
// the hive of a user who is logged on (HKEY_USERS\<SID>), and a hive file loaded as an
// application hive.
namespace kdr {

// One profile of the profile list.
struct ProfileEntry {
  std::wstring sid;
  std::wstring folder;  // ProfileImagePath, expanded
  std::wstring name;    // the account's name; the profile folder's name when it has none now
};

// Every profile of HKEY_LOCAL_MACHINE\...\ProfileList but the system's own (S-1-5-18, -19, -20)
// and the copies Windows keeps of a damaged one ("<SID>.bak"). A Win32 result code.
LONG ListProfiles(std::vector<ProfileEntry>* profiles);

// One user's hive, held open; released when destroyed. Move-only.
class UserHive {
 public:
  UserHive() = default;
  UserHive(UserHive&& other) noexcept : root_(other.root_), loaded_(other.loaded_) {
    other.root_ = nullptr;
  }
  UserHive& operator=(UserHive&& other) noexcept;
  UserHive(const UserHive&) = delete;
  UserHive& operator=(const UserHive&) = delete;
  ~UserHive() { (void)Release(); }

  // HKEY_USERS\<sid>, when the user's hive is loaded (the user is logged on). ERROR_FILE_NOT_FOUND
  // when it is not.
  [[nodiscard]] LONG OpenLoaded(const std::wstring& sid, bool writable);
  // The hive file `file` loaded as an application hive (RegLoadAppKeyW), held by this process
  // alone while it is writable. ERROR_FILE_NOT_FOUND when there is no such file: the call would
  // make an empty hive of that name.
  [[nodiscard]] LONG LoadFile(const std::wstring& file, bool writable);
  // Closes the hive's root; the last handle of an application hive unloads it.
  [[nodiscard]] LONG Release();

  HKEY root() const { return root_; }
  bool loaded_from_file() const { return loaded_; }

 private:
  HKEY root_ = nullptr;
  bool loaded_ = false;
};

}  // namespace kdr
