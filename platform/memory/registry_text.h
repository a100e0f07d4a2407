#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/memory/registry_file.h"

// The text of a registry editor file, read and written one character at a time in the file's
// own encoding, and its conversion to and from the store's code page 932 bytes. A text is never
// held as 4-byte characters whole: a long string would take four times its size. Nothing is
// converted by best fit: a text whose conversion would not read back the same is refused.
namespace kdr::registry_text {

using Format = RegistryFileFormat;

// One character of the file's text. In a REGEDIT4 file it is one byte, or a code page 932 lead
// byte with its trail byte, held as kDoubleByte | lead << 8 | trail so that it never matches the
// ASCII syntax (a trail byte may be '\', '[', ']' or '@'). In a version 5 file it is a Unicode
// code point; a lone surrogate stays as its code unit and is refused where it would reach the
// store.
inline constexpr uint32_t kDoubleByte = 0x1000000;

inline bool IsBlank(uint32_t c) { return c == ' ' || c == '\t'; }
int HexDigitValue(uint32_t c);

// Bytes of one code unit: 1 in REGEDIT4, 2 in version 5.
inline size_t UnitSize(Format format) { return format == Format::kVersion5 ? 2 : 1; }

// The character that starts at text[at] (at < text.size(); in version 5 `text` has whole
// units); *next is where the one after it starts. A character never reaches past `text`.
uint32_t CharAt(Format format, std::string_view text, size_t at, size_t* next);

// Appends the bytes of the file character `c` in the file's encoding.
void AppendFileChar(Format format, uint32_t c, std::string* out);

// File characters to store bytes, converted in pieces as they come. With a null `out` the
// characters are only checked.
class StoreText {
 public:
  StoreText(Format format, std::string* out) : format_(format), out_(out) {}
  void Add(uint32_t c);
  // False when a character had no exact code page 932 form (*out then holds a part).
  [[nodiscard]] bool Finish();

 private:
  void Convert();

  Format format_;
  std::string* out_;
  std::string utf8_;  // version 5: the characters not yet converted
  bool ok_ = true;
};

// A file's text as it stands in the file (no escapes), to store bytes.
[[nodiscard]] bool FileTextToStore(Format format, std::string_view text, std::string* out);

// UTF-16LE bytes (an even number) to store bytes: the text data of a version 5 file.
[[nodiscard]] bool Utf16ToStore(std::string_view bytes, std::string* out);

// Store bytes as file characters, handed to `each` in order; only when reading them back gives
// the same bytes (version 5 cannot hold bytes that are not code page 932, nor the second code
// of a doubly coded one). With a null `each` the bytes are only checked. A long text is
// converted in pieces, and a piece that fails stops the rest: a caller that must not write a
// part checks first.
[[nodiscard]] bool StoreToChars(Format format, std::string_view bytes,
                                const std::function<void(uint32_t)>& each);

// A file's text (as it stands in the file) as the user should see it in a message (UTF-8).
std::string DisplayFileText(Format format, std::string_view text);

}  // namespace kdr::registry_text
