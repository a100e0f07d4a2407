#pragma once

#include <string>
#include <vector>

#include "platform/memory/memory_registry.h"

// Every key and value of a store in store order, names as stored: two stores with the same
// dump hold the same keys, values, types and data in the same order. A key is given by its
// depth and its own name (in store order that fixes its parent), so that a deep key does not
// make the dump grow with the square of its depth.
namespace kdr::fuzz {

struct DumpItem {
  bool is_value = false;
  RootKey root = RootKey::kLocalMachine;
  size_t depth = 0;  // of the key, or of the value's key
  std::string name;  // of the key (empty for a root) or of the value
  uint32_t type = 0;
  std::string data;
  friend bool operator==(const DumpItem&, const DumpItem&) = default;
};

inline void DumpNode(const MemoryRegistry::Node& node, RootKey root, size_t depth,
                     std::vector<DumpItem>* items) {
  items->push_back({false, root, depth, node.name(), 0, {}});
  for (const MemoryRegistry::Value& v : node.values()) {
    items->push_back({true, root, depth, std::string(v.name()), v.type(), std::string(v.data())});
  }
  for (const auto& entry : node.children()) DumpNode(*entry.second, root, depth + 1, items);
}

inline std::vector<DumpItem> Dump(const MemoryRegistry& registry) {
  std::vector<DumpItem> items;
  for (RootKey root : {RootKey::kLocalMachine, RootKey::kCurrentUser}) {
    DumpNode(registry.Root(root), root, 0, &items);
  }
  return items;
}

}  // namespace kdr::fuzz
