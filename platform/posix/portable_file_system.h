#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/file_system.h"
#include "platform/posix/drive_map.h"

// The file system on a POSIX host, reached with the tool's Windows paths through a drive table
// (drive_map.h); folder copies by the copy engine (folder_copy.h), whole-file writes by the
// atomic writer (atomic_file.h).
namespace kdr {

class PortableFileSystem : public FileSystem {
 public:
  // Maps drive `letter` (A-Z, either case) to the host folder `folder`.
  void MapDrive(char letter, std::filesystem::path folder);

  // The host path for a tool path; nullopt for an unmapped drive, a name that is not valid code
  // page 932, or a ".." component.
  std::optional<std::filesystem::path> HostPath(std::string_view path) const;

  FileResult CreateFolder(std::string_view path) override;
  FileResult MakeSurePathExists(std::string_view path) override;
  Result<EntryKind> Lookup(std::string_view path) override;
  FileResult IdentifyFolder(std::string_view path, FolderId* id) override;
  FileResult CopyFolder(std::string_view destination, std::string_view source, OwnerWindow* owner,
                        CopyObserver* observer) override;
  bool CopyCanKeepFiles() const override { return true; }
  FileResult WriteFileAtomically(std::string_view path, std::string_view bytes) override;
  FileResult WriteFileInPieces(std::string_view path, const ProduceBytes& produce) override;
  FileResult WriteNewFile(std::string_view path, std::string_view bytes) override;
  FileResult WriteNewCopy(std::string_view path, std::string_view from) override;
  FileResult WriteOutNewFiles(std::string_view folder) override;
  FileResult AppendToFile(std::string_view path, std::string_view bytes) override;
  Result<FileStamp> Stamp(std::string_view path) override;
  Result<std::unique_ptr<FileReader>> OpenForReading(std::string_view path) override;
  FileResult ListFiles(std::string_view folder, std::vector<std::string>* files) override;
  FileResult ListFileStamps(std::string_view folder, std::vector<std::string>* files,
                            std::vector<std::optional<FileStamp>>* stamps) override;
  bool ListsStampsInOneWalk() const override { return true; }
  bool HoldsOnlyFilesAndFolders(std::string_view folder) override;
  void CountFiles(std::string_view folder, uint64_t* files, uint64_t* bytes) override;
  FileResult ListFolders(std::string_view folder, std::vector<std::string>* folders) override;
  FileResult RemoveFile(std::string_view path) override;
  void RemoveFiles(const std::vector<std::string>& paths,
                   std::vector<FileResult>* removed) override;
  FileResult RemoveFolder(std::string_view path) override;
  FileResult GetMetadata(std::string_view path, FileMetadata* metadata) override;
  FileResult SetMetadata(std::string_view path, const FileMetadata& metadata,
                         unsigned* not_set) override;
  void RemoveLeftovers(std::string_view folder) override;

 private:
  // Where a file written at `path` goes: refused for a folder's name, an unmapped drive, or a
  // folder reached through a link that leads off its drive.
  FileResult LocateFileToWrite(std::string_view path, HostLocation* host) const;

  DriveMap drives_;
};

}  // namespace kdr
