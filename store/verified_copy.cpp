#include "store/verified_copy.h"

#include <optional>
#include <vector>

#include "platform/cp932.h"

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

bool KeepingObserver::KeepsExisting(std::string_view source_path, std::string_view destination_path,
                                    const CopyPairStamps& known) {
  FileDigest digest;
  FileResult refused;
  if (!keeper_.Keeps(source_path, destination_path, known, &digest, &refused)) {
    return ForwardingCopyObserver::KeepsExisting(source_path, destination_path, known);
  }
  if (!refused.ok()) {
    ForwardingCopyObserver::CopyFailed(source_path, refused);
    return true;
  }
  if (cache_) (*cache_)[std::string(destination_path)] = digest;
  ForwardingCopyObserver::FileKept(source_path, digest.size);
  return true;
}

void ReadBackStarter::FileCopied(std::string_view source_path, uint64_t bytes) {
  ForwardingCopyObserver::FileCopied(source_path, bytes);
  // A file told outside the folder cannot be checked against its copy: it is named, so that
  // it counts as not copied rather than passing unchecked.
  if (!Cp932StartsWithNoCase(source_path, source_)) {
    outside_.emplace_back(source_path);
    return;
  }
  // The stamp of the very file opened, where the open gives it; otherwise one taken before an
  // open, so that a file replaced in between is read again, not missed.
  auto start = [&](const std::string& path) {
    Result<std::unique_ptr<FileReader>> reader = files_.OpenForReading(path);
    std::optional<FileStamp> stamp;
    if (reader && (*reader)->stamp()) {
      stamp = (*reader)->stamp();
    } else {
      // A failed open stays failed, with the stamp of the file it failed on, so that the check
      // takes its result rather than reading again.
      if (reader) reader->reset();  // closed before the stamp is taken
      stamp = files_.Stamp(path);
      if (reader) reader = files_.OpenForReading(path);
    }
    worker_.Add(path, stamp, reader ? std::move(*reader) : nullptr);
  };
  std::string from(source_path);
  copied_.push_back(from.substr(source_.size()));
  std::string to = destination_ + copied_.back();
  // A source whose digest is known is not read again; it has no stamp of this moment here,
  // and is told with none: a keeper that knows its stamp from where the digest came (a Migrate's,
  // from the store check) proves its copy now, rather than once the whole copy is checked.
  std::optional<FileDigest> known;
  if (cache_) {
    auto it = cache_->find(from);
    if (it != cache_->end()) known = it->second;
  }
  if (!known) start(from);
  start(to);
  if (keeper_) pending_.push_back(Pending{from, to, known});
  TellProven();
}

void ReadBackStarter::TellProven() {
  while (!pending_.empty()) {
    const Pending& pending = pending_.front();
    std::optional<FileDigest> source = pending.known, copy;
    std::optional<FileStamp> source_stamp, copy_stamp;
    if (pending.known) source_stamp = FileStamp{};
    if ((!pending.known && !worker_.Peek(pending.from, &source, &source_stamp)) ||
        !worker_.Peek(pending.to, &copy, &copy_stamp)) {
      return;
    }
    // The stamps were taken before the reads: a file written since no longer matches them.
    if (source && copy && *source == *copy && source_stamp && copy_stamp) {
      keeper_->Proven(pending.from, pending.to, *copy, *source_stamp, *copy_stamp);
    }
    pending_.pop_front();
  }
}

size_t VerifyFolderCopy(FileSystem& files, std::string_view destination, std::string_view source,
                        const std::vector<std::string>& names, DigestCache* cache,
                        const CopyMismatch& mismatch, DigestWorker* read_ahead,
                        CopyKeeper* keeper) {
  // *stamp: the file's before it was read (unknown when not asked for).
  auto digest = [&](const std::string& path,
                    std::optional<FileStamp>* stamp) -> std::optional<FileDigest> {
    std::optional<FileDigest> taken;
    std::optional<FileStamp> before;
    // A file replaced since it was read ahead (by a later copy over it, or anyone) is read anew.
    if (read_ahead && read_ahead->Take(path, &taken, &before) && before == files.Stamp(path)) {
      *stamp = before;
      return taken;
    }
    *stamp = keeper ? std::optional<FileStamp>(files.Stamp(path)) : std::nullopt;
    return DigestFile(files, path);
  };
  size_t bad = 0;
  for (const std::string& name : names) {
    std::string from = std::string(source) + name;
    std::string to = std::string(destination) + name;
    std::optional<FileDigest> original;
    std::optional<FileStamp> source_stamp;
    if (cache) {
      auto known = cache->find(from);
      if (known != cache->end()) original = known->second;
    }
    // A digest from the copy's own bytes has no stamp of its moment, but an empty file's
    // content is known from its size alone.
    if (original && keeper && original->size == 0) {
      source_stamp = files.Stamp(from);
      if (source_stamp && source_stamp->size != 0) source_stamp.reset();
    }
    if (!original) original = digest(from, &source_stamp);
    if (!original) {
      ++bad;
      mismatch(from, "the source could not be read to check the copy");
      continue;
    }
    std::optional<FileStamp> copy_stamp;
    std::optional<FileDigest> copy = digest(to, &copy_stamp);
    if (!copy) {
      ++bad;
      mismatch(from, "the copy is missing or cannot be read");
    } else if (*copy != *original) {
      ++bad;
      mismatch(from, copy->size != original->size
                         ? "the copy has " + std::to_string(copy->size) + " bytes instead of " +
                               std::to_string(original->size)
                         : std::string("the copy's content differs from the source"));
    } else {
      if (cache) (*cache)[to] = *copy;
      // A source whose digest was known (from a check) has no stamp here: the keeper knows it
      // from that check, or proves nothing.
      if (keeper && copy_stamp) {
        keeper->Proven(from, to, *copy, source_stamp.value_or(FileStamp{}), *copy_stamp);
      }
    }
  }
  return bad;
}

}  // namespace kdr
