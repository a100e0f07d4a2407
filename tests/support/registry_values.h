#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/memory/memory_registry.h"
#include "platform/registry.h"

// Filling and counting a registry in a line, for tests, benchmarks and fuzz targets. Through the
// interface, as the product writes: a path the registry refuses sets nothing.
namespace kdr {

inline void SetRaw(Registry& registry, RootKey root, std::string_view path, std::string_view name,
                   uint32_t type, std::string_view data) {
  RegistryKeyPtr key;
  if (registry.CreateKey(root, path, &key) == kOk) (void)key->SetValue(name, type, data);
}

// REG_SZ with its terminator.
inline void SetString(Registry& registry, RootKey root, std::string_view path,
                      std::string_view name, std::string_view text) {
  std::string data(text);
  data.push_back('\0');
  SetRaw(registry, root, path, name, kRegSz, data);
}

inline void SetDword(Registry& registry, RootKey root, std::string_view path, std::string_view name,
                     uint32_t value) {
  SetRaw(registry, root, path, name, kRegDword, DwordData(value));
}

inline void MakeKey(Registry& registry, RootKey root, std::string_view path) {
  RegistryKeyPtr key;
  (void)registry.CreateKey(root, path, &key);
}

namespace registry_values_detail {
inline void Count(const MemoryRegistry::Node& node, size_t* keys, size_t* values) {
  for (const MemoryRegistry::Value& value : node.values()) *values += !value.removed();
  for (const auto& child : node.children()) {
    ++*keys;
    Count(*child.second, keys, values);
  }
}
}  // namespace registry_values_detail

// Keys and values below both roots (the roots themselves are not counted).
inline size_t CountKeys(const MemoryRegistry& registry) {
  size_t keys = 0, values = 0;
  for (RootKey root : {RootKey::kLocalMachine, RootKey::kCurrentUser}) {
    registry_values_detail::Count(registry.Root(root), &keys, &values);
  }
  return keys;
}

inline size_t CountValues(const MemoryRegistry& registry) {
  size_t keys = 0, values = 0;
  for (RootKey root : {RootKey::kLocalMachine, RootKey::kCurrentUser}) {
    registry_values_detail::Count(registry.Root(root), &keys, &values);
  }
  return values;
}

}  // namespace kdr
