#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "store/content_hash.h"
#include "store/digest_worker.h"

// Reading a folder copy back: every file of the source compared by content with its copy.
namespace kdr {

// Digests already known, by full path (code page 932), so a file read for one check is not read
// again for the next (the manifest after a Collect reuses the copies' digests).
using DigestCache = std::unordered_map<std::string, FileDigest>;

// Called for each file whose copy is not the same as its source, with the source path and why.
using CopyMismatch = std::function<void(std::string_view source_path, std::string_view why)>;

// A file of a copy left whole: its path below both folders, and the stamps of it and its copy
// that proved it (none where the keeper took none).
struct WholeKeptFile {
  std::string name;
  CopyPairStamps known;
};

// Which files a copy may leave as they are, and which copies were found equal to their sources
// (so that a later run may leave them). Paths are full tool paths.
class CopyKeeper {
 public:
  virtual ~CopyKeeper() = default;
  // True when `destination` is not to be copied over from `source`: with *digest set, it is
  // proven to hold what `source` holds now and stays; with *refused set (a failure), it may
  // neither stay nor be replaced.
  // `known`: the stamps the copy took of both, when it had them.
  virtual bool Keeps(std::string_view source, std::string_view destination,
                     const CopyPairStamps& known, FileDigest* digest, FileResult* refused) = 0;
  // A copy read back equal to its source, with the stamps both had before they were read (the
  // source's is all zero when its digest came from elsewhere and it was not read here).
  virtual void Proven(std::string_view /*source*/, std::string_view /*destination*/,
                      const FileDigest& /*digest*/, const FileStamp& /*source_stamp*/,
                      const FileStamp& /*copy_stamp*/) {}
  // The files (relative paths) of the copy of folder `source` into `destination` when Keeps
  // keeps each of them and the copy would make nothing else: it need not be walked. Null when
  // the copy is to be made.
  virtual const std::vector<WholeKeptFile>* KeptWhole(std::string_view /*source*/,
                                                      std::string_view /*destination*/) {
    return nullptr;
  }
};

// Leaves out each file `keeper` keeps: told as kept (or as not copied, when the keeper refuses
// it), its digest in `cache` (may be null) under its destination, which the manifest and later
// runs ask for. (Nothing asks for a kept file's source after the copy: the check of the copies
// reads only what was copied.)
class KeepingObserver : public ForwardingCopyObserver {
 public:
  KeepingObserver(CopyKeeper& keeper, DigestCache* cache, CopyObserver* next)
      : ForwardingCopyObserver(next), keeper_(keeper), cache_(cache) {}
  bool KeepsExisting(std::string_view source_path, std::string_view destination_path,
                     const CopyPairStamps& known) override;

 private:
  CopyKeeper& keeper_;
  DigestCache* cache_;
};

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
// paths, for VerifyFolderCopy to take, and notes each file copied (copied()), the files
// VerifyFolderCopy checks. Passes each item on to `next` first. Copies found equal to their
// sources while the copy goes on are told to `keeper` (may be null) at once, so that a run
// stopped midway has them on record.
class ReadBackStarter : public ForwardingCopyObserver {
 public:
  ReadBackStarter(FileSystem& files, std::string_view destination, std::string_view source,
                  const DigestCache* cache, DigestWorker& worker, CopyObserver* next,
                  CopyKeeper* keeper = nullptr)
      : ForwardingCopyObserver(next),
        files_(files),
        destination_(destination),
        source_(source),
        cache_(cache),
        worker_(worker),
        keeper_(keeper) {}
  void FileCopied(std::string_view source_path, uint64_t bytes) override;
  // The files copied, relative to the source folder, in the order the copy told them.
  const std::vector<std::string>& copied() const { return copied_; }
  // Files told copied whose paths do not lie below the source folder.
  const std::vector<std::string>& outside() const { return outside_; }

 private:
  // Tells `keeper_` of the oldest copies whose read-back is done.
  void TellProven();

  FileSystem& files_;
  std::string destination_;
  std::string source_;
  const DigestCache* cache_;
  DigestWorker& worker_;
  CopyKeeper* keeper_;
  struct Pending {
    std::string from;
    std::string to;
    std::optional<FileDigest> known;  // the source's digest, when it was not read here
  };
  std::deque<Pending> pending_;
  std::vector<std::string> copied_;
  std::vector<std::string> outside_;
};

// Compares each file `names` (relative paths, below both folders) of folder `source` with the
// same relative path below `destination` (both end with a backslash): the files a copy told it
// copied. Files it kept were proven equal already and are not among them. Returns the number
// of files whose copy differs, is missing or could not be read. A source whose digest `cache`
// (may be null) holds is not read again (its content was checked earlier, and the copy must
// match that); digests of good copies go into `cache` under their destination path. Files
// `read_ahead` (may be null) holds are taken from there rather than read here, unless their
// stamp changed since. Good copies whose stamps are known are told to `keeper` (may be null).
size_t VerifyFolderCopy(FileSystem& files, std::string_view destination, std::string_view source,
                        const std::vector<std::string>& names, DigestCache* cache,
                        const CopyMismatch& mismatch, DigestWorker* read_ahead = nullptr,
                        CopyKeeper* keeper = nullptr);

}  // namespace kdr
