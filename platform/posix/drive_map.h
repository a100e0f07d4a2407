#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_result.h"

// Windows paths on a POSIX host, as Wine's dosdevices links give them: backslashes become
// slashes, code page 932 names become UTF-8, and a drive "X:" is a host folder. A path on an
// unmapped drive does not exist; a path without a drive letter is a host path (the console
// tool's work folder), where only a name with "?" is looked for as on a drive. A ".." component is
// refused: a path never climbs out of its drive. On a drive, names match without regard to ASCII
// case as on Windows.
namespace kdr {

// Where a tool path lies on the host.
struct HostLocation {
  std::filesystem::path path;
  std::filesystem::path drive_root;  // the mapped folder; empty for a path without a drive
};

class DriveMap {
 public:
  // Maps drive `letter` (A-Z, either case) to the host folder `folder`.
  void Map(char letter, std::filesystem::path folder);

  // The host location of a tool path; a failure says why (no such drive, a name that is not
  // code page 932, a ".." component) with `call` and the tool path.
  FileResult Locate(std::string_view path, std::string_view call, HostLocation* out) const;
  // The same without looking names up: the path as written, which is where Locate puts it
  // whenever it exists as written. A caller that finds nothing there asks Locate.
  FileResult LocateAsWritten(std::string_view path, std::string_view call, HostLocation* out) const;

 private:
  FileResult Find(std::string_view path, std::string_view call, HostLocation* out,
                  bool resolve) const;

  std::map<char, std::filesystem::path> drives_;
};

// `relative` (UTF-8, '/'-separated) below `base`, with each name that does not exist as written
// replaced by an entry of its folder that matches it as Windows matches names (cp932.h), or
// whose ToolName it is. Names that match nothing, and a name with "?" that matches more than
// one entry, stay as they are.
std::filesystem::path ResolveCase(const std::filesystem::path& base, std::string_view relative);

// A host file name as the tool's 8-bit text, as Windows' 8-bit calls show it: a character that
// code page 932 cannot hold (or a byte that is not UTF-8) becomes "?". ResolveCase finds the
// file again by it while no other name of its folder reads alike.
std::string ToolName(const std::filesystem::path& name);

// True when `candidate` is `root` or lies below it (both absolute and normal).
bool IsInside(const std::filesystem::path& candidate, const std::filesystem::path& root);

// True when `host` (which need not exist) resolves, links followed, inside `root` (which does).
bool ResolvesInside(const std::filesystem::path& host, const std::filesystem::path& root);

}  // namespace kdr
