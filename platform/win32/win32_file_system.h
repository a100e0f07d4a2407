#pragma once

#include "platform/file_system.h"

// The file system of Windows, through the 8-bit (ANSI code page) functions the tool has always
// used: kernel32's CreateDirectoryA and GetFileAttributesA, imagehlp's
// MakeSureDirectoryPathExists, and shell32's SHFileOperationA for folder copies.
// Paths are passed to them unchanged, so they are read in the ANSI code page (932 on Japanese
// Windows, the code page of the tool's names).
namespace kdr {

class Win32FileSystem : public FileSystem {
 public:
  // CreateDirectoryA with an inheritable handle flag and the default security descriptor.
  FileResult CreateFolder(std::string_view path) override;
  // MakeSureDirectoryPathExists.
  FileResult MakeSurePathExists(std::string_view path) override;
  // GetFileAttributesA (W for a path too long for it).
  Result<EntryKind> Lookup(std::string_view path) override;
  // The volume serial number and file index of the folder, opened with backup semantics.
  FileResult IdentifyFolder(std::string_view path, FolderId* id) override;
  FileResult FolderNumber(std::string_view path, uint64_t* number) override;
  // SHFileOperationA, FO_COPY of "<source>*.*" with FOF_SILENT, FOF_NOCONFIRMATION and
  // FOF_NOCONFIRMMKDIR, owned by the window `owner` (or none), into a staging folder inside the
  // destination (staging_folder.h), from where each file is renamed into place once whole; in
  // place where the staging folder cannot be made or its name would make a path too long for
  // the shell copy (told to the observer). Fails with SHFileOperationA's result. The shell copy
  // says nothing about single files, so with an observer the source tree is walked afterwards
  // and each file reported as copied when the destination holds a file of that name and size,
  // and as failed otherwise (also when a file arrived but could not take the place of one).
  FileResult CopyFolder(std::string_view destination, std::string_view source, OwnerWindow* owner,
                        CopyObserver* observer) override;
  // The platform's atomic writer (atomic_file.h) on the path read in the ANSI code page.
  FileResult WriteFileAtomically(std::string_view path, std::string_view bytes) override;
  FileResult WriteFileInPieces(std::string_view path, const ProduceBytes& produce) override;
  FileResult AppendToFile(std::string_view path, std::string_view bytes) override;
  // Size, last-write time (nanoseconds since 1970) and the volume's file index.
  Result<FileStamp> Stamp(std::string_view path) override;
  Result<std::unique_ptr<FileReader>> OpenForReading(std::string_view path) override;
  // FindFirstFileW / FindNextFileW, each name in the ANSI code page with "?" for a character it
  // cannot hold; reparse points are left out. A path holding such a name reaches the file by its
  // own name wherever no other name of its folder reads alike.
  void CountFiles(std::string_view folder, uint64_t* files, uint64_t* bytes) override;
  bool HoldsOnlyFilesAndFolders(std::string_view folder) override;
  FileResult ListFiles(std::string_view folder, std::vector<std::string>* files) override;
  FileResult ListFolders(std::string_view folder, std::vector<std::string>* folders) override;
  // DeleteFileA (a read-only file's attribute cleared first, as DeleteFile refuses it) and
  // RemoveDirectoryA.
  FileResult RemoveFile(std::string_view path) override;
  FileResult RemoveFolder(std::string_view path) override;
  // GetFileAttributesExW: the kept attributes and the last-write time.
  FileResult GetMetadata(std::string_view path, FileMetadata* metadata) override;
  // SetFileTime through a handle opened for its attributes only (a read-only file allows it),
  // then SetFileAttributesW; the attributes are read back, since Wine drops some.
  FileResult SetMetadata(std::string_view path, const FileMetadata& metadata,
                         unsigned* not_set) override;
  void RemoveLeftovers(std::string_view folder) override;

 private:
  FileResult CheckFolderToList(const std::string& c_folder, std::string_view folder);
};

}  // namespace kdr
