#include <windows.h>

#include <climits>

#include "platform/text_encoding.h"

// The conversions of Windows itself, so the tool's text reads as the system reads it.
namespace kdr {
namespace {

constexpr UINT kCp932 = 932;

// `text` in code page `code_page` as UTF-16; nullopt when a byte sequence is not valid there.
std::optional<std::wstring> ToWide(UINT code_page, std::string_view text) {
  if (text.empty()) return std::wstring();
  if (text.size() > static_cast<size_t>(INT_MAX)) return std::nullopt;
  int in_size = static_cast<int>(text.size());
  int size = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), in_size, nullptr, 0);
  if (size <= 0) return std::nullopt;
  std::wstring wide(static_cast<size_t>(size), L'\0');
  if (MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), in_size, wide.data(),
                          size) != size) {
    return std::nullopt;
  }
  return wide;
}

}  // namespace

std::optional<std::string> Cp932ToUtf8(std::string_view text) {
  std::optional<std::wstring> wide = ToWide(kCp932, text);
  if (!wide) return std::nullopt;
  if (wide->empty()) return std::string();
  int in_size = static_cast<int>(wide->size());
  int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide->data(), in_size, nullptr, 0,
                                 nullptr, nullptr);
  if (size <= 0) return std::nullopt;
  std::string utf8(static_cast<size_t>(size), '\0');
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide->data(), in_size, utf8.data(), size,
                          nullptr, nullptr) != size) {
    return std::nullopt;
  }
  return utf8;
}

std::optional<std::string> Utf8ToCp932(std::string_view text) {
  std::optional<std::wstring> wide = ToWide(CP_UTF8, text);
  if (!wide) return std::nullopt;
  if (wide->empty()) return std::string();
  int in_size = static_cast<int>(wide->size());
  // No best fit: a character without a form of its own in code page 932 fails, rather than
  // turning into a look-alike (or into "?") that names another file or value.
  BOOL used_default = FALSE;
  int size = WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, wide->data(), in_size, nullptr, 0,
                                 nullptr, &used_default);
  if (size <= 0 || used_default) return std::nullopt;
  std::string cp932(static_cast<size_t>(size), '\0');
  if (WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, wide->data(), in_size, cp932.data(), size,
                          nullptr, &used_default) != size ||
      used_default) {
    return std::nullopt;
  }
  return cp932;
}

// A Windows path has one kind of separator already.
std::string PathForDisplay(std::string_view path) { return Cp932ForDisplay(path); }

}  // namespace kdr
