#pragma once

#include <filesystem>
#include <system_error>

namespace kdr {

// The file `path` names, through symbolic links; the path itself when it cannot be resolved
// (a missing file is then reported by whoever opens it).
inline std::filesystem::path ResolvedPath(const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::path target = std::filesystem::canonical(path, ec);
  return ec ? path : target;
}

}  // namespace kdr
