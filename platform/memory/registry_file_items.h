#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/memory/registry_file.h"

// The key blocks and value lines a registry editor file holds below one branch, with the lines
// they take, so that a write-back can drop those of keys and values the store no longer holds.
namespace kdr {

struct RegistryFileItem {
  enum class Kind { kKey, kValue, kBlockEnd };
  Kind kind = Kind::kKey;
  std::vector<std::string> path;  // kKey: the key below the root, in code page 932
  std::string name;               // kValue: its name, in the key of the block before it
  size_t first_line = 0;          // kKey: its key line; kValue: its first line
  size_t last_line = 0;           // kValue: its last line; kBlockEnd: the block's last line
};

// Hands the items of `bytes` below `branch` to `each`, in file order (a key's block ends before
// the next key line); false when the file cannot be read there (LoadRegistryFile refuses it
// too). Only one item is held at a time.
bool EachRegistryFileItem(std::string_view bytes, const RegistryBranch& branch,
                          const std::function<void(RegistryFileItem&)>& each);

}  // namespace kdr
