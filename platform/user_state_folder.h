#pragma once

#include <string>

namespace kdr {

// The current user's own folder for the tool's state on this machine (code page 932, in the
// notation the file system takes): %LOCALAPPDATA%\kdr4tose on Windows, $XDG_STATE_HOME/kdr4tose
// or ~/.local/state/kdr4tose elsewhere. Migrate keeps its backup and log there when the work
// folder cannot be written (a write-protected stick, a CD). Empty when there is none, or when
// its path has characters outside code page 932.
std::string UserStateFolder();

}  // namespace kdr
