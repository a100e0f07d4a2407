#pragma once

#include <string>

// When a manifest or a backup was made, and the tool that made it.
namespace kdr {

struct StoreTime {
  std::string utc;          // "2026-12-08T23:50:00Z", for the files' headers
  std::string folder_name;  // "20261208-235000" in local time, for backup folders
};

StoreTime CurrentStoreTime();

// The tool's version, as the build sets it.
const char* ToolVersion();

}  // namespace kdr
