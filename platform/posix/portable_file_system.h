#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "platform/file_system.h"

// The file system on a POSIX host, reached with the tool's Windows paths: backslashes become
// slashes, code page 932 names become UTF-8, and a drive "X:" is mapped to a host folder through
// a drive table, as Wine's dosdevices links do. A path on an unmapped drive does not exist. A
// path without a drive letter is a host path. On a drive, names match without regard to ASCII
// case as on Windows: a name that does not exist as written reaches an entry that differs from
// it only in case.
namespace kdr {

class PortableFileSystem : public FileSystem {
 public:
  // Maps drive `letter` (A-Z, either case) to the host folder `folder`.
  void MapDrive(char letter, std::filesystem::path folder);

  // The host path for a tool path; nullopt for an unmapped drive or a name that is not valid
  // code page 932.
  std::optional<std::filesystem::path> HostPath(std::string_view path) const;

  bool CreateFolder(std::string_view path) override;
  bool MakeSurePathExists(std::string_view path) override;
  bool Exists(std::string_view path) override;
  bool IsFolder(std::string_view path) override;
  int CopyFolder(std::string_view destination, std::string_view source, void* owner,
                 CopyObserver* observer) override;
  std::optional<std::string> ReadFile(std::string_view path) override;
  bool WriteFileAtomically(std::string_view path, std::string_view bytes) override;
  std::optional<FileStamp> Stamp(std::string_view path) override;
  bool ReadFileInPieces(std::string_view path,
                        const std::function<void(std::string_view)>& sink) override;
  bool ListFiles(std::string_view folder, std::vector<std::string>* files) override;
  bool RemoveFile(std::string_view path) override;
  bool RemoveFolder(std::string_view path) override;

 private:
  std::map<char, std::filesystem::path> drives_;
};

// The temporary files of atomic writes: a name in `folder` that no other writer uses, and the
// removal of those whose writer is gone (a run killed between writing and renaming).
std::filesystem::path TempPathIn(const std::filesystem::path& folder);
void RemoveStaleTempFiles(const std::filesystem::path& folder);

}  // namespace kdr
