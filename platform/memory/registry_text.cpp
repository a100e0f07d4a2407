#include "platform/memory/registry_text.h"

#include <optional>

#include "platform/cp932.h"
#include "platform/text_encoding.h"
#include "platform/utf8.h"

namespace kdr::registry_text {
namespace {

// Long texts are converted this many bytes at a time.
constexpr size_t kPiece = 1 << 16;

bool IsSurrogate(uint32_t c) { return c >= 0xd800 && c <= 0xdfff; }

uint32_t Utf16Unit(std::string_view bytes, size_t i) {
  return static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
}

// False when `c` is a lone surrogate or out of range.
bool AppendUtf8(uint32_t c, std::string* out) {
  if (IsSurrogate(c) || c > 0x10ffff) return false;
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xc0 | c >> 6));
    out->push_back(static_cast<char>(0x80 | (c & 0x3f)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xe0 | c >> 12));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3f)));
  } else {
    out->push_back(static_cast<char>(0xf0 | c >> 18));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3f)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3f)));
  }
  return true;
}

// Hands the code points of well-formed UTF-8 to `each`; false on malformed UTF-8.
bool EachUtf8Char(std::string_view utf8, const std::function<void(uint32_t)>& each) {
  for (size_t i = 0; i < utf8.size();) {
    size_t size = Utf8SequenceLength(utf8.substr(i));
    if (size == 0) return false;
    if (each) each(Utf8CodePoint(utf8.substr(i), size));
    i += size;
  }
  return true;
}

}  // namespace

int HexDigitValue(uint32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  return -1;
}

uint32_t CharAt(Format format, std::string_view text, size_t at, size_t* next) {
  if (format == Format::kRegedit4) {
    uint32_t c = static_cast<unsigned char>(text[at]);
    if (Cp932CharSize(text, at) == 2) {
      *next = at + 2;
      return kDoubleByte | c << 8 | static_cast<unsigned char>(text[at + 1]);
    }
    *next = at + 1;
    return c;
  }
  uint32_t c = Utf16Unit(text, at);
  *next = at + 2;
  if (c >= 0xd800 && c <= 0xdbff && at + 3 < text.size()) {
    uint32_t low = Utf16Unit(text, at + 2);
    if (low >= 0xdc00 && low <= 0xdfff) {
      *next = at + 4;
      return 0x10000 + ((c - 0xd800) << 10) + (low - 0xdc00);
    }
  }
  return c;
}

void AppendFileChar(Format format, uint32_t c, std::string* out) {
  if (format == Format::kRegedit4) {
    if (c & kDoubleByte) out->push_back(static_cast<char>((c >> 8) & 0xff));
    out->push_back(static_cast<char>(c & 0xff));
    return;
  }
  auto put = [out](uint32_t unit) {
    out->push_back(static_cast<char>(unit & 0xff));
    out->push_back(static_cast<char>(unit >> 8));
  };
  if (c >= 0x10000) {
    c -= 0x10000;
    put(0xd800 + (c >> 10));
    put(0xdc00 + (c & 0x3ff));
  } else {
    put(c);
  }
}

// --- File characters to store bytes ---

void StoreText::Add(uint32_t c) {
  if (!ok_) return;
  if (format_ == Format::kRegedit4) {
    if (out_) AppendFileChar(format_, c, out_);
    return;
  }
  if (!AppendUtf8(c, &utf8_)) {
    ok_ = false;
    return;
  }
  if (utf8_.size() >= kPiece) Convert();
}

// Whole characters only, so each piece converts on its own (code page 932 has no shift state).
void StoreText::Convert() {
  std::optional<std::string> converted = Utf8ToCp932(utf8_);
  utf8_.clear();
  if (!converted) {
    ok_ = false;
    return;
  }
  if (out_) out_->append(*converted);
}

bool StoreText::Finish() {
  if (ok_ && format_ == Format::kVersion5 && !utf8_.empty()) Convert();
  return ok_;
}

bool FileTextToStore(Format format, std::string_view text, std::string* out) {
  if (format == Format::kRegedit4) {
    out->append(text);
    return true;
  }
  StoreText store(format, out);
  for (size_t at = 0; at < text.size();) store.Add(CharAt(format, text, at, &at));
  return store.Finish();
}

bool Utf16ToStore(std::string_view bytes, std::string* out) {
  return FileTextToStore(Format::kVersion5, bytes, out);
}

// --- Store bytes to file characters ---

bool StoreToChars(Format format, std::string_view bytes,
                  const std::function<void(uint32_t)>& each) {
  if (format == Format::kRegedit4) {
    if (each) {
      for (size_t at = 0; at < bytes.size();) each(CharAt(format, bytes, at, &at));
    }
    return true;
  }
  std::string back;
  for (size_t begin = 0; begin < bytes.size();) {
    // A piece of whole characters.
    size_t end = begin;
    while (end < bytes.size() && end - begin < kPiece) end += Cp932CharSize(bytes, end);
    std::string_view piece = bytes.substr(begin, end - begin);
    std::optional<std::string> utf8 = Cp932ToUtf8(piece);
    if (!utf8) return false;
    // The reverse conversion refuses a doubly coded character's second code: it reads back
    // as the first.
    std::optional<std::string> again = Utf8ToCp932(*utf8);
    if (!again || *again != piece || !EachUtf8Char(*utf8, each)) return false;
    begin = end;
  }
  return true;
}

std::string DisplayFileText(Format format, std::string_view text) {
  if (format == Format::kRegedit4) return Cp932ForDisplay(text);
  std::string utf8;
  for (size_t at = 0; at < text.size();) {
    if (!AppendUtf8(CharAt(format, text, at, &at), &utf8)) utf8 += "\xef\xbf\xbd";  // U+FFFD
  }
  return utf8;
}

}  // namespace kdr::registry_text
