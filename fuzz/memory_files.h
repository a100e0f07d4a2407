#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/cp932.h"
#include "platform/file_system.h"

// A file system held in memory, for the fuzz targets: files only, no folders of their own. Each
// write gives the file a new stamp, so the profile reader sees every change.
namespace kdr::fuzz {

class BytesReader : public FileReader {
 public:
  explicit BytesReader(std::string bytes) : FileReader(bytes.size()), bytes_(std::move(bytes)) {}
  FileResult ReadPieces(const std::function<void(std::string_view)>& sink) override {
    sink(bytes_);
    return FileResult::Ok();
  }

 private:
  std::string bytes_;
};

class MemoryFiles : public FileSystem {
 public:
  void Put(std::string_view path, std::string_view bytes) {
    files_[std::string(path)] = {std::string(bytes), ++serial_};
  }
  const std::string* Get(std::string_view path) const {
    auto it = files_.find(std::string(path));
    return it == files_.end() ? nullptr : &it->second.bytes;
  }

  FileResult CreateFolder(std::string_view path) override {
    return FileResult::Fail(kAccessDenied, "CreateDirectory", path);
  }
  FileResult MakeSurePathExists(std::string_view) override { return FileResult::Ok(); }
  Result<EntryKind> Lookup(std::string_view path) override {
    return Get(path) ? EntryKind::kFile : EntryKind::kNone;
  }
  FileResult IdentifyFolder(std::string_view path, FolderId*) override {
    return FileResult::Fail(kPathNotFound, "CreateFile", path);
  }
  FileResult CopyFolder(std::string_view, std::string_view source, OwnerWindow*,
                        CopyObserver*) override {
    return FileResult::Fail(kNotSupported, "CopyFolder", source);
  }
  FileResult WriteFileAtomically(std::string_view path, std::string_view bytes) override {
    Put(path, bytes);
    return FileResult::Ok();
  }
  FileResult AppendToFile(std::string_view path, std::string_view bytes) override {
    const std::string* old = Get(path);
    Put(path, (old ? *old : std::string()) + std::string(bytes));
    return FileResult::Ok();
  }
  Result<FileStamp> Stamp(std::string_view path) override {
    auto it = files_.find(std::string(path));
    if (it == files_.end()) return FileResult::Fail(kNotFound, "CreateFile", path);
    return FileStamp{it->second.bytes.size(), static_cast<int64_t>(it->second.serial), 1};
  }
  // The reader holds its own copy, so that it reads what the file held when it was opened.
  Result<std::unique_ptr<FileReader>> OpenForReading(std::string_view path) override {
    auto it = files_.find(std::string(path));
    if (it == files_.end()) return FileResult::Fail(kNotFound, "CreateFile", path);
    return std::unique_ptr<FileReader>(std::make_unique<BytesReader>(it->second.bytes));
  }
  // Names are whole paths here; a folder is every name that starts with it.
  FileResult ListFiles(std::string_view folder, std::vector<std::string>* files) override {
    files->clear();
    for (const auto& [name, file] : files_) {
      if (name.size() > folder.size() && name.compare(0, folder.size(), folder) == 0) {
        files->push_back(name.substr(folder.size()));
      }
    }
    return FileResult::Ok();
  }
  // Folders are not held apart from their files.
  FileResult ListFolders(std::string_view, std::vector<std::string>* folders) override {
    folders->clear();
    return FileResult::Ok();
  }
  FileResult RemoveFile(std::string_view path) override {
    if (files_.erase(std::string(path)) > 0) return FileResult::Ok();
    return FileResult::Fail(kNotFound, "DeleteFile", path);
  }
  FileResult RemoveFolder(std::string_view path) override {
    return FileResult::Fail(kAccessDenied, "RemoveDirectory", path);
  }
  // Files here have no metadata of their own.
  FileResult GetMetadata(std::string_view path, FileMetadata*) override {
    return FileResult::Fail(kNotSupported, "GetFileAttributes", path);
  }
  FileResult SetMetadata(std::string_view path, const FileMetadata& metadata,
                         unsigned* not_set) override {
    *not_set = MetadataParts(metadata);
    return FileResult::Fail(kNotSupported, "SetFileAttributes", path);
  }

 private:
  struct File {
    std::string bytes;
    uint64_t serial = 0;
  };
  std::map<std::string, File, Cp932NoCaseLess> files_;
  uint64_t serial_ = 0;
};

// Stops the fuzzer with a message when an invariant does not hold.
[[noreturn]] void Fail(const char* what);

}  // namespace kdr::fuzz
