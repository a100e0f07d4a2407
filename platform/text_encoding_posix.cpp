#include <errno.h>
#include <iconv.h>

#include <memory>

#include "platform/cp932.h"
#include "platform/text_encoding.h"

namespace kdr {
namespace {

// One conversion descriptor per direction and thread, opened on first use: opening one costs
// far more than converting a short name, and the tool converts a path or a name on nearly
// every call.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Code page 932 and UTF-8 agree on every byte below 0x80 (checked against glibc's tables), so
// ASCII text passes through as it is.
bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::optional<std::string> Convert(const Converter& converter, std::string_view text) {
  if (IsAscii(text)) return std::string(text);
  if (!converter.ok()) return std::nullopt;
  iconv_t cd = converter.get();
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
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
  thread_local const Converter converter("UTF-8", "CP932");
  return Convert(converter, text);
}

std::optional<std::string> Utf8ToCp932(std::string_view text) {
  thread_local const Converter converter("CP932", "UTF-8");
  std::optional<std::string> cp932 = Convert(converter, text);
  // glibc writes some characters as the code of a look-alike (U+00A5 as 0x5C, U+301C as 0x8160,
  // ...): a best fit that Windows refuses here. Only a conversion that reads back as the same
  // text is one.
  if (!cp932 || IsAscii(text)) return cp932;
  std::optional<std::string> back = Cp932ToUtf8(*cp932);
  if (!back || *back != text) return std::nullopt;
  return cp932;
}

std::string PathForDisplay(std::string_view path) {
  if (!path.starts_with('/')) return Cp932ForDisplay(path);
  // The tool goes on below a host folder with backslashes: "/" throughout, never in place of
  // the second byte of a character.
  std::string slashed(path);
  for (size_t at : FindCp932Chars(path, '\\')) slashed[at] = '/';
  return Cp932ForDisplay(slashed);
}

}  // namespace kdr
