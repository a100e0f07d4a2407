#include "platform/windows_names.h"

#include <array>

#include "platform/cp932.h"

namespace kdr {
namespace {

constexpr std::array<std::string_view, 6> kDevices = {"CON", "PRN",    "AUX",
                                                      "NUL", "CONIN$", "CONOUT$"};
// The superscript digits Windows also takes as port numbers, in UTF-8.
constexpr std::array<std::string_view, 3> kSuperscripts = {"\xc2\xb9", "\xc2\xb2", "\xc2\xb3"};

bool IsTrailing(char c) { return c == '.' || c == ' '; }

}  // namespace

bool IsWindowsDeviceName(std::string_view name, NameText text) {
  // Windows drops trailing dots and spaces, then reads the name up to its first dot (or the
  // colon of a stream), less the spaces before it.
  while (!name.empty() && IsTrailing(name.back())) name.remove_suffix(1);
  size_t stem_end = name.find_first_of(".:");
  std::string_view stem = name.substr(0, stem_end);
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  for (std::string_view device : kDevices) {
    if (Cp932EqualNoCase(stem, device)) return true;
  }
  if (stem.size() < 4) return false;
  std::string_view port = stem.substr(0, 3);
  if (!Cp932EqualNoCase(port, "COM") && !Cp932EqualNoCase(port, "LPT")) return false;
  std::string_view number = stem.substr(3);
  if (number.size() == 1 && number[0] >= '0' && number[0] <= '9') return true;
  if (text != NameText::kUtf8) return false;
  for (std::string_view digit : kSuperscripts) {
    if (number == digit) return true;
  }
  return false;
}

bool EndsInWindowsDeviceName(std::string_view cp932_path) {
  if (!cp932_path.empty() && cp932_path.back() == '\\') {
    // Not the second byte of a character: a path of whole characters ends with its last one.
    size_t last = FindLastCp932Separator(cp932_path);
    if (last == cp932_path.size() - 1) cp932_path.remove_suffix(1);
  }
  size_t separator = FindLastCp932Separator(cp932_path, "\\/");
  std::string_view name =
      separator == std::string_view::npos ? cp932_path : cp932_path.substr(separator + 1);
  return IsWindowsDeviceName(name, NameText::kCp932);
}

Status CheckWindowsName(std::string_view name, NameText text) {
  if (name.empty() || name == "." || name == "..") return kInvalidName;
  if (IsTrailing(name.back())) return kInvalidName;
  for (size_t i = 0; i < name.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    // The second byte of a code page 932 character may be '\\' or '|'; it is not one.
    if (text == NameText::kCp932 && IsCp932LeadByte(c) && i + 1 < name.size()) {
      ++i;
      continue;
    }
    if (c < 0x20 ||
        std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos) {
      return kInvalidName;
    }
  }
  return IsWindowsDeviceName(name, text) ? kDeviceName : kOk;
}

}  // namespace kdr
