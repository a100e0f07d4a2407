#include "store/text_fields.h"

#include <charconv>

namespace kdr {

bool TakeLine(std::string_view* text, std::string_view* line) {
  size_t end = text->find('\n');
  if (end == std::string_view::npos) return false;
  *line = text->substr(0, end);
  text->remove_prefix(end + 1);
  return true;
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

std::optional<uint64_t> ParseDecimal(std::string_view text) {
  uint64_t value = 0;
  if (text.empty() || (text.size() > 1 && text[0] == '0')) return std::nullopt;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool IsPlainField(std::string_view text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (c < 0x20 || c > 0x7e) return false;
  }
  return true;
}

}  // namespace kdr
