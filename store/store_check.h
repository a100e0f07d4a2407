#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/edition.h"
#include "core/log_text.h"
#include "core/work_paths.h"
#include "platform/file_system.h"
#include "store/manifest.h"
#include "store/verified_copy.h"

// The store's own check: the manifest written at the end of an edition's Collect, and the
// edition folder compared with it before Migrate uses it.
namespace kdr {

// Why a manifest could not be written; `path` (code page 932) is the file that could not be read.
struct ManifestWriteError {
  enum class Kind { kNone, kFolderUnlisted, kFileUnreadable, kNameNotCp932, kNotWritten };
  Kind kind = Kind::kNone;
  std::string path;
  std::string host_error;  // kFolderUnlisted: the call and the system's error, in English
};

// In English, for the log and --json: "cannot be read: C:\...".
LogText ManifestWriteErrorText(const ManifestWriteError& error);

// The edition folder's manifest says that Collect has begun writing into it: written before
// anything else, so that a Collect that never ends leaves an unfinished store. False with
// *error when it cannot be written.
bool MarkEditionBegun(FileSystem& files, const WorkPaths& paths, Edition edition,
                      std::string_view tool_version, std::string_view time,
                      ManifestWriteError* error);

// Seals the edition: writes `<edition folder>\kdr4tose.manifest` atomically for every file of
// the edition folder (settings file and data), taking digests from `known` where it has them,
// with what Collect could not take in `missed`. False with *error when a file cannot be read or
// the manifest cannot be written.
bool WriteEditionManifest(FileSystem& files, const WorkPaths& paths, Edition edition,
                          std::string_view tool_version, std::string_view time,
                          const DigestCache* known, const std::vector<ManifestMiss>& missed,
                          ManifestWriteError* error);

enum class StoreProblemKind { kMissing, kTruncated, kChanged, kUnreadable, kAdded, kNotAFile };

struct StoreProblem {
  std::string path;  // relative to the edition folder (code page 932)
  StoreProblemKind kind;
};

std::string_view ProblemText(StoreProblemKind kind);

// What a store's edition is, as every command names it.
enum class StoreState {
  kWhole,       // exactly what Collect sealed
  kIncomplete,  // Collect finished, but some files could not be collected
  kUnfinished,  // Collect began and never finished (interrupted)
  kChanged,     // files missing, changed or added since Collect sealed it
  kNoManifest,  // collected by a version without manifests: cannot be checked
};

// "whole", "incomplete", "unfinished", "changed", "no manifest".
std::string_view StoreStateName(StoreState state);

struct EditionCheck {
  bool has_manifest = false;
  std::string manifest_error;  // the manifest exists but cannot be used: why (and the line)
  // The same, for a front end to say in its own words.
  enum class ManifestTrouble { kNone, kUnreadable, kDamaged, kFolderUnlisted };
  ManifestTrouble manifest_trouble = ManifestTrouble::kNone;
  size_t manifest_line = 0;                                // kDamaged: the line
  ManifestDamage manifest_damage = ManifestDamage::kNone;  // kDamaged: what is wrong with it
  std::string manifest_damage_detail;
  FileResult manifest_failure;       // kFolderUnlisted, kUnreadable: the call and its error
  bool sealed = true;                // false: Collect began and never finished
  std::vector<ManifestMiss> missed;  // what Collect could not take
  size_t files_checked = 0;
  std::vector<StoreProblem> problems;
  // Work subfolders removed whole since Collect: their copies are skipped, as a folder the
  // user never had is.
  std::vector<std::string> skipped_folders;

  StoreState state() const;
  bool whole() const { return state() == StoreState::kWhole; }
  // Migrate may go on: whole, or a store from before manifests.
  bool usable() const { return whole() || state() == StoreState::kNoManifest; }
  size_t missing() const;
  size_t changed() const;  // changed, cut short, unreadable or no longer a plain file
  size_t added() const;
};

// What a check learns of the store files' stamps.
struct StoreStamps {
  // Each file found as listed, by full path: its stamp before it was read.
  std::unordered_map<std::string, FileStamp> found;
};

// A listed store file the check has only looked at: its full path and the manifest's digest.
struct UnreadStoreFile {
  std::string path;
  FileDigest digest;
};

// Compares the edition folder with its manifest: every listed file present with its size and
// hash, and nothing else but the manifest itself and system clutter. The digests of files found
// as listed go into `digests` (may be null) under their full paths. With `stamps` (may be null),
// the stamps of files found as listed are kept there. With `unread` (which needs `stamps`), a
// plain listed file of the manifest's size is taken only by its stamp, with the manifest's
// digest, and listed there: ReadStoreFiles must read it before the store is used (a caller that
// proves some of them by their stamps reads only the others).
EditionCheck CheckEdition(FileSystem& files, const WorkPaths& paths, Edition edition,
                          DigestCache* digests, StoreStamps* stamps = nullptr,
                          std::vector<UnreadStoreFile>* unread = nullptr);

// Reads the files CheckEdition left unread and adds to `check` what is wrong with them; those
// found as listed keep their digests and stamps, those that are not lose them.
void ReadStoreFiles(FileSystem& files, const std::vector<UnreadStoreFile>& unread,
                    const std::string& folder, EditionCheck* check, DigestCache* digests,
                    StoreStamps* stamps);

// Reads only the manifest's header: no manifest, unfinished, incomplete or (for a sealed one
// without misses) whole, without looking at the files. For a quick status.
StoreState ManifestState(FileSystem& files, const WorkPaths& paths, Edition edition);

}  // namespace kdr
