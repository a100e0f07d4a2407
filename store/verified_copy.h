#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "store/content_hash.h"
#include "store/digest_worker.h"

// Reading a folder copy back: every file of the source compared by content with its copy.
namespace kdr {

// Digests already known, by full path (code page 932), so a file read for one check is not read
// again for the next (the manifest after a Collect reuses the copies' digests).
using DigestCache = std::map<std::string, FileDigest>;

// Called for each file whose copy is not the same as its source, with the source path and why.
using CopyMismatch = std::function<void(std::string_view source_path, std::string_view why)>;

// Passes each item of a copy on to `next` (may be null), and asks for the bytes of each file
// whose digest `cache` lacks, so that the source need not be read again to check its copy: the
// digest of a file copied whole goes into `cache` under its source path.
class SourceHasher : public ForwardingCopyObserver {
 public:
  SourceHasher(DigestCache& cache, CopyObserver* next)
      : ForwardingCopyObserver(next), cache_(cache) {}
  void FileCopied(std::string_view source_path, uint64_t bytes) override;
  void CopyFailed(std::string_view source_path, const FileResult& error) override;
  bool WantsFileBytes(std::string_view source_path) override;
  void FileBytes(std::string_view source_path, std::string_view piece) override;

 private:
  DigestCache& cache_;
  std::string current_;  // the file whose bytes `hasher_` holds; empty when none
  std::unique_ptr<ContentHasher> hasher_;
};

// Starts reading each copied file back as soon as the copy tells it is done: opens the copy
// (and the source, when `cache` lacks its digest) and hands them to `worker` under their full
// paths, for VerifyFolderCopy to take. Passes each item on to `next` first.
class ReadBackStarter : public ForwardingCopyObserver {
 public:
  ReadBackStarter(FileSystem& files, std::string_view destination, std::string_view source,
                  const DigestCache* cache, DigestWorker& worker, CopyObserver* next)
      : ForwardingCopyObserver(next),
        files_(files),
        destination_(destination),
        source_(source),
        cache_(cache),
        worker_(worker) {}
  void FileCopied(std::string_view source_path, uint64_t bytes) override;

 private:
  FileSystem& files_;
  std::string destination_;
  std::string source_;
  const DigestCache* cache_;
  DigestWorker& worker_;
};

// Compares each file below folder `source` with the same relative path below `destination`
// (both end with a backslash). Returns the number of files whose copy differs, is missing or
// could not be read. A source whose digest `cache` (may be null) holds is not read again (its
// content was checked earlier, and the copy must match that); digests of good copies go into
// `cache` under their destination path. Files `read_ahead` (may be null) holds are taken from
// there rather than read here, unless their stamp changed since.
size_t VerifyFolderCopy(FileSystem& files, std::string_view destination, std::string_view source,
                        DigestCache* cache, const CopyMismatch& mismatch,
                        DigestWorker* read_ahead = nullptr);

}  // namespace kdr
