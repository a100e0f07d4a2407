#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace kdr::testing {

// A folder of one test's own under the system's temporary folder, removed with everything in it
// when the test is done. Its path is empty when it could not be made.
class TempFolder {
 public:
  explicit TempFolder(std::string_view prefix) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace kdr::testing
