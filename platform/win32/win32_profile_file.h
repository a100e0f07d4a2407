#pragma once

#include "platform/profile_file.h"

// The profile functions of kernel32 (WritePrivateProfileSectionA, WritePrivateProfileStringA,
// GetPrivateProfileSectionNamesA, GetPrivateProfileSectionA), called as they are. The tool
// itself uses PortableProfileFile; this one is the reference it is compared with in tests.
namespace kdr {

class Win32ProfileFile : public ProfileFile {
 public:
  // WritePrivateProfileSectionA(section, entries, file); `entries` is an empty list.
  [[nodiscard]] bool WriteSection(std::string_view section, std::string_view entries,
                                  std::string_view file) override;
  // WritePrivateProfileStringA(section, key, value, file).
  [[nodiscard]] bool WriteString(std::string_view section, std::string_view key,
                                 std::string_view value, std::string_view file) override;
  // GetPrivateProfileSectionNamesA.
  uint32_t GetSectionNames(std::span<char> buffer, std::string_view file) override;
  // GetPrivateProfileSectionA.
  uint32_t GetSection(std::string_view section, std::span<char> buffer,
                      std::string_view file) override;
  // Flushes the platform's profile cache of the last file written through this object
  // (WritePrivateProfileStringA with all names null). Always true: the platform writes on
  // every call, and the flush call itself reports 0.
  [[nodiscard]] bool Flush() override;

 private:
  std::string last_file_;
};

}  // namespace kdr
