#include "platform/text_encoding.h"

#include <cstdio>
#include <string>

#include "platform/cp932.h"

namespace kdr {
std::string Cp932ForDisplay(std::string_view text) {
  if (auto whole = Cp932ToUtf8(text)) return *whole;
  // Decode character by character so one bad byte does not hide the rest.
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t len = Cp932CharSize(text, i);
    if (auto part = Cp932ToUtf8(text.substr(i, len))) {
      out += *part;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
      len = 1;
    }
    i += len;
  }
  return out;
}

std::string Cp932ExcerptForDisplay(std::string_view text, size_t max_bytes) {
  return Cp932ExcerptForDisplay(text, max_bytes, text.size());
}

std::string Cp932ExcerptForDisplay(std::string_view text, size_t max_bytes, size_t whole_size) {
  if (whole_size <= max_bytes) return Cp932ForDisplay(text);
  size_t cut = 0;
  while (cut < text.size()) {
    size_t len = Cp932CharSize(text, cut);
    if (cut + len > max_bytes) break;
    cut += len;
  }
  return Cp932ForDisplay(text.substr(0, cut)) + "... (" + std::to_string(whole_size) + " bytes)";
}

}  // namespace kdr
