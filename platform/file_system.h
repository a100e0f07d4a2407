#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_metadata.h"
#include "platform/file_result.h"
#include "platform/owner_window.h"
#include "platform/put_bytes.h"
#include "platform/result_codes.h"

// Folders and files as the tool sees them. Paths are Windows paths in 8-bit text (code page 932)
// with backslashes: "C:\Tools\kdr4env\client". Each implementation maps them to its platform.
// A call that can fail returns a FileResult: the Win32 error number, the call and the path.
namespace kdr {

// Which file a path named and its content then: whether a cached copy is still current, whether
// a file read before was changed or replaced since. Stamps are compared with stamps of the same
// path: the file id is the file's number (on POSIX with its device, on Windows on its volume).
struct FileStamp {
  uint64_t size = 0;
  int64_t modified_ns = 0;
  uint64_t file_id = 0;
  // When anything of the file last changed (content, times, mode): moved by every write and set
  // by no program, unlike the modification time. 0 where the platform gives none.
  int64_t changed_ns = 0;
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// What a folder copy knows of a source file and the file in its place as it comes to them:
// their stamps, taken as FileSystem::Stamp takes them (empty: not taken).
struct CopyPairStamps {
  std::optional<FileStamp> source;
  std::optional<FileStamp> destination;
};

// Told about each item of a folder copy, for logs and progress. Paths are the copied source
// paths in the same 8-bit text. Implementations may report after the fact.
class CopyObserver {
 public:
  virtual ~CopyObserver() = default;
  virtual void FileCopied(std::string_view source_path, uint64_t bytes) = 0;
  // An item (a file, or a folder that could not be listed or made) that was not copied, or not
  // whole; `error` is the call that failed, its path and the platform's error. A folder's path
  // ends with a backslash, a file's never does (NamesFolder tells them apart).
  virtual void CopyFailed(std::string_view source_path, const FileResult& error) = 0;
  // Whether the observer wants the bytes of this file (FileBytes). Asked before it is copied.
  virtual bool WantsFileBytes(std::string_view /*source_path*/) { return false; }
  // A copy hands a wanted file's bytes here as they pass through the tool: first an empty
  // piece, then the bytes in order (holes as zeros), then FileCopied, or CopyFailed when it
  // stopped midway. Bytes the platform copies on its own are not handed: only a file whose
  // pieces add up to the size FileCopied reports was handed whole.
  virtual void FileBytes(std::string_view /*source_path*/, std::string_view /*piece*/) {}
  // A file the platform's own folder copy could not take (on Windows a path too long for the
  // shell copy) that the copy took itself, told before FileCopied.
  virtual void CopiedItself(std::string_view /*source_path*/) {}
  // Asked before a file is copied over an existing plain file of the same name: true leaves
  // that file as it is, and the copy tells nothing more of the source (the observer has told
  // what it did: FileKept, or CopyFailed). A copy that cannot leave single files out copies all.
  // `known` holds the stamps the copy took of both files as it came to them.
  virtual bool KeepsExisting(std::string_view /*source_path*/,
                             std::string_view /*destination_path*/,
                             const CopyPairStamps& /*known*/) {
    return false;
  }
  // A file not copied because the destination held the same content already.
  virtual void FileKept(std::string_view /*source_path*/, uint64_t /*bytes*/) {}
  // A copy that would let each file appear under its name only once it is whole (through a
  // temporary folder beside it) writes into `destination` in place instead, for reason `why`.
  // Told before it copies.
  virtual void CopiedInPlace(std::string_view /*destination*/, std::string_view /*why*/) {}
  // Asked between files: true ends the copy there, before the next file is begun (the files
  // not reached are not told). The copy then fails with kCancelled.
  virtual bool StopRequested() { return false; }
};

// Whether a path a copy reports names a folder: it ends with a backslash of its own, not with
// the second byte of a character such as "表" (0x95 0x5C).
bool NamesFolder(std::string_view source_path);

// An observer that passes every call on to `next` (may be null): observers that act on a few
// calls derive from it and call its methods to pass the calls on, so the bytes of a file reach
// whoever wants them behind them in the chain.
class ForwardingCopyObserver : public CopyObserver {
 public:
  explicit ForwardingCopyObserver(CopyObserver* next) : next_(next) {}
  void FileCopied(std::string_view source_path, uint64_t bytes) override {
    if (next_) next_->FileCopied(source_path, bytes);
  }
  void CopyFailed(std::string_view source_path, const FileResult& error) override {
    if (next_) next_->CopyFailed(source_path, error);
  }
  bool WantsFileBytes(std::string_view source_path) override {
    return next_ && next_->WantsFileBytes(source_path);
  }
  void FileBytes(std::string_view source_path, std::string_view piece) override {
    if (next_) next_->FileBytes(source_path, piece);
  }
  void CopiedItself(std::string_view source_path) override {
    if (next_) next_->CopiedItself(source_path);
  }
  bool KeepsExisting(std::string_view source_path, std::string_view destination_path,
                     const CopyPairStamps& known) override {
    return next_ && next_->KeepsExisting(source_path, destination_path, known);
  }
  void FileKept(std::string_view source_path, uint64_t bytes) override {
    if (next_) next_->FileKept(source_path, bytes);
  }
  void CopiedInPlace(std::string_view destination, std::string_view why) override {
    if (next_) next_->CopiedInPlace(destination, why);
  }
  bool StopRequested() override { return next_ && next_->StopRequested(); }

 private:
  CopyObserver* next_;
};

// Which folder a path reaches, the same through each of its names (another drive letter, a
// mapped drive, a link): the volume and file id on Windows, the device and inode elsewhere.
struct FolderId {
  uint64_t volume = 0;
  uint64_t file = 0;
  friend bool operator==(const FolderId&, const FolderId&) = default;
};

// A file opened for reading from start to end. Reading it makes no call on the file system that
// opened it, so it may go on in another thread while that one makes other calls.
class FileReader {
 public:
  explicit FileReader(uint64_t size = 0, std::optional<FileStamp> stamp = std::nullopt)
      : size_(size), stamp_(stamp) {}
  virtual ~FileReader() = default;
  // Hands each piece to `sink` in order, without holding the file whole. Fails with the read
  // that failed (pieces already handed stay handed). Called once.
  virtual FileResult ReadPieces(const std::function<void(std::string_view)>& sink) = 0;
  // The file's size when it was opened (it may grow or shrink since); 0 when not known.
  uint64_t size() const { return size_; }
  // The file's stamp when it was opened, as FileSystem::Stamp takes it, where the open gives it
  // for nothing (a caller that needs one asks Stamp otherwise).
  const std::optional<FileStamp>& stamp() const { return stamp_; }

 private:
  uint64_t size_;
  std::optional<FileStamp> stamp_;
};

// What a path names.
enum class EntryKind { kNone, kFile, kFolder };

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Creates exactly one folder whose parent exists (`path` has no trailing backslash). Success
  // only when it created the folder; already existing is a failure (183).
  virtual FileResult CreateFolder(std::string_view path) = 0;

  // Creates every missing folder of `path` up to its last backslash; what follows the last
  // backslash is a file name and is not created. Success when all of them exist afterwards.
  virtual FileResult MakeSurePathExists(std::string_view path) = 0;

  // What `path` names (a trailing backslash is accepted): nothing (2 or 3, or a path through a
  // file), a folder, or a file (anything else). Fails with the call and the platform's error
  // when that cannot be asked: access denied on a folder above it, a drive not ready, a name
  // the platform cannot take.
  virtual Result<EntryKind> Lookup(std::string_view path) = 0;

  // True when a file or folder of that name exists; false when nothing is there and when that
  // cannot be asked. For callers to which both are the same; the others ask Lookup.
  bool Exists(std::string_view path);

  // True only when `path` names an existing folder, as Exists.
  bool IsFolder(std::string_view path);

  // The identity of the folder `path` names (a trailing backslash is accepted). Fails with 2 or
  // 3 when nothing is there, 267 when a file is, and with the platform's own error when it
  // cannot be reached (no such server or share, a drive not ready, access denied).
  virtual FileResult IdentifyFolder(std::string_view path, FolderId* id) = 0;

  // The folder's number on its volume, asked without the volume (which under Wine is a round
  // trip to its mount manager): folders whose numbers differ are different folders; folders
  // whose numbers are equal may still lie on different volumes, and IdentifyFolder tells.
  // Fails as IdentifyFolder. By default the number of IdentifyFolder's identity.
  virtual FileResult FolderNumber(std::string_view path, uint64_t* number);

  // Copies every file and subfolder of folder `source` (ends with a backslash) with its whole
  // subtree into folder `destination` (ends with a backslash): a missing destination is
  // created, same-named files are replaced, folders merged, nothing deleted, no prompt.
  // `owner` is the window that owns any message the platform shows (may be null).
  // Success when everything was copied; otherwise the first failure (after copying all it
  // could; each item not copied is also told to the observer).
  virtual FileResult CopyFolder(std::string_view destination, std::string_view source,
                                OwnerWindow* owner, CopyObserver* observer) = 0;
  // Whether CopyFolder asks its observer's KeepsExisting before it copies over a file, and so
  // can leave single files as they are. Where it cannot (the platform's own copy takes a folder
  // whole), a Migrate must plan to replace, and back up, every file it finds.
  virtual bool CopyCanKeepFiles() const { return false; }

  // Reads a whole file, through OpenForReading: fails as that does, or with the read that failed.
  Result<std::string> ReadFile(std::string_view path);

  // Replaces (or creates) a file with `bytes` so that readers see either the old or the new
  // content, never a part: a temporary file in the same folder, then a rename over the old one.
  // A replaced file keeps its permissions or attributes; its read-only attribute does not keep
  // it from being replaced (as on POSIX, where a rename does not ask the file).
  virtual FileResult WriteFileAtomically(std::string_view path, std::string_view bytes) = 0;

  // The same with the content produced piece by piece (put_bytes.h), so that a large file need
  // not be held whole; a producer that gives up fails the write and leaves the old file. This
  // default joins the pieces and writes them with WriteFileAtomically; the platforms stream
  // them into their temporary file instead.
  virtual FileResult WriteFileInPieces(std::string_view path, const ProduceBytes& produce) {
    std::string bytes;
    if (!produce([&](std::string_view piece) {
          bytes.append(piece);
          return true;
        })) {
      return FileResult::Fail(kCancelled, "WriteFile", path);
    }
    return WriteFileAtomically(path, bytes);
  }

  // Creates file `path`, which must not exist yet, with `bytes`, without waiting for the disk:
  // it is on the disk once WriteOutNewFiles of its folder has returned. For many files that one
  // later moment needs on the disk together (a backup's saved copies, before its journal names
  // them), where a wait for each would cost more than the copies. An existing file or folder is
  // refused (183). A failed or stopped write may leave a part of the file. This default writes
  // each file out at once; POSIX leaves the flush to WriteOutNewFiles.
  virtual FileResult WriteNewFile(std::string_view path, std::string_view bytes) {
    Result<EntryKind> there = Lookup(path);
    if (!there) return there.error();
    if (*there != EntryKind::kNone) return FileResult::Fail(kAlreadyExists, "CreateFile", path);
    return WriteFileAtomically(path, bytes);
  }

  // Creates file `path`, which must not exist yet, with the content of the existing file
  // `from`, as WriteNewFile does. Where the platform can, `path` is a second name of the same
  // file (a hard link): nothing is read or written, and a later rename over `from` frees
  // nothing, which on some file systems costs more than the copy. Its content then follows any
  // write into `from` in place: the caller hashes `path` once it is made, and `from` must not
  // be written in place afterwards. This default reads `from` and writes its bytes; POSIX
  // makes a hard link where it can.
  virtual FileResult WriteNewCopy(std::string_view path, std::string_view from) {
    Result<std::string> bytes = ReadFile(from);
    if (!bytes) return bytes.error();
    return WriteNewFile(path, *bytes);
  }

  // Puts on the disk what WriteNewFile wrote in folder `folder` (no trailing backslash) and
  // below it (it may write out more). This default has nothing left to write.
  virtual FileResult WriteOutNewFiles(std::string_view /*folder*/) { return FileResult::Ok(); }

  // Appends `bytes` to a file, creating it when missing (readable by its owner only where the
  // platform has owners), on the disk when it returns. A program stopped meanwhile may leave a
  // part of them: the reader must tell a record cut short (the log, the backup journal).
  virtual FileResult AppendToFile(std::string_view path, std::string_view bytes) = 0;

  // The stamp of an existing file. Fails with 2 or 3 when nothing is there, 5 for a folder,
  // and with the platform's error when it cannot be reached.
  virtual Result<FileStamp> Stamp(std::string_view path) = 0;

  // Reads a file from start to end, handing each piece to `sink` in order, without holding it
  // whole: OpenForReading, then its reader. Fails as they do (pieces already handed stay handed).
  FileResult ReadFileInPieces(std::string_view path,
                              const std::function<void(std::string_view)>& sink);

  // Opens an existing file for reading, its reading left to the reader. Fails with 2 or 3 when
  // nothing is there, 5 for a folder, 1200 for a device, or the platform's error.
  virtual Result<std::unique_ptr<FileReader>> OpenForReading(std::string_view path) = 0;

  // Every regular file below folder `folder` (ends with a backslash) as a path relative to it,
  // with backslashes, in byte order. Links and the tool's own temporary files are left out.
  // Fails with 3 when the folder is missing, 267 when a file is there, or with the listing
  // call and path of the folder or subfolder that could not be listed.
  virtual FileResult ListFiles(std::string_view folder, std::vector<std::string>* files) = 0;
  // ListFiles, with each file's stamp beside its name (none where it cannot be taken): for a
  // look at many files by their stamps. Where the listing cannot give them, a Stamp of each.
  virtual FileResult ListFileStamps(std::string_view folder, std::vector<std::string>* files,
                                    std::vector<std::optional<FileStamp>>* stamps);
  // Whether ListFileStamps takes the stamps in its own walk, for less than a Stamp a file.
  virtual bool ListsStampsInOneWalk() const { return false; }
  // Whether `folder` (ends with a backslash) and every folder below it hold nothing but plain
  // files and folders: no link or device, which a copy carries but a listing of files does not
  // show. False where that cannot be told.
  virtual bool HoldsOnlyFilesAndFolders(std::string_view /*folder*/) { return false; }

  // The number and total size of the files ListFiles would list below folder `folder` (ends
  // with a backslash), added to *files and *bytes; for progress, so a file that cannot be read
  // counts as one of no bytes. This default stamps each file; a platform whose listing gives
  // the sizes with the names does better.
  virtual void CountFiles(std::string_view folder, uint64_t* files, uint64_t* bytes) {
    std::vector<std::string> names;
    (void)ListFiles(folder, &names);
    *files += names.size();
    for (const std::string& name : names) {
      if (Result<FileStamp> stamp = Stamp(std::string(folder) + name)) *bytes += stamp->size;
    }
  }

  // Every folder below folder `folder` (ends with a backslash), as ListFiles gives files:
  // relative, without a trailing backslash, in byte order (so a parent comes before its
  // subfolders). Links are left out. Fails as ListFiles does.
  virtual FileResult ListFolders(std::string_view folder, std::vector<std::string>* folders) = 0;

  // Removes one file (not a folder), read-only or not (as POSIX, where a file's own mode does
  // not keep it). Fails with 2 or 3 when nothing is there, 5 for a folder, or the platform's
  // error.
  virtual FileResult RemoveFile(std::string_view path) = 0;
  // Removes each file of `paths` as RemoveFile does, in no particular order; (*removed)[i] tells
  // for paths[i]. A file system whose removals wait for the disk one by one may overlap them.
  virtual void RemoveFiles(const std::vector<std::string>& paths,
                           std::vector<FileResult>* removed) {
    removed->assign(paths.size(), FileResult::Ok());
    for (size_t i = 0; i < paths.size(); ++i) (*removed)[i] = RemoveFile(paths[i]);
  }

  // The metadata of an existing file (not a folder), of this platform's kind. Fails with 2 when
  // nothing is there and 5 for a folder.
  virtual FileResult GetMetadata(std::string_view path, FileMetadata* metadata) = 0;

  // Gives an existing file the metadata GetMetadata read from another: each part it can, the
  // rest named in *not_set (MetadataPart bits; all of MetadataParts(metadata) for metadata of
  // another platform's kind). Success only when every part was set; otherwise the first failure.
  virtual FileResult SetMetadata(std::string_view path, const FileMetadata& metadata,
                                 unsigned* not_set) = 0;

  // Removes one empty folder (no trailing backslash). Temporary files of the tool's runs that
  // have ended (killed during a copy) do not count: they go with it. Fails with 145 when
  // something else is in it, 2 or 3 when nothing is there, or the platform's error.
  virtual FileResult RemoveFolder(std::string_view path) = 0;

  // Removes from folder `folder` what runs of the tool that have ended (killed during a write or
  // a copy) left there: temporary files and the temporary folders of folder copies. Those of a
  // run still going stay. This default has none to remove.
  virtual void RemoveLeftovers(std::string_view /*folder*/) {}
};

// The stamp `known` holds, else the one `files` takes of `path` now (empty when it has none).
std::optional<FileStamp> StampOr(const std::optional<FileStamp>& known, FileSystem& files,
                                 std::string_view path);

}  // namespace kdr
