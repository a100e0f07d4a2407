#include "settings/list_cursor.h"

namespace kdr {
namespace {

std::string_view StringAt(std::string_view list, size_t offset) {
  if (offset >= list.size()) return {};
  size_t end = list.find('\0', offset);
  if (end == std::string_view::npos) end = list.size();
  return list.substr(offset, end - offset);
}

}  // namespace

std::string_view ListCursor::Start(std::string_view list) {
  list_ = list;
  current_ = 0;
  return StringAt(list_, current_);
}

std::optional<std::string_view> ListCursor::NextListItem() {
  size_t next = current_ + StringAt(list_, current_).size() + 1;
  std::string_view item = StringAt(list_, next);
  if (item.empty()) return std::nullopt;
  current_ = next;
  return item;
}

}  // namespace kdr
