#pragma once

#include <string>
#include <string_view>

#include "core/work_paths.h"
#include "engine/services.h"

namespace kdr {

// Appends log lines (each ended by "\n") to a work log file. Where the services ask for Windows
// text files, each line ends in CR LF and a new file starts with the UTF-8 byte order mark, so
// that every Notepad shows it right. False when it could not be written.
bool AppendToWorkLog(const Services& services, const std::string& path, std::string_view lines);

// Where a command's log lines went when it first wrote them.
struct WorkLogPlace {
  std::string file;             // the log file written; empty when none could be
  bool no_work_folder = false;  // the work folder does not exist yet: nothing was written
};

// Appends a command's first log lines: to the work folder's log, or, when that folder exists
// but its log cannot be written (a write-protected stick, a file in its place), to the one in
// the user's own folder. Later lines of the command go to the file this returns.
WorkLogPlace AppendToCommandLog(const Services& services, const WorkPaths& paths,
                                std::string_view lines);

// The log's line that says which version ran, on which PC and as which user: the fleet report
// reads it to tell the runs of several PCs in one work folder apart.
std::string RunIdentity(const Services& services);

}  // namespace kdr
