#include "platform/win32/win32_user_hives.h"

// sddl.h needs the types of windows.h.
#include <sddl.h>

#include <utility>

namespace kdr {
namespace {

constexpr wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

bool IsSystemSid(const std::wstring& sid) {
  return sid == L"S-1-5-18" || sid == L"S-1-5-19" || sid == L"S-1-5-20";
}

// A REG_SZ or REG_EXPAND_SZ value, expanded; empty when there is none.
std::wstring ReadPath(HKEY key, const wchar_t* name) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0) {
    return {};
  }
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  DWORD got = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &got) !=
      ERROR_SUCCESS) {
    return {};
  }
  text.resize(got / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  if (type != REG_EXPAND_SZ) return text;
  DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (needed == 0) return {};
  std::wstring expanded(needed, L'\0');
  DWORD used = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed);
  if (used == 0 || used > needed) return {};
  expanded.resize(used - 1);
  return expanded;
}

// The account's name, without its domain; empty when the SID names no account now.
std::wstring AccountName(const std::wstring& sid_text) {
  PSID sid = nullptr;
  if (!ConvertStringSidToSidW(sid_text.c_str(), &sid)) return {};
  std::wstring name(256, L'\0');
  std::wstring domain(256, L'\0');
  DWORD name_size = static_cast<DWORD>(name.size());
  DWORD domain_size = static_cast<DWORD>(domain.size());
  SID_NAME_USE use;
  BOOL found =
      LookupAccountSidW(nullptr, sid, name.data(), &name_size, domain.data(), &domain_size, &use);
  LocalFree(sid);
  if (!found || name_size >= name.size()) return {};
  name.resize(name_size);
  return name;
}

std::wstring LastName(const std::wstring& folder) {
  size_t end = folder.find_last_not_of(L"\\/");
  if (end == std::wstring::npos) return {};
  size_t start = folder.find_last_of(L"\\/", end);
  return folder.substr(start == std::wstring::npos ? 0 : start + 1,
                       end - (start == std::wstring::npos ? 0 : start + 1) + 1);
}

}  // namespace

LONG ListProfiles(std::vector<ProfileEntry>* profiles) {
  HKEY list = nullptr;
  LONG result =
      RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_READ | KEY_WOW64_64KEY, &list);
  if (result != ERROR_SUCCESS) return result;
  for (DWORD index = 0;; ++index) {
    wchar_t sid[256];
    DWORD length = 256;
    result = RegEnumKeyExW(list, index, sid, &length, nullptr, nullptr, nullptr, nullptr);
    if (result == ERROR_NO_MORE_ITEMS) {
      result = ERROR_SUCCESS;
      break;
    }
    // A SID is far shorter than a key name may be: a longer name is no profile.
    if (result == ERROR_MORE_DATA) continue;
    if (result != ERROR_SUCCESS) break;
    std::wstring sid_text(sid, length);
    if (IsSystemSid(sid_text) || sid_text.find(L'.') != std::wstring::npos) continue;
    HKEY profile = nullptr;
    if (RegOpenKeyExW(list, sid, 0, KEY_QUERY_VALUE, &profile) != ERROR_SUCCESS) continue;
    std::wstring folder = ReadPath(profile, L"ProfileImagePath");
    RegCloseKey(profile);
    if (folder.empty()) continue;
    std::wstring name = AccountName(sid_text);
    if (name.empty()) name = LastName(folder);
    profiles->push_back({sid_text, folder, name});
  }
  RegCloseKey(list);
  return result;
}

UserHive& UserHive::operator=(UserHive&& other) noexcept {
  if (this != &other) {
    (void)Release();
    root_ = std::exchange(other.root_, nullptr);
    loaded_ = other.loaded_;
  }
  return *this;
}

LONG UserHive::OpenLoaded(const std::wstring& sid, bool writable) {
  if (LONG released = Release(); released != ERROR_SUCCESS) return released;
  HKEY key = nullptr;
  LONG result =
      RegOpenKeyExW(HKEY_USERS, sid.c_str(), 0, KEY_READ | (writable ? KEY_WRITE : 0), &key);
  if (result != ERROR_SUCCESS) return result;
  root_ = key;
  loaded_ = false;
  return ERROR_SUCCESS;
}

LONG UserHive::LoadFile(const std::wstring& file, bool writable) {
  if (LONG released = Release(); released != ERROR_SUCCESS) return released;
  DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ERROR_FILE_NOT_FOUND;
  HKEY key = nullptr;
  LONG result = RegLoadAppKeyW(file.c_str(), &key, writable ? KEY_ALL_ACCESS : KEY_READ,
                               writable ? REG_PROCESS_APPKEY : 0, 0);
  if (result != ERROR_SUCCESS) return result;
  root_ = key;
  loaded_ = true;
  // A root that answers nothing is no hive: told now, not read as one without keys.
  DWORD subkeys = 0;
  result = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr);
  if (result != ERROR_SUCCESS) {
    (void)Release();
    return result;
  }
  return ERROR_SUCCESS;
}

LONG UserHive::Release() {
  if (!root_) return ERROR_SUCCESS;
  LONG result = RegCloseKey(std::exchange(root_, nullptr));
  loaded_ = false;
  return result;
}

}  // namespace kdr
