#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/memory/registry_file.h"

// The text of a registry editor file as characters, and its conversion to and from the store's
// code page 932 bytes. Nothing is converted by best fit: a text whose conversion would not read
// back the same is refused.
namespace kdr::registry_text {

using Format = RegistryFileFormat;

// The file's text as characters. In a REGEDIT4 file a character is one byte, or a code page 932
// lead byte with its trail byte, held as kDoubleByte | lead << 8 | trail so that it never
// matches the ASCII syntax (a trail byte may be '\', '[', ']' or '@'). In a version 5 file a
// character is a Unicode code point; a lone surrogate stays as its code unit and is refused
// where it would reach the store.
using Chars = std::vector<uint32_t>;
inline constexpr uint32_t kDoubleByte = 0x1000000;

inline bool IsBlank(uint32_t c) { return c == ' ' || c == '\t'; }
int HexDigitValue(uint32_t c);

// REGEDIT4: code page 932 bytes to characters and back.
void AppendDbcsChars(std::string_view bytes, Chars* out);
void AppendDbcsBytes(const uint32_t* begin, const uint32_t* end, std::string* out);

// Version 5: UTF-16LE code units to code points (pairing surrogates; `bytes` has an even size),
// and one code point back to UTF-16LE.
void AppendUtf16Chars(std::string_view bytes, Chars* out);
void AppendUtf16Bytes(uint32_t c, std::string* out);

// The characters' bytes in the file's own encoding.
void AppendFileBytes(Format format, const Chars& chars, std::string* out);

// File characters to store bytes. False when a character has no exact code page 932 form.
[[nodiscard]] bool CharsToStore(Format format, const uint32_t* begin, const uint32_t* end,
                                std::string* out);

// Store bytes to file characters, only when reading them back gives the same bytes (version 5
// cannot hold bytes that are not code page 932, nor the second code of a doubly coded one).
[[nodiscard]] bool StoreToChars(Format format, std::string_view bytes, Chars* out);

// Text as the user should see it in a message (UTF-8).
std::string DisplayChars(Format format, const uint32_t* begin, const uint32_t* end);

}  // namespace kdr::registry_text
