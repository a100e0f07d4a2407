#pragma once

#include <string>
#include <string_view>

#include "platform/hex_text.h"
#include "platform/utf8.h"

// JSON text for the console tool's --json results.
namespace kdr::cli {

// A JSON string literal for UTF-8 `text`: quotes, backslashes and controls escaped, and each
// byte that is not part of UTF-8 (text read from the store can hold anything) as U+FFFD, so
// that the result is always valid JSON.
inline std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t size = Utf8SequenceLength(text.substr(i));
    if (size == 0) {
      out += "\\ufffd";
      size = 1;
    } else if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c < 0x20) {
      out += "\\u00";
      AppendHexByte(c, &out);
    } else {
      out.append(text.substr(i, size));
    }
    i += size;
  }
  out.push_back('"');
  return out;
}

// The start of every JSON object the console prints: the format's version, then the command.
// A change that would break a reader of format 1 gives it a new number.
inline constexpr int kJsonFormat = 1;
inline std::string JsonObjectFor(std::string_view command) {
  return "{\"format\":" + std::to_string(kJsonFormat) + ",\"command\":" + JsonString(command);
}

}  // namespace kdr::cli
