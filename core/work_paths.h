#pragma once

#include <array>
#include <string>
#include <string_view>

#include "core/edition.h"

// The work folder tree beside the executable: kdr4env with one folder and one settings file per
// edition. Paths are Windows paths in code page 932.
namespace kdr {

// An edition's folder in the work tree and its settings file.
struct EditionPaths {
  std::string folder;         // <root>\<edition folder name>
  std::string settings_file;  // <folder>\kdr4reg.fil
};

struct WorkPaths {
  std::string root;                                  // <executable folder>\kdr4env
  std::array<EditionPaths, kEditionCount> editions;  // by EditionIndex
  std::string executable_folder;                     // without a trailing backslash

  const std::string& Folder(Edition edition) const {
    return editions[EditionIndex(edition)].folder;
  }
  const std::string& SettingsFile(Edition edition) const {
    return editions[EditionIndex(edition)].settings_file;
  }
};

// The work root's name, beside the executable.
inline constexpr std::string_view kWorkRootName = "kdr4env";
// The work folder's log, which both programs append to; messages name it by its full path.
inline constexpr std::string_view kWorkLogName = "kdr4tose.log";

// The longest path the tool composes below the executable folder: an edition data folder with
// the copy pattern and two terminators ("\kdr4env\personal\DDBVID\*.*" and two NULs).
constexpr size_t LongestWorkSuffix() {
  constexpr size_t kPatternAndTerminators = std::string_view("\\*.*").size() + 2;
  size_t longest = 0;
  for (const EditionTraits& edition : kEditionTraits) {
    for (std::string_view subfolder : edition.data_subfolders) {
      size_t size = 1 + kWorkRootName.size() + 1 + edition.folder_name.size() + 1 +
                    subfolder.size() + kPatternAndTerminators;
      if (size > longest) longest = size;
    }
  }
  return longest;
}
inline constexpr size_t kLongestSuffix = LongestWorkSuffix();

// The folder of `executable_path`: everything before its last backslash, where a backslash that
// is the second byte of a double-byte character does not count. Empty when there is none.
std::string ExecutableFolder(std::string_view executable_path);

// Fills `paths` from the executable's full path. Returns false, leaving `paths` empty, when the
// folder is so long that a composed path would not fit in `max_path` bytes (260 for the Win32
// calls); nothing is cut short.
[[nodiscard]] bool InitWorkPaths(std::string_view executable_path, size_t max_path,
                                 WorkPaths* paths);

// The same from the folder itself (a folder given on a command line).
[[nodiscard]] bool InitWorkPathsFromFolder(std::string_view folder, size_t max_path,
                                           WorkPaths* paths);

}  // namespace kdr
