#pragma once

#include <string>
#include <string_view>

// JSON text for the console tool's --json results.
namespace kdr::cli {

// The length of the UTF-8 sequence at the start of `text`, or 0 when it is not one (a byte of
// code page 932 text, a cut or overlong sequence, a surrogate).
inline size_t Utf8SequenceLength(std::string_view text) {
  auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0; };
  unsigned char lead = byte(0);
  size_t size = lead < 0x80   ? 1
                : lead < 0xC2 ? 0
                : lead < 0xE0 ? 2
                : lead < 0xF0 ? 3
                : lead < 0xF5 ? 4
                              : 0;
  if (size == 0 || text.empty()) return 0;
  for (size_t i = 1; i < size; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  unsigned char second = byte(1);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
      (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) {
    return 0;
  }
  return size;
}

// A JSON string literal for UTF-8 `text`: quotes, backslashes and controls escaped, and each
// byte that is not part of UTF-8 (text read from the store can hold anything) as U+FFFD, so
// that the result is always valid JSON.
inline std::string JsonString(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
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
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
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
