#pragma once

#include <functional>
#include <string_view>

#include "platform/registry.h"

// A registry that must be written out in a format that cannot hold every name or value: what the
// format cannot hold is refused when it is set, never found out when the file is written.
namespace kdr {

// Empty checks take everything.
struct RegistryLimits {
  std::function<bool(std::string_view key_name)> key_name;
  std::function<bool(std::string_view name, uint32_t type, std::string_view data)> value;
};

// CreateKey of a new key with a name the limits refuse, and SetValue of a value they refuse, fail
// with kInvalidParam; everything else goes to `inner` as it is.
class LimitedRegistry : public Registry {
 public:
  LimitedRegistry(Registry& inner, RegistryLimits limits)
      : inner_(inner), limits_(std::move(limits)) {}

  using Registry::OpenKey;
  [[nodiscard]] Status OpenKey(RootKey root, std::string_view path, uint32_t access,
                               RegistryKeyPtr* key, RegistryView view) override;
  [[nodiscard]] Status CreateKey(RootKey root, std::string_view path, RegistryKeyPtr* key) override;
  [[nodiscard]] Status DeleteKey(RootKey root, std::string_view path) override {
    return inner_.DeleteKey(root, path);
  }

 private:
  class Key;
  RegistryKeyPtr Wrap(RegistryKeyPtr inner, uint32_t access);

  Registry& inner_;
  RegistryLimits limits_;
};

}  // namespace kdr
