#include "platform/memory/limited_registry.h"

#include <utility>
#include <vector>

#include "platform/memory/memory_registry.h"

namespace kdr {

class LimitedRegistry::Key : public ForwardingRegistryKey {
 public:
  Key(RegistryKeyPtr inner, uint32_t access, const RegistryLimits& limits)
      : ForwardingRegistryKey(std::move(inner)), access_(access), limits_(limits) {}

  Status SetValue(std::string_view name, uint32_t type, std::string_view data) override {
    // A key opened without the right to set values refuses first, as it would alone.
    if ((access_ & kKeySetValue) && !limits_.value(name, type, data)) return kInvalidParam;
    return ForwardingRegistryKey::SetValue(name, type, data);
  }

 private:
  uint32_t access_;
  const RegistryLimits& limits_;
};

RegistryKeyPtr LimitedRegistry::Wrap(RegistryKeyPtr inner, uint32_t access) {
  if (!limits_.value) return inner;
  return std::make_unique<Key>(std::move(inner), access, limits_);
}

Status LimitedRegistry::OpenKey(RootKey root, std::string_view path, uint32_t access,
                                RegistryKeyPtr* key, RegistryView view) {
  RegistryKeyPtr inner;
  Status status = inner_.OpenKey(root, path, access, &inner, view);
  if (status == kOk) *key = Wrap(std::move(inner), access);
  return status;
}

Status LimitedRegistry::CreateKey(RootKey root, std::string_view path, RegistryKeyPtr* key) {
  RegistryKeyPtr inner;
  // Only a key that is not there yet is checked: one that is came from the file.
  if (limits_.key_name && inner_.OpenKey(root, path, kKeyQueryValue, &inner) == kNotFound) {
    std::vector<std::string_view> names;
    if (!SplitKeyPath(path, &names)) return kInvalidParam;
    for (std::string_view name : names) {
      if (!limits_.key_name(name)) return kInvalidParam;
    }
  }
  Status status = inner_.CreateKey(root, path, &inner);
  if (status == kOk)
    *key = Wrap(std::move(inner), kKeyQueryValue | kKeySetValue | kKeyEnumerateSubKeys);
  return status;
}

}  // namespace kdr
