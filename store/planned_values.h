#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

// The values a Migrate plans to create or replace, held compactly: a large edition plans tens of
// thousands, each with its old and new data, and the plan is held while the registry and the
// imported settings are. Each key path is kept once, and each value as one packed record.
namespace kdr {

// One value a Migrate plans to create or replace: owning its texts (Text = std::string), or as
// views into the list that holds it (std::string_view).
template <typename Text>
struct BasicPlannedValue {
  Text key;  // below HKEY_CURRENT_USER
  Text name;
  bool existed = false;
  uint32_t old_type = 0;
  Text old_data;
  uint32_t new_type = 0;
  Text new_data;
};
using PlannedValueRef = BasicPlannedValue<std::string_view>;

class PlannedValues {
 public:
  // Values are kept in the order added.
  void Add(const PlannedValueRef& value);
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }

  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = PlannedValueRef;
    using difference_type = std::ptrdiff_t;
    using pointer = const PlannedValueRef*;
    using reference = const PlannedValueRef&;

    Iterator() = default;
    const PlannedValueRef& operator*() const { return current_; }
    const PlannedValueRef* operator->() const { return &current_; }
    Iterator& operator++();
    Iterator operator++(int) {
      Iterator before = *this;
      ++*this;
      return before;
    }
    friend bool operator==(const Iterator& a, const Iterator& b) {
      return a.block_ == b.block_ && a.at_ == b.at_;
    }

   private:
    friend class PlannedValues;
    Iterator(const PlannedValues* values, size_t block);
    void Decode();

    const PlannedValues* values_ = nullptr;
    size_t block_ = 0;
    size_t at_ = 0;    // the current record's start in its block
    size_t next_ = 0;  // the next record's
    PlannedValueRef current_;
  };
  Iterator begin() const { return Iterator(this, 0); }
  Iterator end() const { return Iterator(this, blocks_.size()); }

 private:
  std::vector<std::string> keys_;
  // Records, each whole in one block; a block is given its room at once, so that appending
  // never copies what it holds.
  std::vector<std::string> blocks_;
  size_t count_ = 0;
};

}  // namespace kdr
