#pragma once

#include <string>
#include <string_view>

#include "engine/services.h"

namespace kdr {

// Appends log lines (each ended by "\n") to a work log file. Where the services ask for Windows
// text files, each line ends in CR LF and a new file starts with the UTF-8 byte order mark, so
// that every Notepad shows it right. False when it could not be written.
bool AppendToWorkLog(const Services& services, const std::string& path, std::string_view lines);

}  // namespace kdr
