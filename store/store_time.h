#pragma once

#include <string>

// When a manifest or a backup was made, and the tool that made it.
namespace kdr {

// Both from one reading of the clock, in local time as the user reads it, so that a backup's
// name and every time shown agree.
struct StoreTime {
  std::string local;        // "2026-12-09T08:50:00+09:00", for the files' headers and logs
  std::string folder_name;  // "20261209-085000", for backup folders
};

StoreTime CurrentStoreTime();

// The tool's version, as the build sets it.
const char* ToolVersion();

}  // namespace kdr
