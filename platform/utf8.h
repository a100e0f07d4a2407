#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// Strict UTF-8: every reader of UTF-8 text in the program agrees on what is well formed.
namespace kdr {

// The length of the UTF-8 sequence at the start of `text`, or 0 when it is not one: a byte of
// code page 932 text, a cut or overlong sequence, a surrogate, beyond U+10FFFF.
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

// The code point of the well-formed sequence of `size` bytes at the start of `text`.
inline uint32_t Utf8CodePoint(std::string_view text, size_t size) {
  static constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  uint32_t c = static_cast<unsigned char>(text[0]) & kLeadBits[size];
  for (size_t i = 1; i < size; ++i) c = c << 6 | (static_cast<unsigned char>(text[i]) & 0x3F);
  return c;
}

}  // namespace kdr
