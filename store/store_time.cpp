#include "store/store_time.h"

#include <chrono>
#include <ctime>

#ifndef KDR_TOOL_VERSION
#define KDR_TOOL_VERSION "0"
#endif

namespace kdr {
namespace {

std::string Format(const std::tm& t, const char* pattern) {
  char buffer[32];  // both patterns give at most 20 characters
  size_t n = std::strftime(buffer, sizeof buffer, pattern, &t);
  return std::string(buffer, n);
}

}  // namespace

StoreTime CurrentStoreTime() {
  std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
  std::tm copy = local;
  std::time_t local_as_utc = _mkgmtime(&copy);
#else
  localtime_r(&now, &local);
  std::tm copy = local;
  std::time_t local_as_utc = timegm(&copy);
#endif
  // The offset from UTC: strftime's %z gives a zone name on Windows, not the offset.
  long offset_minutes = static_cast<long>(local_as_utc - now) / 60;
  char sign = offset_minutes < 0 ? '-' : '+';
  long magnitude = offset_minutes < 0 ? -offset_minutes : offset_minutes;
  auto two = [](long v) { return std::string(v < 10 ? "0" : "") + std::to_string(v); };
  std::string zone = sign + two(magnitude / 60) + ":" + two(magnitude % 60);
  return StoreTime{Format(local, "%Y-%m-%dT%H:%M:%S") + zone, Format(local, "%Y%m%d-%H%M%S")};
}

const char* ToolVersion() { return KDR_TOOL_VERSION; }

}  // namespace kdr
