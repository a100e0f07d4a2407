#include "platform/swept_folders.h"

#include <mutex>
#include <set>
#include <system_error>

namespace kdr {

bool FirstSweepOf(const std::filesystem::path& folder) {
  static std::mutex mutex;
  static std::set<std::filesystem::path::string_type> swept;
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(folder, ec);
  if (ec) return true;
  std::lock_guard lock(mutex);
  return swept.insert(absolute.lexically_normal().native()).second;
}

}  // namespace kdr
