#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/profile_file.h"
#include "platform/registry.h"

// Wrappers around the three services that count the calls that can fail and make the k-th one
// fail, the way the platform reports a failure: a registry call returns kAccessDenied, a file
// call false (or nonzero, or nothing read), a profile read an empty list. Nothing of a failed
// call is done. Every counted call is also written to a trace, so that a test can tell which
// call it made fail.
namespace kdr::testing {

class FaultPlan {
 public:
  // Fails call number `k` (1 upwards); 0 fails none.
  explicit FaultPlan(uint64_t k = 0) : fail_at_(k) {}

  // Counts one call; true when this is the call to fail.
  bool Fail(std::string label) {
    ++calls_;
    bool fail = calls_ == fail_at_;
    if (fail) failed_ = phase_ + "|" + label;
    trace_.push_back(phase_ + "|" + label);
    return fail;
  }

  void SetPhase(std::string phase) { phase_ = std::move(phase); }
  uint64_t calls() const { return calls_; }
  // "phase|label" of the call that was made to fail; empty while none was.
  const std::string& failed() const { return failed_; }
  const std::vector<std::string>& trace() const { return trace_; }

 private:
  uint64_t fail_at_;
  uint64_t calls_ = 0;
  std::string phase_;
  std::string failed_;
  std::vector<std::string> trace_;
};

class FaultyRegistryKey : public RegistryKey {
 public:
  FaultyRegistryKey(RegistryKeyPtr inner, FaultPlan& plan, std::string path)
      : inner_(std::move(inner)), plan_(plan), path_(std::move(path)) {}

  [[nodiscard]] Status QueryValue(std::string_view name, uint32_t* type,
                                  std::string* data) override {
    if (plan_.Fail("query " + path_ + " " + std::string(name))) return kAccessDenied;
    return inner_->QueryValue(name, type, data);
  }
  [[nodiscard]] Status EnumKey(uint32_t index, std::string* name) override {
    if (plan_.Fail("enumkey " + path_ + " " + std::to_string(index))) return kAccessDenied;
    return inner_->EnumKey(index, name);
  }
  [[nodiscard]] Status EnumValue(uint32_t index, std::string* name, uint32_t* type,
                                 std::string* data) override {
    if (plan_.Fail("enumvalue " + path_ + " " + std::to_string(index))) return kAccessDenied;
    return inner_->EnumValue(index, name, type, data);
  }
  [[nodiscard]] Status SetValue(std::string_view name, uint32_t type,
                                std::string_view data) override {
    if (plan_.Fail("set " + path_ + " " + std::string(name))) return kAccessDenied;
    return inner_->SetValue(name, type, data);
  }
  Status DeleteValue(std::string_view name) override {
    if (plan_.Fail("delete " + path_ + " " + std::string(name))) return kAccessDenied;
    return inner_->DeleteValue(name);
  }

 private:
  RegistryKeyPtr inner_;
  FaultPlan& plan_;
  std::string path_;
};

class FaultyRegistry : public Registry {
 public:
  FaultyRegistry(Registry& inner, FaultPlan& plan) : inner_(inner), plan_(plan) {}

  using Registry::OpenKey;
  [[nodiscard]] Status OpenKey(RootKey root, std::string_view path, uint32_t access,
                               RegistryKeyPtr* key, RegistryView view) override {
    std::string label =
        std::string(root == RootKey::kLocalMachine ? "HKLM\\" : "HKCU\\") + std::string(path);
    if (plan_.Fail("open " + label + " " + std::to_string(access))) return kAccessDenied;
    RegistryKeyPtr inner;
    Status status = inner_.OpenKey(root, path, access, &inner, view);
    if (status == kOk) *key = std::make_unique<FaultyRegistryKey>(std::move(inner), plan_, label);
    return status;
  }
  [[nodiscard]] Status CreateKey(RootKey root, std::string_view path,
                                 RegistryKeyPtr* key) override {
    std::string label =
        std::string(root == RootKey::kLocalMachine ? "HKLM\\" : "HKCU\\") + std::string(path);
    if (plan_.Fail("create " + label)) return kAccessDenied;
    RegistryKeyPtr inner;
    Status status = inner_.CreateKey(root, path, &inner);
    if (status == kOk) *key = std::make_unique<FaultyRegistryKey>(std::move(inner), plan_, label);
    return status;
  }
  Status DeleteKey(RootKey root, std::string_view path) override {
    std::string label =
        std::string(root == RootKey::kLocalMachine ? "HKLM\\" : "HKCU\\") + std::string(path);
    if (plan_.Fail("deletekey " + label)) return kAccessDenied;
    return inner_.DeleteKey(root, path);
  }

 private:
  Registry& inner_;
  FaultPlan& plan_;
};

// Lookup, IdentifyFolder and Stamp only look; they are passed through uncounted.
class FaultyFileSystem : public FileSystem {
 public:
  FaultyFileSystem(FileSystem& inner, FaultPlan& plan) : inner_(inner), plan_(plan) {}

  FileResult CreateFolder(std::string_view path) override {
    if (plan_.Fail("mkdir " + std::string(path))) return Denied("CreateDirectory", path);
    return inner_.CreateFolder(path);
  }
  FileResult MakeSurePathExists(std::string_view path) override {
    if (plan_.Fail("makesure " + std::string(path))) return Denied("CreateDirectory", path);
    return inner_.MakeSurePathExists(path);
  }
  Result<EntryKind> Lookup(std::string_view path) override { return inner_.Lookup(path); }
  FileResult IdentifyFolder(std::string_view path, FolderId* id) override {
    return inner_.IdentifyFolder(path, id);
  }
  // A failed copy is a whole folder that could not be read, told to the observer as the
  // platform's copy tells each item it could not copy.
  FileResult CopyFolder(std::string_view destination, std::string_view source, OwnerWindow* owner,
                        CopyObserver* observer) override {
    if (plan_.Fail("copy " + std::string(source))) {
      FileResult denied = Denied("FindFirstFile", source);
      if (observer) observer->CopyFailed(source, denied);
      return denied;
    }
    return inner_.CopyFolder(destination, source, owner, observer);
  }
  bool CopyCanKeepFiles() const override { return inner_.CopyCanKeepFiles(); }
  bool ListsStampsInOneWalk() const override { return inner_.ListsStampsInOneWalk(); }
  bool HoldsOnlyFilesAndFolders(std::string_view folder) override {
    return inner_.HoldsOnlyFilesAndFolders(folder);
  }
  FileResult WriteFileAtomically(std::string_view path, std::string_view bytes) override {
    if (plan_.Fail("writefile " + std::string(path))) return Denied("CreateFile", path);
    return inner_.WriteFileAtomically(path, bytes);
  }
  FileResult WriteNewFile(std::string_view path, std::string_view bytes) override {
    if (plan_.Fail("newfile " + std::string(path))) return Denied("CreateFile", path);
    return inner_.WriteNewFile(path, bytes);
  }
  FileResult WriteNewCopy(std::string_view path, std::string_view from) override {
    if (plan_.Fail("newfile " + std::string(path))) return Denied("CreateFile", path);
    return inner_.WriteNewCopy(path, from);
  }
  FileResult WriteOutNewFiles(std::string_view folder) override {
    if (plan_.Fail("writeout " + std::string(folder))) return Denied("FlushFileBuffers", folder);
    return inner_.WriteOutNewFiles(folder);
  }
  // The run log's appends are not counted: a log that cannot be written loses only the log.
  FileResult AppendToFile(std::string_view path, std::string_view bytes) override {
    return inner_.AppendToFile(path, bytes);
  }
  Result<FileStamp> Stamp(std::string_view path) override { return inner_.Stamp(path); }
  // The open is the counted call (of ReadFile and ReadFileInPieces too), made in the caller's
  // thread; the reading is not counted.
  Result<std::unique_ptr<FileReader>> OpenForReading(std::string_view path) override {
    if (plan_.Fail("readpieces " + std::string(path))) return Denied("CreateFile", path);
    return inner_.OpenForReading(path);
  }
  FileResult ListFiles(std::string_view folder, std::vector<std::string>* files) override {
    if (plan_.Fail("list " + std::string(folder))) return Denied("FindFirstFile", folder);
    return inner_.ListFiles(folder, files);
  }
  FileResult ListFolders(std::string_view folder, std::vector<std::string>* folders) override {
    if (plan_.Fail("listfolders " + std::string(folder))) return Denied("FindFirstFile", folder);
    return inner_.ListFolders(folder, folders);
  }
  FileResult RemoveFile(std::string_view path) override {
    if (plan_.Fail("removefile " + std::string(path))) return Denied("DeleteFile", path);
    return inner_.RemoveFile(path);
  }
  FileResult RemoveFolder(std::string_view path) override {
    if (plan_.Fail("rmdir " + std::string(path))) return Denied("RemoveDirectory", path);
    return inner_.RemoveFolder(path);
  }
  FileResult GetMetadata(std::string_view path, FileMetadata* metadata) override {
    return inner_.GetMetadata(path, metadata);
  }
  FileResult SetMetadata(std::string_view path, const FileMetadata& metadata,
                         unsigned* not_set) override {
    return inner_.SetMetadata(path, metadata, not_set);
  }
  // A sweep has no result to fail: passed through uncounted.
  void RemoveLeftovers(std::string_view folder) override { inner_.RemoveLeftovers(folder); }

 private:
  static FileResult Denied(std::string_view call, std::string_view path) {
    return FileResult::Fail(kAccessDenied, call, path);
  }
  FileSystem& inner_;
  FaultPlan& plan_;
};

class FaultyProfileFile : public ProfileFile {
 public:
  FaultyProfileFile(ProfileFile& inner, FaultPlan& plan) : inner_(inner), plan_(plan) {}

  [[nodiscard]] bool WriteSection(std::string_view section, std::string_view entries,
                                  std::string_view file) override {
    if (plan_.Fail("profile-section " + std::string(section))) return false;
    return inner_.WriteSection(section, entries, file);
  }
  [[nodiscard]] bool WriteString(std::string_view section, std::string_view key,
                                 std::string_view value, std::string_view file) override {
    if (plan_.Fail("profile-string " + std::string(section) + " " + std::string(key))) {
      return false;
    }
    return inner_.WriteString(section, key, value, file);
  }
  uint32_t GetSectionNames(std::span<char> buffer, std::string_view file) override {
    if (plan_.Fail("profile-names " + std::string(file))) return Empty(buffer);
    return inner_.GetSectionNames(buffer, file);
  }
  uint32_t GetSection(std::string_view section, std::span<char> buffer,
                      std::string_view file) override {
    if (plan_.Fail("profile-read " + std::string(section))) return Empty(buffer);
    return inner_.GetSection(section, buffer, file);
  }
  [[nodiscard]] FileResult Flush() override {
    if (plan_.Fail("profile-flush")) return FileResult::Fail(kDiskFull, "WriteFile", "");
    return inner_.Flush();
  }
  // Holds only change when the file is looked at; passed through uncounted.
  void Hold(std::string_view file) override { inner_.Hold(file); }
  void Release(std::string_view file) override { inner_.Release(file); }

 private:
  static uint32_t Empty(std::span<char> buffer) {
    for (size_t i = 0; i < buffer.size() && i < 2; ++i) buffer[i] = '\0';
    return 0;
  }
  ProfileFile& inner_;
  FaultPlan& plan_;
};

}  // namespace kdr::testing
