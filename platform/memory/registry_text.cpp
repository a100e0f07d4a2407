#include "platform/memory/registry_text.h"

#include <optional>

#include "platform/cp932.h"
#include "platform/text_encoding.h"

namespace kdr::registry_text {
namespace {

bool IsSurrogate(uint32_t c) { return c >= 0xd800 && c <= 0xdfff; }

}  // namespace

int HexDigitValue(uint32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  return -1;
}

// --- Code page 932 bytes as characters (REGEDIT4) ---

void AppendDbcsChars(std::string_view bytes, Chars* out) {
  for (size_t i = 0; i < bytes.size();) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (Cp932CharSize(bytes, i) == 2) {
      out->push_back(kDoubleByte | uint32_t{c} << 8 | static_cast<unsigned char>(bytes[i + 1]));
      i += 2;
    } else {
      out->push_back(c);
      ++i;
    }
  }
}

void AppendDbcsBytes(const uint32_t* begin, const uint32_t* end, std::string* out) {
  for (const uint32_t* c = begin; c != end; ++c) {
    if (*c & kDoubleByte) {
      out->push_back(static_cast<char>((*c >> 8) & 0xff));
      out->push_back(static_cast<char>(*c & 0xff));
    } else {
      out->push_back(static_cast<char>(*c & 0xff));
    }
  }
}

// --- Unicode (version 5) ---

// UTF-16LE code units to code points, pairing surrogates. `bytes` has an even size.
void AppendUtf16Chars(std::string_view bytes, Chars* out) {
  auto unit = [&](size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) |
           static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
  };
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    uint32_t c = unit(i);
    if (c >= 0xd800 && c <= 0xdbff && i + 3 < bytes.size()) {
      uint32_t low = unit(i + 2);
      if (low >= 0xdc00 && low <= 0xdfff) {
        out->push_back(0x10000 + ((c - 0xd800) << 10) + (low - 0xdc00));
        i += 2;
        continue;
      }
    }
    out->push_back(c);
  }
}

void AppendUtf16Bytes(uint32_t c, std::string* out) {
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

namespace {

// False when a character is a lone surrogate or out of range.
bool AppendUtf8(const uint32_t* begin, const uint32_t* end, std::string* out) {
  for (const uint32_t* p = begin; p != end; ++p) {
    uint32_t c = *p;
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
  }
  return true;
}

// False on malformed UTF-8.
bool AppendUtf8Chars(std::string_view utf8, Chars* out) {
  size_t i = 0;
  while (i < utf8.size()) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    size_t extra;
    uint32_t cp;
    if (c < 0x80) {
      extra = 0;
      cp = c;
    } else if ((c & 0xe0) == 0xc0) {
      extra = 1;
      cp = c & 0x1f;
    } else if ((c & 0xf0) == 0xe0) {
      extra = 2;
      cp = c & 0x0f;
    } else if ((c & 0xf8) == 0xf0) {
      extra = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (utf8.size() - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
      unsigned char next = static_cast<unsigned char>(utf8[i + k]);
      if ((next & 0xc0) != 0x80) return false;
      cp = cp << 6 | (next & 0x3f);
    }
    if (IsSurrogate(cp) || cp > 0x10ffff) return false;
    out->push_back(cp);
    i += extra + 1;
  }
  return true;
}

}  // namespace

// --- Store text (code page 932) and file characters ---

// File characters to store bytes. False when a character has no code page 932 form.
bool CharsToStore(Format format, const uint32_t* begin, const uint32_t* end, std::string* out) {
  if (format == Format::kRegedit4) {
    AppendDbcsBytes(begin, end, out);
    return true;
  }
  std::string utf8;
  if (!AppendUtf8(begin, end, &utf8)) return false;
  std::optional<std::string> converted = Utf8ToCp932(utf8);
  if (!converted) return false;
  out->append(*converted);
  return true;
}

// Store bytes to file characters, only when reading them back gives the same bytes (version 5
// cannot hold bytes that are not code page 932, nor the second code of a doubly coded one).
bool StoreToChars(Format format, std::string_view bytes, Chars* out) {
  if (format == Format::kRegedit4) {
    AppendDbcsChars(bytes, out);
    return true;
  }
  std::optional<std::string> utf8 = Cp932ToUtf8(bytes);
  Chars chars;
  if (!utf8 || !AppendUtf8Chars(*utf8, &chars)) return false;
  std::string back;
  if (!CharsToStore(format, chars.data(), chars.data() + chars.size(), &back) || back != bytes) {
    return false;
  }
  out->insert(out->end(), chars.begin(), chars.end());
  return true;
}

// Text as the user should see it in a message.
std::string DisplayChars(Format format, const uint32_t* begin, const uint32_t* end) {
  if (format == Format::kRegedit4) {
    std::string bytes;
    AppendDbcsBytes(begin, end, &bytes);
    return Cp932ForDisplay(bytes);
  }
  std::string utf8;
  for (const uint32_t* p = begin; p != end; ++p) {
    if (!AppendUtf8(p, p + 1, &utf8)) utf8 += "\xef\xbf\xbd";  // U+FFFD
  }
  return utf8;
}

void AppendFileBytes(Format format, const Chars& chars, std::string* out) {
  if (format == Format::kRegedit4) {
    AppendDbcsBytes(chars.data(), chars.data() + chars.size(), out);
  } else {
    for (uint32_t c : chars) AppendUtf16Bytes(c, out);
  }
}

}  // namespace kdr::registry_text
