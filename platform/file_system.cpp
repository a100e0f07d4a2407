#include "platform/file_system.h"

#include "platform/cp932.h"

namespace kdr {

bool NamesFolder(std::string_view source_path) {
  return !source_path.empty() && FindLastCp932Separator(source_path) + 1 == source_path.size();
}

std::optional<FileStamp> StampOr(const std::optional<FileStamp>& known, FileSystem& files,
                                 std::string_view path) {
  if (known) return known;
  return files.Stamp(path);
}

bool FileSystem::Exists(std::string_view path) {
  Result<EntryKind> kind = Lookup(path);
  return kind && *kind != EntryKind::kNone;
}

FileResult FileSystem::FolderNumber(std::string_view path, uint64_t* number) {
  FolderId id;
  FileResult found = IdentifyFolder(path, &id);
  if (found) *number = id.file;
  return found;
}

bool FileSystem::IsFolder(std::string_view path) {
  Result<EntryKind> kind = Lookup(path);
  return kind && *kind == EntryKind::kFolder;
}

Result<std::string> FileSystem::ReadFile(std::string_view path) {
  Result<std::unique_ptr<FileReader>> reader = OpenForReading(path);
  if (!reader) return reader.error();
  std::string bytes;
  // The room for the size it had when opened, at once: a large file then takes its size.
  if ((*reader)->size() < bytes.max_size()) bytes.reserve(static_cast<size_t>((*reader)->size()));
  FileResult read = (*reader)->ReadPieces([&](std::string_view piece) { bytes.append(piece); });
  if (!read) return read;
  return bytes;
}

FileResult FileSystem::ReadFileInPieces(std::string_view path,
                                        const std::function<void(std::string_view)>& sink) {
  Result<std::unique_ptr<FileReader>> reader = OpenForReading(path);
  if (!reader) return reader.error();
  return (*reader)->ReadPieces(sink);
}

FileResult FileSystem::ListFileStamps(std::string_view folder, std::vector<std::string>* files,
                                      std::vector<std::optional<FileStamp>>* stamps) {
  stamps->clear();
  if (FileResult listed = ListFiles(folder, files); !listed) return listed;
  std::string base(folder);
  if (!base.empty() && base.back() != '\\') base.push_back('\\');
  stamps->reserve(files->size());
  for (const std::string& name : *files) {
    Result<FileStamp> stamp = Stamp(base + name);
    stamps->push_back(stamp ? std::optional<FileStamp>(*stamp) : std::nullopt);
  }
  return FileResult::Ok();
}

}  // namespace kdr
