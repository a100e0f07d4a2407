#pragma once

#include <string>
#include <string_view>

// Name comparison as the registry and the profile files do it: ASCII letters without regard to
// case, every other byte as it is.
namespace kdr {

inline char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

inline bool AsciiEqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

inline std::string AsciiUpperCopy(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

// Orders as the registry enumerates subkeys: by upper-cased bytes, unsigned.
struct AsciiNoCaseLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
      unsigned char x = static_cast<unsigned char>(AsciiUpper(a[i]));
      unsigned char y = static_cast<unsigned char>(AsciiUpper(b[i]));
      if (x != y) return x < y;
    }
    return a.size() < b.size();
  }
};

// Starts-with and find, without regard to ASCII case.
inline bool AsciiStartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && AsciiEqualNoCase(s.substr(0, prefix.size()), prefix);
}

}  // namespace kdr
