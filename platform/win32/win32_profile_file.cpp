#include "platform/win32/win32_profile_file.h"

#include <windows.h>

#include <climits>
#include <string>
#include <utility>

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
  return Note(WritePrivateProfileSectionA(NulTerminated(section).c_str(), list.c_str(),
                                          NulTerminated(file).c_str()) != 0,
              "WritePrivateProfileSection", file);
}

bool Win32ProfileFile::WriteString(std::string_view section, std::string_view key,
                                   std::string_view value, std::string_view file) {
  last_file_.assign(file);
  return Note(
      WritePrivateProfileStringA(NulTerminated(section).c_str(), NulTerminated(key).c_str(),
                                 NulTerminated(value).c_str(), NulTerminated(file).c_str()) != 0,
      "WritePrivateProfileString", file);
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

bool Win32ProfileFile::Note(bool written, std::string_view call, std::string_view file) {
  if (!written && refused_)
    refused_ = FileResult::Fail(static_cast<Status>(GetLastError()), call, file);
  return written;
}

FileResult Win32ProfileFile::Flush() {
  if (!last_file_.empty()) {
    // Reports 0 whatever happens; nothing to look at.
    (void)WritePrivateProfileStringA(nullptr, nullptr, nullptr, last_file_.c_str());
  }
  return std::exchange(refused_, FileResult::Ok());
}

}  // namespace kdr
