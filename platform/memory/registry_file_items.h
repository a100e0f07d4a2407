#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/memory/registry_file.h"
#include "platform/memory/registry_file_lines.h"

// The key blocks and value lines a registry editor file holds below one branch, with the lines
// they take, so that a write-back can drop those of keys and values the store no longer holds.
namespace kdr {

struct RegistryFileItem {
  // kKeyDeletion: a "[-key]" line; kValueDeletion: a "name"=- line in the key of the block
  // before it (what they delete was read before them, so the lines of it are no longer live).
  enum class Kind { kKey, kValue, kBlockEnd, kKeyDeletion, kValueDeletion };
  Kind kind = Kind::kKey;
  std::vector<std::string> path;  // kKey, kKeyDeletion: the key below the root, in code page 932
  std::string name;               // kValue, kValueDeletion: its name
  size_t first_line = 0;          // kKey: its key line; kValue: its first line
  size_t last_line = 0;           // kValue: its last line; kBlockEnd: the block's last line
};

// Hands the items of `bytes` (whose lines are `lines`, the caller's index, so that a large file
// is not indexed twice at once) below `branch` to `each`, in file order (a key's block ends
// before the next key line); false when the file cannot be read there (LoadRegistryFile refuses
// it too). Only one item is held at a time.
bool EachRegistryFileItem(std::string_view bytes, const registry_text::FileLines& lines,
                          const RegistryBranch& branch,
                          const std::function<void(RegistryFileItem&)>& each);

}  // namespace kdr
