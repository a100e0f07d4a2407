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
  ForwardingCopyObserver::FileCopied(source_path, bytes);
}

void SourceHasher::CopyFailed(std::string_view source_path, const FileResult& error) {
  current_.clear();
  hasher_.reset();
  ForwardingCopyObserver::CopyFailed(source_path, error);
}

void ReadBackStarter::FileCopied(std::string_view source_path, uint64_t bytes) {
  ForwardingCopyObserver::FileCopied(source_path, bytes);
  if (source_path.substr(0, source_.size()) != source_) return;
  // Each stamp before its open: a file replaced in between is then read again, not missed.
  auto start = [&](const std::string& path) {
    std::optional<FileStamp> stamp = files_.Stamp(path);
    worker_.Add(path, stamp, files_.OpenForReading(path));
  };
  std::string from(source_path);
  if (!cache_ || !cache_->contains(from)) start(from);
  start(destination_ + from.substr(source_.size()));
}

size_t VerifyFolderCopy(FileSystem& files, std::string_view destination, std::string_view source,
                        DigestCache* cache, const CopyMismatch& mismatch,
                        DigestWorker* read_ahead) {
  auto digest = [&](const std::string& path) {
    std::optional<FileDigest> taken;
    std::optional<FileStamp> stamp;
    // A file replaced since it was read ahead (by a later copy over it, or anyone) is read anew.
    if (read_ahead && read_ahead->Take(path, &taken, &stamp) && stamp == files.Stamp(path)) {
      return taken;
    }
    return DigestFile(files, path);
  };
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
    if (!original) original = digest(from);
    if (!original) {
      ++bad;
      mismatch(from, "the source could not be read to check the copy");
      continue;
    }
    std::optional<FileDigest> copy = digest(to);
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
