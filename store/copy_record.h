#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "core/edition.h"
#include "core/work_paths.h"
#include "platform/cp932.h"
#include "platform/file_system.h"
#include "store/verified_copy.h"

// What Collect proved of an edition's store: each file read back equal to its source, with the
// stamps both had when they were read. (Migrate keeps one of the same form for the files it
// placed in the data folders, by their full paths: MigrateRecordPath.) A later Collect leaves a
// store file as it is when both still have those stamps, so that collecting again (or going on
// after a Collect that was stopped) copies only what changed. Kept beside the edition folder, as
// `<work root>\<edition folder name>.copies`, so that the manifest and the store's check see
// nothing of it. Text, appended as files are proven:
//
//   kdr4tose-copies <TAB> 1
//   <hex of the store path, relative to the edition folder> <TAB> <size> <TAB> <hash>
//     <TAB> <source: modified, changed, id> <TAB> <store file: modified, changed, id>
//
// (one line a file; each stamp as three decimal fields). A line cut short or not understood is
// passed over: its file is copied again. A later line for a path replaces an earlier one.
namespace kdr {

std::string CopyRecordPath(const WorkPaths& paths, Edition edition);
// `<folder>\<edition folder name>.placed`: Migrate's record of the data files it placed, kept
// among the backups (kdr4env\backup, or the user's own backup folder), as Migrate writes
// nothing else in the work folder.
std::string MigrateRecordPath(std::string_view folder, Edition edition);

class CopyRecord : public CopyKeeper {
 public:
  CopyRecord(FileSystem& files, const WorkPaths& paths, Edition edition);
  // A record at `path` of copies anywhere, keyed by their full paths.
  CopyRecord(FileSystem& files, std::string path);

  // Reads the record the last run left, if any. False when there is none (or not one of ours).
  bool Load();

  // True when the record has `path` read equal to `digest` with the stamps its source and it
  // have now (`source_now`, `copy_now`, both with a change time): it still holds `digest`.
  bool Holds(std::string_view path, const FileStamp& source_now, const FileStamp& copy_now,
             const FileDigest& digest) const;

  // Where Flush and Rewrite write from now on (Rewrite then writes what was read too).
  void set_path(std::string path) {
    if (path != path_) changed_ = true;
    path_ = std::move(path);
  }

  // A store file stays when the source and the store file both still have the stamps they had
  // when they were read and found equal. A stamp holds the file's change time, which every
  // write of content, times or mode moves and no program can set back: the same size,
  // modification time, change time and file id mean neither was written since, so both still
  // hold the recorded content. Where the platform gives no change time, a program could write
  // a file and set its time back unseen: nothing is kept there. (What no write through the
  // file system does, a disk that damages a file, is found by `verify`, which reads every
  // store file, and by the read-back of each copy Migrate makes, against the manifest's hash.)
  bool Keeps(std::string_view source, std::string_view destination, const CopyPairStamps& known,
             FileDigest* digest, FileResult* refused) override;
  void Proven(std::string_view source, std::string_view destination, const FileDigest& digest,
              const FileStamp& source_stamp, const FileStamp& copy_stamp) override;
  // Where the platform's copy cannot leave single files: every file of the source that Keeps
  // keeps, with every folder of it in the store already.
  const std::vector<WholeKeptFile>* KeptWhole(std::string_view source,
                                              std::string_view destination) override;

  // Appends what was proven since the last write (on the disk when it returns).
  bool Flush();
  // Writes the record anew, one line a file, in place of what was appended; nothing when it
  // holds just what was read.
  bool Rewrite();

 private:
  struct Entry {
    FileDigest digest;
    FileStamp source;
    FileStamp copy;
    friend bool operator==(const Entry&, const Entry&) = default;
  };
  static std::string Line(const std::string& path, const Entry& entry);
  // The store path relative to the edition folder; empty when `path` is not below it.
  std::string Relative(std::string_view path) const;

  FileSystem& files_;
  std::string path_;
  std::string folder_;  // the edition folder, with a trailing backslash
  std::map<std::string, Entry, Cp932NoCaseLess> entries_;
  std::string pending_;
  std::vector<WholeKeptFile> whole_;  // the files of the last copy kept whole
  bool changed_ = false;  // the file differs from entries_ (lines added, or passed over)
  std::chrono::steady_clock::time_point last_flush_;
};

}  // namespace kdr
