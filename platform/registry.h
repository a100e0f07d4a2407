#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/result_codes.h"

// The registry as the tool sees it: keys under two roots, reached by backslash paths, holding
// typed values. Names and data are 8-bit strings (code page 932) passed through byte for byte.
namespace kdr {

enum class RootKey { kLocalMachine, kCurrentUser };

// Which registry view a key is opened in on 64-bit Windows. Stores without views ignore it.
enum class RegistryView { kDefault, k32Bit, k64Bit };

// Access rights, with the Win32 numbers.
inline constexpr uint32_t kKeyQueryValue = 0x0001;
inline constexpr uint32_t kKeySetValue = 0x0002;
inline constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;

// Value types, with the Win32 numbers. Other types are carried by their number.
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;

// One open key. Closing happens when the object is destroyed. Every method returns a Win32
// result code and leaves its out-parameters untouched unless it returns kOk.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;

  // Reads the value `name` whole, whatever its size: kOk with its type and data, kNotFound when
  // there is no such value, kAccessDenied when the key was not opened for querying.
  [[nodiscard]] virtual Status QueryValue(std::string_view name, uint32_t* type,
                                          std::string* data) = 0;

  // The subkey at `index` (0 upwards, ascending case-insensitive name order): kOk with its name,
  // kNoMoreItems past the last one, kAccessDenied without enumerate rights.
  [[nodiscard]] virtual Status EnumKey(uint32_t index, std::string* name) = 0;

  // The value at `index` (0 upwards, in the store's order): kOk with its whole name, type and
  // data, kNoMoreItems past the last one, kAccessDenied without query rights.
  [[nodiscard]] virtual Status EnumValue(uint32_t index, std::string* name, uint32_t* type,
                                         std::string* data) = 0;

  // Creates or replaces the value `name` (an existing value of another case keeps its name's
  // case), whatever type it had. kAccessDenied when the key was not opened for setting values.
  [[nodiscard]] virtual Status SetValue(std::string_view name, uint32_t type,
                                        std::string_view data) = 0;

  // Removes the value `name`: kOk, kNotFound when there is none, kAccessDenied without set
  // rights.
  [[nodiscard]] virtual Status DeleteValue(std::string_view name) = 0;
};

using RegistryKeyPtr = std::unique_ptr<RegistryKey>;

// A key that passes every call on to another: a decorator's key overrides what it changes.
class ForwardingRegistryKey : public RegistryKey {
 public:
  explicit ForwardingRegistryKey(RegistryKeyPtr inner) : inner_(std::move(inner)) {}

  [[nodiscard]] Status QueryValue(std::string_view name, uint32_t* type,
                                  std::string* data) override {
    return inner_->QueryValue(name, type, data);
  }
  [[nodiscard]] Status EnumKey(uint32_t index, std::string* name) override {
    return inner_->EnumKey(index, name);
  }
  [[nodiscard]] Status EnumValue(uint32_t index, std::string* name, uint32_t* type,
                                 std::string* data) override {
    return inner_->EnumValue(index, name, type, data);
  }
  [[nodiscard]] Status SetValue(std::string_view name, uint32_t type,
                                std::string_view data) override {
    return inner_->SetValue(name, type, data);
  }
  [[nodiscard]] Status DeleteValue(std::string_view name) override {
    return inner_->DeleteValue(name);
  }

 protected:
  RegistryKey& inner() { return *inner_; }

 private:
  RegistryKeyPtr inner_;
};

// The store. Names match without regard to ASCII case and keep the case they were created with.
class Registry {
 public:
  virtual ~Registry() = default;

  // Opens the existing key `path` (backslash-separated, relative to `root`) with `access`.
  // kOk and *key when it exists and grants the access; kNotFound when it does not exist;
  // kAccessDenied when the store refuses the access.
  [[nodiscard]] virtual Status OpenKey(RootKey root, std::string_view path, uint32_t access,
                                       RegistryKeyPtr* key, RegistryView view) = 0;
  // The same in the default view. Implementations bring it in with `using Registry::OpenKey`.
  [[nodiscard]] Status OpenKey(RootKey root, std::string_view path, uint32_t access,
                               RegistryKeyPtr* key) {
    return OpenKey(root, path, access, key, RegistryView::kDefault);
  }

  // Opens `path`, creating it and every missing key above it, with full access: kOk and *key.
  [[nodiscard]] virtual Status CreateKey(RootKey root, std::string_view path,
                                         RegistryKeyPtr* key) = 0;

  // Removes the key `path`, which must have no subkeys (its values go with it): kOk, kNotFound
  // when it does not exist, kAccessDenied when it has subkeys or the store refuses.
  [[nodiscard]] virtual Status DeleteKey(RootKey root, std::string_view path) = 0;
};

// Little-endian REG_DWORD data.
std::string DwordData(uint32_t value);

}  // namespace kdr
