#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/file_system.h"

// Another disk's drive letters on a system with its own: the data paths of an offline registry
// name C:\Kodrel4\..., which on the administrator's PC lies below the mounted old disk
// (E:\ or D:\mnt\old). Every path is rewritten before any call of the file system it wraps;
// what the calls give back (the paths of results and of copy reports) is told with the drive
// letter again, as the caller named it. Paths at or below the host's own folders (the work
// folder, the user's state folder) are the host's and stay as they are.
namespace kdr {

class DriveLetterFileSystem : public FileSystem {
 public:
  // `drives`: each letter (A-Z) with its folder, in code page 932 (a drive root "E:\" or a
  // folder); `host_folders`: code page 932 folders never rewritten.
  DriveLetterFileSystem(std::unique_ptr<FileSystem> inner,
                        std::vector<std::pair<char, std::string>> drives,
                        std::vector<std::string> host_folders);

  // The path a call is given: `path` rewritten when it lies on a mapped drive.
  std::string Rewrite(std::string_view path) const;
  // A path the wrapped system gave back, with the drive letter again where it was rewritten.
  std::string Restore(std::string_view path) const;

  FileResult CreateFolder(std::string_view path) override;
  FileResult MakeSurePathExists(std::string_view path) override;
  Result<EntryKind> Lookup(std::string_view path) override;
  FileResult IdentifyFolder(std::string_view path, FolderId* id) override;
  FileResult FolderNumber(std::string_view path, uint64_t* number) override;
  FileResult CopyFolder(std::string_view destination, std::string_view source, OwnerWindow* owner,
                        CopyObserver* observer) override;
  bool CopyCanKeepFiles() const override { return inner_->CopyCanKeepFiles(); }
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
  bool ListsStampsInOneWalk() const override { return inner_->ListsStampsInOneWalk(); }
  bool HoldsOnlyFilesAndFolders(std::string_view folder) override;
  void CountFiles(std::string_view folder, uint64_t* files, uint64_t* bytes) override;
  FileResult ListFolders(std::string_view folder, std::vector<std::string>* folders) override;
  FileResult RemoveFile(std::string_view path) override;
  void RemoveFiles(const std::vector<std::string>& paths,
                   std::vector<FileResult>* removed) override;
  FileResult GetMetadata(std::string_view path, FileMetadata* metadata) override;
  FileResult SetMetadata(std::string_view path, const FileMetadata& metadata,
                         unsigned* not_set) override;
  FileResult RemoveFolder(std::string_view path) override;
  void RemoveLeftovers(std::string_view folder) override;

 private:
  FileResult Told(FileResult result) const;
  template <class T>
  Result<T> Told(Result<T> result) const {
    if (result) return result;
    return Told(result.error());
  }
  bool IsHostPath(std::string_view path) const;

  std::unique_ptr<FileSystem> inner_;
  std::vector<std::pair<char, std::string>> drives_;  // roots without a trailing backslash
  std::vector<std::string> host_folders_;
};

}  // namespace kdr
