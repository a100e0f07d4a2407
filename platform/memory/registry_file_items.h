#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/memory/registry_file.h"

// The key blocks and value lines a registry editor file holds below one branch, with the lines
// they take, so that a write-back can drop those of keys and values the store no longer holds.
namespace kdr {

struct RegistryFileItem {
  bool is_value = false;
  std::vector<std::string> path;  // a key block: the key below the root, in code page 932
  std::string name;               // a value line: its name, in the key of the block before it
  size_t first_line = 0;          // a key block: its key line; a value: its first line
  size_t last_line = 0;           // the block's or the value's last line
};

// The items of `bytes` below `branch`, in file order; false when the file cannot be read there
// (LoadRegistryFile refuses it too).
bool ListRegistryFileItems(std::string_view bytes, const RegistryBranch& branch,
                           std::vector<RegistryFileItem>* items);

}  // namespace kdr
