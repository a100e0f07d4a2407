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
  std::tm utc{};
  std::tm local{};
#ifdef _WIN32
  gmtime_s(&utc, &now);
  localtime_s(&local, &now);
#else
  gmtime_r(&now, &utc);
  localtime_r(&now, &local);
#endif
  return StoreTime{Format(utc, "%Y-%m-%dT%H:%M:%SZ"), Format(local, "%Y%m%d-%H%M%S")};
}

const char* ToolVersion() { return KDR_TOOL_VERSION; }

}  // namespace kdr
