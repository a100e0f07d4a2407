#include "platform/profile_file.h"

#include <cstddef>

namespace kdr {
namespace {

// The list functions report a cut list by returning size - 2; grow until it fits.
template <typename Read>
std::string ReadWholeList(Read read) {
  std::string buffer(4096, '\0');
  for (;;) {
    uint32_t written = read(std::span<char>(buffer.data(), buffer.size()));
    if (static_cast<size_t>(written) + 2 < buffer.size()) {
      // A list ends with its last name's NUL and an empty name; an empty list is two NULs.
      if (written == 0) return std::string(2, '\0');
      buffer.resize(static_cast<size_t>(written) + 1);
      return buffer;
    }
    buffer.assign(buffer.size() * 2, '\0');
  }
}

}  // namespace

std::string ProfileFile::ReadSectionNames(std::string_view file) {
  return ReadWholeList([&](std::span<char> b) { return GetSectionNames(b, file); });
}

std::string ProfileFile::ReadSection(std::string_view section, std::string_view file) {
  return ReadWholeList([&](std::span<char> b) { return GetSection(section, b, file); });
}

}  // namespace kdr
