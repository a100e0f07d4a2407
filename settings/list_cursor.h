#pragma once

#include <optional>
#include <string_view>

// Walks a list of NUL-ended strings that ends with an empty string, as the profile reads return
// them.
namespace kdr {

class ListCursor {
 public:
  // Makes the list's first string current and returns it (empty for an empty list).
  std::string_view Start(std::string_view list);

  // The string after the current one, which becomes current; nothing at the end of the list,
  // where the cursor stays.
  std::optional<std::string_view> NextListItem();

 private:
  std::string_view list_;
  size_t current_ = 0;  // offset of the current string in list_
};

}  // namespace kdr
