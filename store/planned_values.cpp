#include "store/planned_values.h"

#include <algorithm>

namespace kdr {
namespace {

constexpr size_t kBlockBytes = 64 * 1024;

// Numbers as base-128 digits, least significant first, the high bit set on all but the last.
size_t VarintSize(uint64_t n) {
  size_t size = 1;
  while (n >= 0x80) {
    n >>= 7;
    ++size;
  }
  return size;
}

void AppendVarint(uint64_t n, std::string* out) {
  while (n >= 0x80) {
    out->push_back(static_cast<char>((n & 0x7f) | 0x80));
    n >>= 7;
  }
  out->push_back(static_cast<char>(n));
}

// Reads what AppendVarint wrote at *at (the list wrote it, so it is well formed).
uint64_t TakeVarint(const std::string& in, size_t* at) {
  uint64_t n = 0;
  for (int shift = 0;; shift += 7) {
    unsigned char c = static_cast<unsigned char>(in[(*at)++]);
    n |= static_cast<uint64_t>(c & 0x7f) << shift;
    if (!(c & 0x80)) return n;
  }
}

}  // namespace

// A record: key index, old type, new type, existed, the sizes of the name, the old and the new
// data, then their bytes.
void PlannedValues::Add(const PlannedValueRef& value) {
  if (keys_.empty() || keys_.back() != value.key) keys_.emplace_back(value.key);
  const uint64_t numbers[] = {keys_.size() - 1,        value.old_type,    value.new_type,
                              value.existed ? 1u : 0u, value.name.size(), value.old_data.size(),
                              value.new_data.size()};
  size_t size = value.name.size() + value.old_data.size() + value.new_data.size();
  for (uint64_t n : numbers) size += VarintSize(n);
  if (blocks_.empty() || blocks_.back().capacity() - blocks_.back().size() < size) {
    blocks_.emplace_back().reserve(std::max(size, kBlockBytes));
  }
  std::string& block = blocks_.back();
  for (uint64_t n : numbers) AppendVarint(n, &block);
  block.append(value.name).append(value.old_data).append(value.new_data);
  ++count_;
}

PlannedValues::Iterator::Iterator(const PlannedValues* values, size_t block)
    : values_(values), block_(block) {
  Decode();
}

PlannedValues::Iterator& PlannedValues::Iterator::operator++() {
  at_ = next_;
  if (at_ == values_->blocks_[block_].size()) {
    ++block_;
    at_ = 0;
  }
  Decode();
  return *this;
}

void PlannedValues::Iterator::Decode() {
  if (block_ >= values_->blocks_.size()) return;
  const std::string& block = values_->blocks_[block_];
  size_t at = at_;
  uint64_t numbers[7];
  for (uint64_t& n : numbers) n = TakeVarint(block, &at);
  std::string_view bytes(block);
  current_.key = values_->keys_[numbers[0]];
  current_.old_type = static_cast<uint32_t>(numbers[1]);
  current_.new_type = static_cast<uint32_t>(numbers[2]);
  current_.existed = numbers[3] != 0;
  current_.name = bytes.substr(at, numbers[4]);
  at += numbers[4];
  current_.old_data = bytes.substr(at, numbers[5]);
  at += numbers[5];
  current_.new_data = bytes.substr(at, numbers[6]);
  next_ = at + numbers[6];
}

}  // namespace kdr
