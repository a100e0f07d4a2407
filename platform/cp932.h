#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

// Code page 932 text, character by character. A double-byte character is a lead byte followed
// by a trail byte; the trail byte may be 0x5C ("\"), 0x5D ("]") or an ASCII letter without being
// one, so every scan for a separator or a letter steps over whole characters. A lead byte that is
// not followed by a trail byte stands alone, and so does the byte after it.
//
// Names compare as Windows compares them: single-byte ASCII letters without regard to case,
// every other byte (both bytes of a double-byte character included) as it is.
namespace kdr {

inline bool IsCp932LeadByte(unsigned char c) {
  return (c >= 0x81 && c <= 0x9f) || (c >= 0xe0 && c <= 0xfc);
}

inline bool IsCp932TrailByte(unsigned char c) {
  return (c >= 0x40 && c <= 0x7e) || (c >= 0x80 && c <= 0xfc);
}

// A single-byte character upper-cased (ASCII letters only).
inline char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Bytes of the character that starts at text[i] (i < text.size()): 2 or 1.
inline size_t Cp932CharSize(std::string_view text, size_t i) {
  return i + 1 < text.size() && IsCp932LeadByte(static_cast<unsigned char>(text[i])) &&
                 IsCp932TrailByte(static_cast<unsigned char>(text[i + 1]))
             ? 2
             : 1;
}

// Positions of the single-byte characters `ascii` in `text`.
std::vector<size_t> FindCp932Chars(std::string_view text, char ascii);

// The position of the last single-byte character of `text` that is one of `separators`, or npos.
size_t FindLastCp932Separator(std::string_view text, std::string_view separators = "\\");

// Splits a backslash path into its names, never at the second byte of a character. False when
// a name is empty (a doubled, leading or trailing backslash).
[[nodiscard]] bool SplitCp932Path(std::string_view path, std::vector<std::string_view>* names);

// True when backslash path `path` is `base` or lies below it: `base`'s names without regard to
// case, then only non-empty names ("KodrelSEX" is not below "KodrelSE", nor "a\\b" below "a").
bool Cp932PathAtOrBelow(std::string_view path, std::string_view base);

// `text` with its single-byte ASCII letters upper-cased; the same length as `text`.
std::string Cp932UpperCase(std::string_view text);
void Cp932UpperCase(std::string_view text, std::string* out);  // reuses *out's memory

bool Cp932EqualNoCase(std::string_view a, std::string_view b);

// `text` begins with whole characters that equal `prefix` without regard to case.
bool Cp932StartsWithNoCase(std::string_view text, std::string_view prefix);

// Orders as the registry enumerates subkeys: by upper-cased bytes, unsigned.
struct Cp932NoCaseLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

// Hashes and compares names as Cp932EqualNoCase does, for sets that need no order (a lookup
// in one costs a hash, not a score of comparisons).
struct Cp932NoCaseHash {
  using is_transparent = void;
  size_t operator()(std::string_view text) const;
};
struct Cp932NoCaseEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return Cp932EqualNoCase(a, b); }
};
using Cp932NameSet = std::unordered_set<std::string, Cp932NoCaseHash, Cp932NoCaseEqual>;
// The same over names held elsewhere, which must outlive it: no copy of each name.
using Cp932NameViews = std::unordered_set<std::string_view, Cp932NoCaseHash, Cp932NoCaseEqual>;

}  // namespace kdr
