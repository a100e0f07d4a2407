#include "platform/win32/win32_profile_file.h"

#include <windows.h>

#include <climits>
#include <string>

namespace kdr {
namespace {

// The A functions take NUL-terminated strings; a view is copied so that it ends there.
std::string NulTerminated(std::string_view s) { return std::string(s); }

DWORD BufferSize(std::span<char> buffer) {
  return buffer.size() > static_cast<size_t>(UINT_MAX) ? UINT_MAX
                                                       : static_cast<DWORD>(buffer.size());
}

}  // namespace

bool Win32ProfileFile::WriteSection(std::string_view section, std::string_view entries,
                                    std::string_view file) {
  // The entry list ends with an empty string: two NULs after the last entry (one for an
  // empty list). The copy adds them whatever the caller passed.
  std::string list(entries);
  list.append(2, '\0');
  last_file_.assign(file);
  return WritePrivateProfileSectionA(NulTerminated(section).c_str(), list.c_str(),
                                     NulTerminated(file).c_str()) != 0;
}

bool Win32ProfileFile::WriteString(std::string_view section, std::string_view key,
                                   std::string_view value, std::string_view file) {
  last_file_.assign(file);
  return WritePrivateProfileStringA(NulTerminated(section).c_str(), NulTerminated(key).c_str(),
                                    NulTerminated(value).c_str(), NulTerminated(file).c_str()) != 0;
}

uint32_t Win32ProfileFile::GetSectionNames(std::span<char> buffer, std::string_view file) {
  return GetPrivateProfileSectionNamesA(buffer.data(), BufferSize(buffer),
                                        NulTerminated(file).c_str());
}

uint32_t Win32ProfileFile::GetSection(std::string_view section, std::span<char> buffer,
                                      std::string_view file) {
  return GetPrivateProfileSectionA(NulTerminated(section).c_str(), buffer.data(),
                                   BufferSize(buffer), NulTerminated(file).c_str());
}

bool Win32ProfileFile::Flush() {
  if (!last_file_.empty()) {
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, last_file_.c_str());
  }
  return true;
}

}  // namespace kdr
