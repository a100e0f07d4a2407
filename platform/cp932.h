#pragma once

#include <string_view>
#include <vector>

// Byte-level helpers for code page 932 text: a double-byte character's second byte may be
// 0x5C ("\"), 0x5D ("]") or an ASCII letter without being one.
namespace kdr {

// True for the first byte of a double-byte character.
inline bool IsCp932LeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9f) || (c >= 0xe0 && c <= 0xfc);
}

// Positions of the single-byte occurrences of `ascii` in `text`.
inline std::vector<size_t> FindCp932Chars(std::string_view text, char ascii) {
  std::vector<size_t> found;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (IsCp932LeadByte(c) && i + 1 < text.size()) {
      ++i;
    } else if (text[i] == ascii) {
      found.push_back(i);
    }
  }
  return found;
}

// Splits a backslash path into its names, never at the second byte of a character. False when
// a name is empty (a doubled, leading or trailing backslash).
inline bool SplitCp932Path(std::string_view path, std::vector<std::string_view>* names) {
  names->clear();
  if (path.empty()) return true;
  size_t start = 0;
  for (size_t separator : FindCp932Chars(path, '\\')) {
    if (separator == start) return false;
    names->push_back(path.substr(start, separator - start));
    start = separator + 1;
  }
  if (start == path.size()) return false;
  names->push_back(path.substr(start));
  return true;
}

}  // namespace kdr
