#include "store/verified_copy.h"

#include <optional>
#include <vector>

namespace kdr {

bool SourceHasher::WantsFileBytes(std::string_view source_path) {
  return !cache_.contains(std::string(source_path));
}

void SourceHasher::FileBytes(std::string_view source_path, std::string_view piece) {
  if (current_ != source_path) {
    current_ = source_path;
    hasher_ = std::make_unique<ContentHasher>();
  }
  hasher_->Add(piece);
}

void SourceHasher::FileCopied(std::string_view source_path, uint64_t bytes) {
  // Only a file whose every byte was seen; any other is read when its copy is checked.
  if (hasher_ && current_ == source_path && hasher_->size() == bytes) {
    cache_[current_] = FileDigest{bytes, hasher_->Finish()};
  }
  current_.clear();
  hasher_.reset();
  if (next_) next_->FileCopied(source_path, bytes);
}

void SourceHasher::CopyFailed(std::string_view source_path, const FileResult& error) {
  current_.clear();
  hasher_.reset();
  if (next_) next_->CopyFailed(source_path, error);
}

size_t VerifyFolderCopy(FileSystem& files, std::string_view destination, std::string_view source,
                        DigestCache* cache, const CopyMismatch& mismatch) {
  std::vector<std::string> names;
  if (!files.ListFiles(source, &names)) {
    mismatch(source, "the source folder could not be listed to check the copy");
    return 1;
  }
  size_t bad = 0;
  for (const std::string& name : names) {
    std::string from = std::string(source) + name;
    std::string to = std::string(destination) + name;
    std::optional<FileDigest> original;
    if (cache) {
      auto known = cache->find(from);
      if (known != cache->end()) original = known->second;
    }
    if (!original) original = DigestFile(files, from);
    if (!original) {
      ++bad;
      mismatch(from, "the source could not be read to check the copy");
      continue;
    }
    std::optional<FileDigest> copy = DigestFile(files, to);
    if (!copy) {
      ++bad;
      mismatch(from, "the copy is missing or cannot be read");
    } else if (*copy != *original) {
      ++bad;
      mismatch(from, copy->size != original->size
                         ? "the copy has " + std::to_string(copy->size) + " bytes instead of " +
                               std::to_string(original->size)
                         : std::string("the copy's content differs from the source"));
    } else if (cache) {
      (*cache)[to] = *copy;
    }
  }
  return bad;
}

}  // namespace kdr
