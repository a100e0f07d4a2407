#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
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

// What a store read from a file keeps of where each key and value came from (its origin, one
// number, so that a large store holds nothing more): the line that sets a value (its first,
// when it goes on over several), or the key line of the last block that opened a key. The
// lines that follow it are found again in the file when it is written back (RegistryFileOrigins).
namespace registry_file_origin {

// A key the file holds without a block of its own: a root, or a key above the key of a block.
inline constexpr uint32_t kKeyInFile = MemoryRegistry::kNoOrigin - 1;

// Whether `origin` is a line (not kKeyInFile or kNoOrigin).
inline bool IsLine(uint32_t origin) { return origin < kKeyInFile; }

// A line past what an origin can hold leaves a key without a block and a value without lines: a
// write-back then adds what changed after them, where it is read last and wins all the same.
inline uint32_t OfKey(size_t key_line) {
  return key_line < kKeyInFile ? static_cast<uint32_t>(key_line) : kKeyInFile;
}
inline uint32_t OfValue(size_t first_line) {
  return first_line < kKeyInFile ? static_cast<uint32_t>(first_line) : MemoryRegistry::kNoOrigin;
}

}  // namespace registry_file_origin

// The lines of the file that go with each origin, from its items in file order: a value's last
// line, and the last line of a key's block. A value on one line needs nothing held.
class RegistryFileOrigins {
 public:
  void Add(const RegistryFileItem& item) {
    switch (item.kind) {
      case RegistryFileItem::Kind::kKey:
        open_ = longer_.size();
        longer_.emplace_back(item.first_line, item.first_line);
        break;
      case RegistryFileItem::Kind::kBlockEnd:
        if (open_ < longer_.size()) longer_[open_].second = item.last_line;
        open_ = kNone;
        break;
      case RegistryFileItem::Kind::kValue:
        if (item.last_line != item.first_line)
          longer_.emplace_back(item.first_line, item.last_line);
        break;
      case RegistryFileItem::Kind::kKeyDeletion:
      case RegistryFileItem::Kind::kValueDeletion:
        break;
    }
  }

  // The last line of what starts at `origin` (a line).
  size_t LastLine(uint32_t origin) const {
    auto it =
        std::lower_bound(longer_.begin(), longer_.end(), std::pair<size_t, size_t>{origin, 0});
    return it != longer_.end() && it->first == origin ? it->second : origin;
  }

 private:
  static constexpr size_t kNone = static_cast<size_t>(-1);
  std::vector<std::pair<size_t, size_t>> longer_;  // first and last lines, in file order
  size_t open_ = kNone;                            // the block of longer_ not yet ended
};

}  // namespace kdr
