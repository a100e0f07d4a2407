#pragma once

#include <optional>
#include <string>
#include <string_view>

// Bytes written as hex digits, two per byte, and read back: the store's files, the settings'
// encoded entries, the logs and JSON escapes all write them so.
namespace kdr {

inline constexpr char kHexDigits[] = "0123456789abcdef";

// 0 to 15 for a hex digit of either case, else -1.
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The two lower-case digits of `byte`, appended.
inline void AppendHexByte(unsigned char byte, std::string* out) {
  out->push_back(kHexDigits[byte >> 4]);
  out->push_back(kHexDigits[byte & 15]);
}

inline void AppendHex(std::string_view bytes, std::string* out) {
  out->reserve(out->size() + bytes.size() * 2);
  for (unsigned char c : bytes) AppendHexByte(c, out);
}

// The bytes of `hex`, an even number of digits of either case; nullopt for anything else.
inline std::optional<std::string> BytesFromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string out;
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    int high = HexDigitValue(hex[i]);
    int low = HexDigitValue(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out.push_back(static_cast<char>(high * 16 + low));
  }
  return out;
}

}  // namespace kdr
