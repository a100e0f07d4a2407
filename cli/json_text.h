#pragma once

#include <string>
#include <string_view>

// JSON text for the console tool's --json results.
namespace kdr::cli {

// A JSON string literal for UTF-8 `text`: quotes, backslashes and controls escaped.
inline std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  out.push_back('"');
  return out;
}

}  // namespace kdr::cli
