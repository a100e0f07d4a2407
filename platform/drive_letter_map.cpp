#include "platform/drive_letter_map.h"

#include "platform/cp932.h"

namespace kdr {
namespace {

// Reports of the wrapped copy, with the paths as the caller named them.
class RestoringObserver : public CopyObserver {
 public:
  RestoringObserver(const DriveLetterFileSystem& files, CopyObserver& outer)
      : files_(files), outer_(outer) {}
  void FileCopied(std::string_view source, uint64_t bytes) override {
    outer_.FileCopied(files_.Restore(source), bytes);
  }
  void CopyFailed(std::string_view source, const FileResult& error) override {
    FileResult told = error;
    told.path = files_.Restore(error.path);
    outer_.CopyFailed(files_.Restore(source), told);
  }
  bool WantsFileBytes(std::string_view source) override {
    return outer_.WantsFileBytes(files_.Restore(source));
  }
  void FileBytes(std::string_view source, std::string_view piece) override {
    outer_.FileBytes(files_.Restore(source), piece);
  }
  void CopiedItself(std::string_view source) override {
    outer_.CopiedItself(files_.Restore(source));
  }
  bool KeepsExisting(std::string_view source, std::string_view destination,
                     const CopyPairStamps& known) override {
    return outer_.KeepsExisting(files_.Restore(source), files_.Restore(destination), known);
  }
  void FileKept(std::string_view source, uint64_t bytes) override {
    outer_.FileKept(files_.Restore(source), bytes);
  }
  void CopiedInPlace(std::string_view destination, std::string_view why) override {
    outer_.CopiedInPlace(files_.Restore(destination), why);
  }
  bool StopRequested() override { return outer_.StopRequested(); }

 private:
  const DriveLetterFileSystem& files_;
  CopyObserver& outer_;
};

// The letter of "X:" or "X:\...", upper case; 0 for any other path.
// `path` without the separators that end it (a folder path's), never into a drive root.
std::string_view WithoutTrailingSeparators(std::string_view path) {
  while (path.size() > 3 && FindLastCp932Separator(path) == path.size() - 1) {
    path.remove_suffix(1);
  }
  return path;
}

char DriveOf(std::string_view path) {
  if (path.size() < 2 || path[1] != ':' || (path.size() > 2 && path[2] != '\\')) return 0;
  char letter = AsciiUpper(path[0]);
  return letter >= 'A' && letter <= 'Z' ? letter : 0;
}

}  // namespace

DriveLetterFileSystem::DriveLetterFileSystem(std::unique_ptr<FileSystem> inner,
                                             std::vector<std::pair<char, std::string>> drives,
                                             std::vector<std::string> host_folders)
    : inner_(std::move(inner)), host_folders_(std::move(host_folders)) {
  for (auto& [letter, root] : drives) {
    while (!root.empty() && root.back() == '\\' &&
           FindLastCp932Separator(root) == root.size() - 1) {
      root.pop_back();
    }
    drives_.emplace_back(AsciiUpper(letter), std::move(root));
  }
  for (std::string& folder : host_folders_) folder = WithoutTrailingSeparators(folder);
}

std::string DriveLetterFileSystem::Rewrite(std::string_view path) const {
  char letter = DriveOf(path);
  if (letter == 0) return std::string(path);
  if (IsHostPath(path)) return std::string(path);
  for (const auto& [mapped, root] : drives_) {
    // A root that could not be named reaches nothing rather than the host's own drive.
    if (mapped == letter) return (root.empty() ? "?" : root) + std::string(path.substr(2));
  }
  return std::string(path);
}

std::string DriveLetterFileSystem::Restore(std::string_view path) const {
  for (const auto& [letter, root] : drives_) {
    if (path.size() >= root.size() && (path.size() == root.size() || path[root.size()] == '\\') &&
        Cp932StartsWithNoCase(path, root) && !IsHostPath(path)) {
      // A path at or below a host folder was never rewritten, though the mapped root holds it.
      return std::string(1, letter) + ":" + std::string(path.substr(root.size()));
    }
  }
  return std::string(path);
}

bool DriveLetterFileSystem::IsHostPath(std::string_view path) const {
  std::string_view trimmed = WithoutTrailingSeparators(path);
  for (const std::string& folder : host_folders_) {
    if (!folder.empty() && Cp932PathAtOrBelow(trimmed, folder)) return true;
  }
  return false;
}

FileResult DriveLetterFileSystem::Told(FileResult result) const {
  if (!result) result.path = Restore(result.path);
  return result;
}

FileResult DriveLetterFileSystem::CreateFolder(std::string_view path) {
  return Told(inner_->CreateFolder(Rewrite(path)));
}
FileResult DriveLetterFileSystem::MakeSurePathExists(std::string_view path) {
  return Told(inner_->MakeSurePathExists(Rewrite(path)));
}
Result<EntryKind> DriveLetterFileSystem::Lookup(std::string_view path) {
  Result<EntryKind> kind = inner_->Lookup(Rewrite(path));
  if (!kind) return Told(kind.error());
  return kind;
}
FileResult DriveLetterFileSystem::IdentifyFolder(std::string_view path, FolderId* id) {
  return Told(inner_->IdentifyFolder(Rewrite(path), id));
}
FileResult DriveLetterFileSystem::FolderNumber(std::string_view path, uint64_t* number) {
  return Told(inner_->FolderNumber(Rewrite(path), number));
}
FileResult DriveLetterFileSystem::CopyFolder(std::string_view destination, std::string_view source,
                                             OwnerWindow* owner, CopyObserver* observer) {
  if (!observer)
    return Told(inner_->CopyFolder(Rewrite(destination), Rewrite(source), owner, nullptr));
  RestoringObserver restoring(*this, *observer);
  return Told(inner_->CopyFolder(Rewrite(destination), Rewrite(source), owner, &restoring));
}
FileResult DriveLetterFileSystem::WriteFileAtomically(std::string_view path,
                                                      std::string_view bytes) {
  return Told(inner_->WriteFileAtomically(Rewrite(path), bytes));
}
FileResult DriveLetterFileSystem::WriteFileInPieces(std::string_view path,
                                                    const ProduceBytes& produce) {
  return Told(inner_->WriteFileInPieces(Rewrite(path), produce));
}
FileResult DriveLetterFileSystem::WriteNewFile(std::string_view path, std::string_view bytes) {
  return Told(inner_->WriteNewFile(Rewrite(path), bytes));
}
FileResult DriveLetterFileSystem::WriteNewCopy(std::string_view path, std::string_view from) {
  return Told(inner_->WriteNewCopy(Rewrite(path), Rewrite(from)));
}
FileResult DriveLetterFileSystem::WriteOutNewFiles(std::string_view folder) {
  return Told(inner_->WriteOutNewFiles(Rewrite(folder)));
}
FileResult DriveLetterFileSystem::AppendToFile(std::string_view path, std::string_view bytes) {
  return Told(inner_->AppendToFile(Rewrite(path), bytes));
}
Result<FileStamp> DriveLetterFileSystem::Stamp(std::string_view path) {
  return Told(inner_->Stamp(Rewrite(path)));
}
Result<std::unique_ptr<FileReader>> DriveLetterFileSystem::OpenForReading(std::string_view path) {
  return Told(inner_->OpenForReading(Rewrite(path)));
}
FileResult DriveLetterFileSystem::ListFiles(std::string_view folder,
                                            std::vector<std::string>* files) {
  return Told(inner_->ListFiles(Rewrite(folder), files));
}
FileResult DriveLetterFileSystem::ListFileStamps(std::string_view folder,
                                                 std::vector<std::string>* files,
                                                 std::vector<std::optional<FileStamp>>* stamps) {
  return Told(inner_->ListFileStamps(Rewrite(folder), files, stamps));
}
void DriveLetterFileSystem::CountFiles(std::string_view folder, uint64_t* files, uint64_t* bytes) {
  inner_->CountFiles(Rewrite(folder), files, bytes);
}
bool DriveLetterFileSystem::HoldsOnlyFilesAndFolders(std::string_view folder) {
  return inner_->HoldsOnlyFilesAndFolders(Rewrite(folder));
}
FileResult DriveLetterFileSystem::ListFolders(std::string_view folder,
                                              std::vector<std::string>* folders) {
  return Told(inner_->ListFolders(Rewrite(folder), folders));
}
FileResult DriveLetterFileSystem::RemoveFile(std::string_view path) {
  return Told(inner_->RemoveFile(Rewrite(path)));
}

void DriveLetterFileSystem::RemoveFiles(const std::vector<std::string>& paths,
                                        std::vector<FileResult>* removed) {
  std::vector<std::string> rewritten;
  rewritten.reserve(paths.size());
  for (const std::string& path : paths) rewritten.push_back(Rewrite(path));
  inner_->RemoveFiles(rewritten, removed);
  for (FileResult& result : *removed) result = Told(std::move(result));
}
FileResult DriveLetterFileSystem::GetMetadata(std::string_view path, FileMetadata* metadata) {
  return Told(inner_->GetMetadata(Rewrite(path), metadata));
}
FileResult DriveLetterFileSystem::SetMetadata(std::string_view path, const FileMetadata& metadata,
                                              unsigned* not_set) {
  return Told(inner_->SetMetadata(Rewrite(path), metadata, not_set));
}
FileResult DriveLetterFileSystem::RemoveFolder(std::string_view path) {
  return Told(inner_->RemoveFolder(Rewrite(path)));
}
void DriveLetterFileSystem::RemoveLeftovers(std::string_view folder) {
  inner_->RemoveLeftovers(Rewrite(folder));
}

}  // namespace kdr
