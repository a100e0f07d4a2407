#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "platform/registry.h"

// The Windows registry through advapi32's 8-bit (ANSI code page) functions: RegOpenKeyExA,
// RegCreateKeyA, RegQueryValueExA, RegEnumKeyExA, RegEnumValueA, RegSetValueExA, RegCloseKey.
namespace kdr {

// Owns one open registry key and closes it when destroyed. Move-only. Every method returns the
// Win32 result code and leaves its out-parameters untouched unless it returns ERROR_SUCCESS.
// Names and data are read whole, whatever their size.
class Win32RegKey {
 public:
  Win32RegKey() = default;
  // Takes ownership of `key`.
  explicit Win32RegKey(HKEY key) : key_(key) {}
  Win32RegKey(Win32RegKey&& other) noexcept
      : key_(other.Take()), name_bytes_(other.name_bytes_), data_bytes_(other.data_bytes_) {}
  Win32RegKey& operator=(Win32RegKey&& other) noexcept;
  Win32RegKey(const Win32RegKey&) = delete;
  Win32RegKey& operator=(const Win32RegKey&) = delete;
  ~Win32RegKey() { Close(); }

  // RegOpenKeyExA(root, path, 0, access). Closes the key held before, whatever the result.
  [[nodiscard]] LONG Open(HKEY root, std::string_view path, REGSAM access);
  // RegCreateKeyA(root, path): opens the key, creating it and every missing key above it.
  [[nodiscard]] LONG Create(HKEY root, std::string_view path);
  void Close();
  // Gives up ownership without closing.
  HKEY Take();
  HKEY handle() const { return key_; }
  bool valid() const { return key_ != nullptr; }

  // RegQueryValueExA, grown until the data fits.
  [[nodiscard]] LONG ReadValue(std::string_view name, DWORD* type, std::string* data) const;
  // RegEnumKeyExA, grown until the name fits.
  [[nodiscard]] LONG EnumKey(DWORD index, std::string* name) const;
  // RegEnumValueA, grown until the name and the data fit. The buffers start from the sizes the
  // key's values needed so far (at first kFirstNameBytes and kFirstDataBytes).
  [[nodiscard]] LONG EnumValue(DWORD index, std::string* name, DWORD* type, std::string* data);
  // RegSetValueExA.
  [[nodiscard]] LONG WriteValue(std::string_view name, DWORD type, std::string_view data) const;
  // RegDeleteValueA.
  [[nodiscard]] LONG RemoveValue(std::string_view name) const;

 private:
  // Most names and data of the tool's keys fit these.
  static constexpr DWORD kFirstNameBytes = 256;
  static constexpr DWORD kFirstDataBytes = 1024;

  HKEY key_ = nullptr;
  // Buffer sizes for EnumValue.
  DWORD name_bytes_ = kFirstNameBytes;
  DWORD data_bytes_ = kFirstDataBytes;
};

// The Registry interface over the real registry. RegistryView::k32Bit and k64Bit open keys with
// KEY_WOW64_32KEY and KEY_WOW64_64KEY.
class Win32Registry : public Registry {
 public:
  // HKEY_CURRENT_USER paths below `current_user`: HKEY_CURRENT_USER itself, or another user's
  // hive, which the caller holds open while this registry is used.
  explicit Win32Registry(HKEY current_user = HKEY_CURRENT_USER) : current_user_(current_user) {}

  using Registry::OpenKey;
  [[nodiscard]] Status OpenKey(RootKey root, std::string_view path, uint32_t access,
                               RegistryKeyPtr* key, RegistryView view) override;
  // RegCreateKeyA; an empty path opens the root itself with query, set and enumerate rights.
  [[nodiscard]] Status CreateKey(RootKey root, std::string_view path, RegistryKeyPtr* key) override;
  // RegDeleteKeyA, which refuses a key that has subkeys.
  [[nodiscard]] Status DeleteKey(RootKey root, std::string_view path) override;

 private:
  HKEY RootHandle(RootKey root) const {
    return root == RootKey::kLocalMachine ? HKEY_LOCAL_MACHINE : current_user_;
  }

  HKEY current_user_;
};

}  // namespace kdr
