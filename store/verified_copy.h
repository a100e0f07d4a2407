#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "store/content_hash.h"

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
class SourceHasher : public CopyObserver {
 public:
  SourceHasher(DigestCache& cache, CopyObserver* next) : cache_(cache), next_(next) {}
  void FileCopied(std::string_view source_path, uint64_t bytes) override;
  void CopyFailed(std::string_view source_path, const FileResult& error) override;
  bool WantsFileBytes(std::string_view source_path) override;
  void FileBytes(std::string_view source_path, std::string_view piece) override;

 private:
  DigestCache& cache_;
  CopyObserver* next_;
  std::string current_;  // the file whose bytes `hasher_` holds; empty when none
  std::unique_ptr<ContentHasher> hasher_;
};

// Compares each file below folder `source` with the same relative path below `destination`
// (both end with a backslash). Returns the number of files whose copy differs, is missing or
// could not be read. A source whose digest `cache` (may be null) holds is not read again (its
// content was checked earlier, and the copy must match that); digests of good copies go into
// `cache` under their destination path.
size_t VerifyFolderCopy(FileSystem& files, std::string_view destination, std::string_view source,
                        DigestCache* cache, const CopyMismatch& mismatch);

}  // namespace kdr
