#include "platform/temp_file_name.h"

#include <atomic>

namespace kdr {
namespace {

constexpr std::string_view kPrefix = ".kdr4tose-";
constexpr std::string_view kSuffix = ".tmp";

// Digits only, not empty, and not so many that they overflow.
std::optional<uint64_t> Number(std::string_view digits) {
  if (digits.empty() || digits.size() > 18) return std::nullopt;
  uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value;
}

}  // namespace

std::string TempFileName(uint64_t process_id, uint64_t serial) {
  return std::string(kPrefix) + std::to_string(process_id) + "-" + std::to_string(serial) +
         std::string(kSuffix);
}

std::string NextTempFileName(uint64_t process_id) {
  static std::atomic<uint64_t> serial{0};
  return TempFileName(process_id, serial.fetch_add(1));
}

std::optional<uint64_t> TempFileWriter(std::string_view name) {
  // Windows matches names without regard to case, so ".KDR4TOSE-1-2.TMP" is one of ours too.
  auto lower = [](std::string_view s) {
    std::string out(s);
    for (char& c : out) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
  };
  if (name.size() <= kPrefix.size() + kSuffix.size()) return std::nullopt;
  if (lower(name.substr(0, kPrefix.size())) != kPrefix ||
      lower(name.substr(name.size() - kSuffix.size())) != kSuffix) {
    return std::nullopt;
  }
  std::string_view middle =
      name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
  size_t dash = middle.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  std::optional<uint64_t> pid = Number(middle.substr(0, dash));
  if (!pid || *pid == 0 || !Number(middle.substr(dash + 1))) return std::nullopt;
  return pid;
}

}  // namespace kdr
