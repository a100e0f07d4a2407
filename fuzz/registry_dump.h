#pragma once

#include <string>
#include <vector>

#include "platform/memory/memory_registry.h"

// Every key and value of a store in store order, names as stored: two stores with the same
// dump hold the same keys, values, types and data in the same order.
namespace kdr::fuzz {

struct DumpItem {
  bool is_value = false;
  std::string path;  // "HKLM\..." or "HKCU\..."
  std::string name;
  uint32_t type = 0;
  std::string data;
  friend bool operator==(const DumpItem&, const DumpItem&) = default;
};

inline void DumpNode(const MemoryRegistry::Node& node, const std::string& path,
                     std::vector<DumpItem>* items) {
  items->push_back({false, path, {}, 0, {}});
  for (const MemoryRegistry::Value& v : node.values) {
    items->push_back({true, path, v.name, v.type, v.data});
  }
  for (const auto& entry : node.children) {
    DumpNode(*entry.second, path + "\\" + entry.second->name, items);
  }
}

inline std::vector<DumpItem> Dump(const MemoryRegistry& registry) {
  std::vector<DumpItem> items;
  DumpNode(registry.Root(RootKey::kLocalMachine), "HKLM", &items);
  DumpNode(registry.Root(RootKey::kCurrentUser), "HKCU", &items);
  return items;
}

}  // namespace kdr::fuzz
