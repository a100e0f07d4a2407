#include <errno.h>
#include <iconv.h>

#include <memory>

#include "platform/text_encoding.h"

namespace kdr {
namespace {

std::optional<std::string> Convert(const char* to, const char* from, std::string_view text) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::unique_ptr<void, int (*)(iconv_t)> closer(cd, iconv_close);
  std::string out;
  std::string in(text);
  char* in_ptr = in.data();
  size_t in_left = in.size();
  char chunk[4096];
  while (in_left > 0) {
    char* out_ptr = chunk;
    size_t out_left = sizeof chunk;
    size_t r = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    out.append(chunk, sizeof chunk - out_left);
    if (r == static_cast<size_t>(-1) && errno != E2BIG) return std::nullopt;
  }
  char* out_ptr = chunk;
  size_t out_left = sizeof chunk;
  if (iconv(cd, nullptr, nullptr, &out_ptr, &out_left) == static_cast<size_t>(-1)) {
    return std::nullopt;
  }
  out.append(chunk, sizeof chunk - out_left);
  return out;
}

}  // namespace

std::optional<std::string> Cp932ToUtf8(std::string_view text) {
  return Convert("UTF-8", "CP932", text);
}

std::optional<std::string> Utf8ToCp932(std::string_view text) {
  return Convert("CP932", "UTF-8", text);
}

}  // namespace kdr
