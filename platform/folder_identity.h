#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_system.h"

// Whether one folder lies inside another, seen through whatever names reach them: a folder
// named through a second drive letter (subst, a mapped drive) or a link is the same folder, so
// folders are compared by identity, and by spelling where a folder does not exist yet.
namespace kdr {

// The checks made together, on the copies of one edition: each folder is asked once (the
// copies share the folders above them). Folders are told apart by their numbers first, and
// only folders with equal numbers by their whole identities (under Wine each whole identity is
// a dozen server requests more, for the volume).
class FolderIdentities {
 public:
  explicit FolderIdentities(FileSystem& files) : files_(files) {}

  // True when folder `inner` is folder `outer` or lies below it (either may end with a
  // backslash).
  bool AtOrBelow(std::string_view inner, std::string_view outer);
  // True when either folder lies inside the other (or both are one).
  bool Overlap(std::string_view a, std::string_view b) {
    return AtOrBelow(a, b) || AtOrBelow(b, a);
  }
  // Forgets the folders found missing, after folders were made: they are asked again.
  void ForgetMissing();
  // The number of folder `path` (may end with a backslash), learnt elsewhere: not asked again.
  void KnowNumber(std::string_view path, uint64_t number);

 private:
  std::optional<uint64_t> Number(std::string_view path);
  std::optional<FolderId> Identity(std::string_view path);
  bool SameFolder(std::string_view a, std::string_view b);

  FileSystem& files_;
  std::map<std::string, std::optional<uint64_t>, std::less<>> numbers_;
  std::map<std::string, std::optional<FolderId>, std::less<>> identities_;
};

inline bool FolderAtOrBelow(FileSystem& files, std::string_view inner, std::string_view outer) {
  return FolderIdentities(files).AtOrBelow(inner, outer);
}

}  // namespace kdr
