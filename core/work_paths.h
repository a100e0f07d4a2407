#pragma once

#include <string>
#include <string_view>

#include "core/edition.h"

// The work folder tree beside the executable: kdr4env with one folder and one settings file per
// edition. Paths are Windows paths in code page 932.
namespace kdr {

struct WorkPaths {
  std::string root;  // <executable folder>\kdr4env
  std::string personal_folder;
  std::string personal_file;
  std::string client_folder;
  std::string client_file;
  std::string server_folder;
  std::string server_file;
  std::string executable_folder;  // without a trailing backslash

  const std::string& Folder(Edition edition) const;
  const std::string& SettingsFile(Edition edition) const;
};

// The longest path the tool composes below the executable folder: an edition data folder with
// the copy pattern and two terminators ("\kdr4env\personal\DDBVID\*.*" and two NULs).
inline constexpr size_t kLongestSuffix = 30;

// The folder of `executable_path`: everything before its last backslash, where a backslash that
// is the second byte of a double-byte character does not count. Empty when there is none.
std::string ExecutableFolder(std::string_view executable_path);

// Fills `paths` from the executable's full path. Returns false, leaving `paths` empty, when the
// folder is so long that a composed path would not fit in `max_path` bytes (260 for the Win32
// calls); nothing is cut short.
bool InitWorkPaths(std::string_view executable_path, size_t max_path, WorkPaths* paths);

// The same from the folder itself (a folder given on a command line).
bool InitWorkPathsFromFolder(std::string_view folder, size_t max_path, WorkPaths* paths);


}  // namespace kdr
